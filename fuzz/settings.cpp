// libFuzzer target for the settings store. The bytes are a settings file. Whatever it holds,
// loading never crashes; every member of an object is read; and what the store read it
// writes back so that a second load reads the same values again.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "json/JsonParser.h"
#include "platform/core/Log.h"
#include "platform/core/UserDefaults.h"

namespace {

namespace fs = std::filesystem;
using quorbit::platform::Log;
using quorbit::platform::UserDefaults;

void check(bool condition) {
    if (!condition) std::abort();
}

// A folder of its own, in memory where there is a tmpfs.
const fs::path& folder() {
    static const fs::path dir = [] {
        fs::path base =
            fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        fs::path made = base / ("quorbit-fuzz-settings-" + std::to_string(getpid()));
        fs::create_directories(made);
        Log::setSink([](Log::Level, const std::string&) {});
        std::atexit([] { fs::remove_all(folder()); });
        return made;
    }();
    return dir;
}

bool sameDouble(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

// Everything the store answers for key, in both stores alike.
void checkSame(const UserDefaults& a, const UserDefaults& b, const std::string& key) {
    check(a.contains(key) && b.contains(key));
    check(a.boolForKey(key) == b.boolForKey(key));
    check(a.integerForKey(key) == b.integerForKey(key));
    check(sameDouble(a.doubleForKey(key), b.doubleForKey(key)));
    check(a.stringForKey(key) == b.stringForKey(key));
    check(a.dateForKey(key) == b.dateForKey(key));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fs::path path = folder() / "defaults.json";
    for (const auto& entry : fs::directory_iterator(folder()))
        fs::remove(entry.path());
    std::string text(reinterpret_cast<const char*>(data), size);
    {
        FILE* file = std::fopen(path.c_str(), "wb");
        check(file && std::fwrite(text.data(), 1, text.size(), file) == text.size());
        std::fclose(file);
    }
    UserDefaults first(path);
    quorbit::json::JsonParser parser;
    parser.setOutOfRangeNumbersAsDoubles(true);
    auto root = parser.objectWithString(text);
    if (!root || !root->isObject()) {
        // Set aside, and nothing read.
        check(!fs::exists(path));
        return 0;
    }
    // A change makes the store write every value back.
    const std::string marker = "\x01written by the fuzzer";
    check(first.setString(marker, std::to_string(size)));
    UserDefaults second(path);
    for (const auto& member : root->members())
        checkSame(first, second, std::string(member.key()));
    checkSame(first, second, marker);
    return 0;
}
