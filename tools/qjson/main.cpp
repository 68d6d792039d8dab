// qjson: reads JSON text from a file or standard input and writes it back.
//
//   qjson [--pretty] [--sort-keys] [--fragment] [--quiet] [FILE|-]
//
// On success the text is written to standard output (compact unless --pretty) and the exit
// status is 0; --quiet only parses. On failure the error trace goes to standard error, one
// error a line as "CODE MESSAGE", innermost first, and the exit status is 1. Usage and file
// errors exit with status 2.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

#include "json/Json.h"

namespace {

const char* const kUsage =
    "usage: qjson [--pretty] [--sort-keys] [--fragment] [--quiet] [FILE|-]\n";

bool readAll(std::FILE* file, std::string& text) {
    char buffer[65536];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, count);
    return !std::ferror(file);
}

void printTrace(const quorbit::json::ErrorTrace& trace) {
    for (const auto& error : trace) {
        std::fprintf(stderr, "%u %s\n", error->code(), error->localizedDescription().c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool pretty = false, sortKeys = false, fragment = false, quiet = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
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

    std::string text;
    if (!path || std::strcmp(path, "-") == 0) {
        if (!readAll(stdin, text)) {
            std::fprintf(stderr, "qjson: cannot read standard input: %s\n", std::strerror(errno));
            return 2;
        }
    } else {
        std::FILE* file = std::fopen(path, "rb");
        if (!file) {
            std::fprintf(stderr, "qjson: cannot open %s: %s\n", path, std::strerror(errno));
            return 2;
        }
        bool ok = readAll(file, text);
        std::fclose(file);
        if (!ok) {
            std::fprintf(stderr, "qjson: cannot read %s: %s\n", path, std::strerror(errno));
            return 2;
        }
    }

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
    std::fwrite(output->data(), 1, output->size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 2;
}
