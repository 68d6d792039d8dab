// qjson: reads JSON text from a file or standard input and writes it back.
//
//   qjson [--pretty] [--sort-keys] [--fragment] [--quiet] [FILE|-]
//
// On success the text is written to standard output (compact unless --pretty) and the exit
// status is 0; --quiet only parses. On failure the error trace goes to standard error, one
// error a line as "LINE:COLUMN: CODE MESSAGE" (where the text failed to parse; columns count
// characters, see TextPosition) or "CODE MESSAGE" (an error of writing), innermost first,
// and the exit status is 1; so is output
// that could not be written (a full disk, a closed pipe), with a message. Usage errors (an
// unknown or repeated option) and input errors exit with status 2: FILE must be a regular
// file, and the input holds at most kMaxInputBytes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "json/Json.h"
#include "platform/core/Files.h"

namespace {

const char* const kUsage =
    "usage: qjson [--pretty] [--sort-keys] [--fragment] [--quiet] [FILE|-]\n";

constexpr std::uint64_t kMaxInputBytes = std::uint64_t(256) << 20;

// Writes all of text to standard output and flushes it; false (errno set) when any of it
// could not be written. A write that fails part of the way leaves the stream's error flag
// set even when the final flush has nothing left to write, so the flag is what tells.
bool writeAll(const std::string& text) {
    errno = 0;
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return !std::ferror(stdout);
}

void printTrace(const quorbit::json::ErrorTrace& trace) {
    for (const auto& error : trace) {
        if (const auto& at = error->position()) {
            std::fprintf(stderr, "%zu:%zu: ", at->line, at->column);
        }
        std::fprintf(stderr, "%u %s\n", error->code(), error->localizedDescription().c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool pretty = false, sortKeys = false, fragment = false, quiet = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        // Each option may be given once.
        for (int j = 1; j < i; ++j) {
            if (arg.size() > 2 && arg.rfind("--", 0) == 0 && arg == argv[j]) {
                std::fprintf(stderr, "qjson: %s is given more than once\n%s", arg.c_str(), kUsage);
                return 2;
            }
        }
        if (arg == "--pretty") {
            pretty = true;
        } else if (arg == "--sort-keys") {
            sortKeys = true;
        } else if (arg == "--fragment") {
            fragment = true;
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if ((arg.size() > 1 && arg[0] == '-') || path) {
            std::fputs(kUsage, stderr);
            return 2;
        } else {
            path = argv[i];
        }
    }

    namespace platform = quorbit::platform;
    bool fromStdin = !path || std::strcmp(path, "-") == 0;
    auto input = fromStdin ? platform::readStandardInput(kMaxInputBytes)
                           : platform::readRegularFile(path, kMaxInputBytes);
    if (!input) {
        std::fprintf(stderr, "qjson: %s\n", input.error().localizedDescription().c_str());
        return 2;
    }
    std::string text = std::move(input).value();

    quorbit::json::Json json;
    json.setHumanReadable(pretty);
    json.setSortKeys(sortKeys);
    std::optional<quorbit::json::Value> value = json.objectWithString(text, fragment, nullptr);
    if (!value) {
        printTrace(json.errorTrace());
        return 1;
    }
    if (quiet) return 0;
    std::optional<std::string> output = json.stringWithObject(*value, fragment, nullptr);
    if (!output) {
        printTrace(json.errorTrace());
        return 1;
    }
    output->push_back('\n');
    if (!writeAll(*output)) {
        std::fprintf(stderr, "qjson: cannot write the output: %s\n",
                     errno ? std::strerror(errno) : "write error");
        return 1;
    }
    return 0;
}
