#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/Scratch.h"

// Runs the quorbit program of the same build as a child process, for the tests of its
// command line, exit statuses and messages.
namespace quorbit::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// Environment variables set (or removed, for nothing) until the object goes, then put back.
class ScopedEnv {
  public:
    using Values = std::vector<std::pair<std::string, std::optional<std::string>>>;
    explicit ScopedEnv(const Values& values = {}) {
        for (const auto& [name, value] : values)
            set(name, value);
    }
    ~ScopedEnv() {
        for (const auto& [name, value] : _saved)
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }
    void set(const std::string& name, const std::optional<std::string>& value) {
        const char* old = std::getenv(name.c_str());
        if (!_saved.count(name))
            _saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
        value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }

  private:
    std::map<std::string, std::optional<std::string>> _saved;
};

// The application of the same build.
inline fs::path quorbitPath() {
    return QUORBIT_BINARY;
}

inline std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct RunOptions {
    std::chrono::seconds limit = 60s;  // killed after this
    rlim_t addressSpace = 0;           // non-zero: the memory it may map
    // Environment changes: a variable set to a value, or removed when the value is empty.
    std::vector<std::pair<std::string, std::optional<std::string>>> env;
    fs::path cwd;  // empty: the test's own
    // Sent once, when `signalWhen` (a line of its standard error) has appeared.
    int signal = 0;
    std::string signalWhen;
};

struct Outcome {
    int status = -1;  // exit status, or -1 when killed
    std::string out, err;
    long peakKiB = 0;  // the largest resident size the process reached
    // From the signal to the end of the process.
    std::chrono::milliseconds afterSignal{-1};
};

// Runs the application with `args`; its standard output and error pass through files in dir.
inline Outcome runQuorbit(const std::vector<std::string>& args, const fs::path& dir,
                          const RunOptions& options = {}) {
    fs::path errPath = dir / "stderr", outPath = dir / "stdout";
    pid_t child = fork();
    if (child == 0) {
        if (options.addressSpace) {
            rlimit cap{options.addressSpace, options.addressSpace};
            setrlimit(RLIMIT_AS, &cap);
        }
        for (const auto& [name, value] : options.env) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(err, 2);
        dup2(out, 1);
        std::vector<char*> argv{const_cast<char*>("quorbit")};
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(quorbitPath().c_str(), argv.data());
        _exit(127);
    }
    Outcome outcome;
    auto deadline = std::chrono::steady_clock::now() + options.limit;
    std::optional<std::chrono::steady_clock::time_point> signalled;
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, WNOHANG, &usage) == 0) {
        auto now = std::chrono::steady_clock::now();
        if (now > deadline) {
            kill(child, SIGKILL);
            wait4(child, &status, 0, &usage);
            break;
        }
        if (options.signal && !signalled &&
            slurp(errPath).find(options.signalWhen) != std::string::npos) {
            signalled = now;
            kill(child, options.signal);
        }
        std::this_thread::sleep_for(10ms);
    }
    if (signalled) {
        outcome.afterSignal = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - *signalled);
    }
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.err = slurp(errPath);
    outcome.out = slurp(outPath);
    outcome.peakKiB = usage.ru_maxrss;
    fs::remove(errPath);
    fs::remove(outPath);
    return outcome;
}

// A test with a scratch folder of its own (removed afterwards), skipped where the quorbit
// program has not been built.
class ScratchFolderTest : public ::testing::Test {
  protected:
    explicit ScratchFolderTest(std::string prefix) : scratch(prefix), dir(scratch.path()) {}
    void SetUp() override {
        if (!fs::exists(quorbitPath())) GTEST_SKIP() << "quorbit is not built beside the tests";
    }
    // Writes bytes to the file name in dir; its path.
    std::string file(const std::string& name, const std::string& bytes) {
        return scratch.write(name, bytes).string();
    }
    // The names in dir, links included, apart from the given ones.
    std::set<std::string> namesBut(const std::set<std::string>& known) {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) {
            std::string name = entry.path().filename().string();
            if (!known.count(name)) names.insert(name);
        }
        return names;
    }
    ScratchDir scratch;
    fs::path dir;
};

}  // namespace quorbit::testing
