#include "platform/desktop/UrlOpener.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/core/Log.h"

extern char** environ;

namespace quorbit::platform {
namespace {

constexpr auto kQueryWait = std::chrono::seconds(5);
constexpr size_t kMaxQueryOutput = 4096;

struct Spawned {
    pid_t pid = -1;
    int output = -1;  // read end of the child's standard output, when captured
};

// Starts argv with standard input from /dev/null and, with capture, standard output into
// a pipe; standard error stays the application's.
Spawned spawn(const std::vector<std::string>& argv, bool capture) {
    Spawned result;
    if (argv.empty()) return result;
    int pipeFds[2] = {-1, -1};
    if (capture && pipe2(pipeFds, O_CLOEXEC) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (capture) posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The child starts with default signal handling, whatever the application changed.
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attributes, &all);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int status = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (capture) close(pipeFds[1]);
    if (status != 0) {
        Log::warn(format("cannot run %s: %s", argv[0].c_str(), std::strerror(status)));
        if (capture) close(pipeFds[0]);
        return result;
    }
    result.pid = pid;
    result.output = capture ? pipeFds[0] : -1;
    return result;
}

// Waits for pid to exit, at most wait. Returns its exit status, or empty when it is still
// running (or was already reaped elsewhere).
std::optional<int> waitFor(pid_t pid, std::chrono::milliseconds wait) {
    auto end = std::chrono::steady_clock::now() + wait;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        if (done < 0 && errno != EINTR) return std::nullopt;
        if (std::chrono::steady_clock::now() >= end) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Reaps a child that is left running.
void reapLater(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

std::string trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

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
        scheme += static_cast<char>(std::tolower(c));
    }
    return scheme;
}

std::string UrlOpener::handlerForScheme(const std::string& scheme) {
    Commands commands = this->commands();
    if (commands.handlerQuery.empty()) return {};
    std::vector<std::string> argv = commands.handlerQuery;
    argv.push_back("x-scheme-handler/" + scheme);
    Spawned child = spawn(argv, true);
    if (child.pid < 0) return {};
    std::string output;
    auto end = std::chrono::steady_clock::now() + kQueryWait;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd fd{child.output, POLLIN, 0};
        int ready = poll(&fd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buffer[512];
        ssize_t got = read(child.output, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (output.size() < kMaxQueryOutput) output.append(buffer, static_cast<size_t>(got));
    }
    close(child.output);
    // The output has ended; the query exits right after.
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    std::optional<int> status =
        waitFor(child.pid, std::max(left, std::chrono::milliseconds(0)));
    if (!status) {
        kill(child.pid, SIGKILL);
        reapLater(child.pid);
        Log::warn("the handler query for " + scheme + " did not finish");
        return {};
    }
    return *status == 0 ? trim(output) : std::string();
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
    std::vector<std::string> argv = commands.open;
    argv.push_back(url);
    Spawned child = spawn(argv, false);
    if (child.pid < 0) return false;
    std::optional<int> status = waitFor(child.pid, commands.launchWait);
    if (!status) {
        reapLater(child.pid);
        return true;
    }
    if (*status != 0) {
        Log::info(format("%s could not open a %s: URL (exit status %d)", argv[0].c_str(),
                         scheme->c_str(), *status));
    }
    return *status == 0;
}

}  // namespace quorbit::platform
