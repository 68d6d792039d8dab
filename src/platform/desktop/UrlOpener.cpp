#include "platform/desktop/UrlOpener.h"

#include <cctype>
#include <cstdlib>

#include "platform/core/Log.h"
#include "platform/core/Subprocess.h"
#include "platform/core/Text.h"

namespace quorbit::platform {
namespace {

constexpr auto kQueryWait = std::chrono::seconds(5);
constexpr size_t kMaxQueryOutput = 4096;

}  // namespace

UrlOpener& UrlOpener::shared() {
    static UrlOpener* opener = new UrlOpener(commandsFromEnvironment());
    return *opener;
}

UrlOpener::Commands UrlOpener::commandsFromEnvironment() {
    Commands commands;
    const char* custom = std::getenv("QUORBIT_URL_OPENER");
    if (custom && *custom) {
        commands.open = {"/bin/sh", "-c", std::string(custom) + " \"$1\"", "quorbit-url-opener"};
        commands.handlerQuery.clear();
    }
    return commands;
}

UrlOpener::UrlOpener() : UrlOpener(Commands{}) {}

UrlOpener::UrlOpener(Commands commands) : _commands(std::move(commands)) {}

UrlOpener::Commands UrlOpener::commands() const {
    std::lock_guard lock(_mutex);
    return _commands;
}

void UrlOpener::setCommands(Commands commands) {
    std::lock_guard lock(_mutex);
    _commands = std::move(commands);
}

std::optional<std::string> UrlOpener::schemeOf(const std::string& url) {
    size_t colon = url.find(':');
    if (colon == 0 || colon == std::string::npos) return std::nullopt;
    if (!std::isalpha(static_cast<unsigned char>(url[0]))) return std::nullopt;
    std::string scheme;
    for (size_t i = 0; i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(url[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
        scheme += static_cast<char>(c);
    }
    return lower(scheme);
}

std::string UrlOpener::handlerForScheme(const std::string& scheme) {
    Commands commands = this->commands();
    if (commands.handlerQuery.empty()) return {};
    Subprocess::Options query;
    query.argv = commands.handlerQuery;
    query.argv.push_back("x-scheme-handler/" + scheme);
    auto answer = runCapturingOutput(std::move(query), kQueryWait, kMaxQueryOutput);
    if (!answer) {
        Log::warn(answer.error().is(ProcessError::TimedOut)
                      ? "the handler query for " + scheme + " did not finish"
                      : answer.error().localizedDescription());
        return {};
    }
    return answer->status.succeeded() ? trim(answer->output) : std::string();
}

bool UrlOpener::openURL(const std::string& url) {
    std::optional<std::string> scheme = schemeOf(url);
    if (!scheme) {
        Log::info("not opening a URL that has no scheme");
        return false;
    }
    Commands commands = this->commands();
    bool web = *scheme == "http" || *scheme == "https";
    if (!commands.handlerQuery.empty() && !web && handlerForScheme(*scheme).empty()) {
        Log::info("no application handles " + *scheme + ": URLs");
        return false;
    }
    Subprocess::Options opener;
    opener.argv = commands.open;
    opener.argv.push_back(url);
    std::string program = opener.argv.front();
    auto child = Subprocess::spawn(std::move(opener));
    if (!child) {
        Log::warn(child.error().localizedDescription());
        return false;
    }
    std::optional<Subprocess::Status> status = child->wait(commands.launchWait);
    if (!status) {
        child->detach();  // a browser in the foreground: opened, and reaped when it ends
        return true;
    }
    if (!status->succeeded()) {
        Log::info(format("%s could not open a %s: URL (exit status %d)", program.c_str(),
                         scheme->c_str(),
                         status->signal ? 128 + status->signal : status->exitCode));
    }
    return status->succeeded();
}

}  // namespace quorbit::platform
