#pragma once

#include <dlfcn.h>
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
#include <string>
#include <thread>
#include <vector>

#include "support/Scratch.h"

// Runs the quorbit program of the same build as a child process, for the tests of its
// command line, exit statuses and messages.
namespace quorbit::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Built with AddressSanitizer (GCC's and Clang's runtimes both export this symbol).
inline const bool kSanitized = dlsym(RTLD_DEFAULT, "__asan_init") != nullptr;

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
        _saved.try_emplace(name, old ? std::optional<std::string>(old) : std::nullopt);
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
    return {std::istreambuf_iterator<char>(in), {}};
}

// Every member has a default, so that a test names only what it changes ({.limit = 90s}).
struct RunOptions {
    std::chrono::seconds limit = 60s;  // killed after this
    rlim_t addressSpace = 0;           // non-zero: the memory it may map
    ScopedEnv::Values env = {};        // variables set, or removed where the value is nullopt
    fs::path cwd = {};                 // empty: the test's own
    // Sent once, when `signalWhen` (a line of its standard error) has appeared.
    int signal = 0;
    std::string signalWhen = {};
};

struct Outcome {
    int status = -1;  // exit status, or -1 when killed
    std::string out, err;
    long peakKiB = 0;                           // the largest resident size the process reached
    std::chrono::milliseconds afterSignal{-1};  // from the signal to the end; -1: none sent
};

// Runs the application with `args`; its standard output and error pass through files in dir.
inline Outcome runQuorbit(const std::vector<std::string>& args, const fs::path& dir,
                          const RunOptions& options = {}) {
    fs::path errPath = dir / "stderr", outPath = dir / "stdout";
    pid_t child = fork();
    if (child == 0) {
        rlimit cap{options.addressSpace, options.addressSpace};
        if (options.addressSpace) setrlimit(RLIMIT_AS, &cap);
        ScopedEnv env(options.env);  // never put back: the child execs or exits
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
        dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        dup2(open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        std::vector<char*> argv{const_cast<char*>("quorbit")};
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(quorbitPath().c_str(), argv.data());
        _exit(127);
    }
    auto now = std::chrono::steady_clock::now(), deadline = now + options.limit;
    std::optional<std::chrono::steady_clock::time_point> signalled;
    int status = 0;
    rusage usage{};
    for (; wait4(child, &status, WNOHANG, &usage) == 0; std::this_thread::sleep_for(10ms)) {
        now = std::chrono::steady_clock::now();
        if (now > deadline) kill(child, SIGKILL);  // reaped on a later turn
        if (options.signal && !signalled &&
            slurp(errPath).find(options.signalWhen) != std::string::npos) {
            signalled = now;
            kill(child, options.signal);
        }
    }
    auto afterSignal = std::chrono::duration_cast<std::chrono::milliseconds>(
        signalled ? std::chrono::steady_clock::now() - *signalled : -1ms);
    Outcome outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(outPath), slurp(errPath),
                    usage.ru_maxrss, afterSignal};
    fs::remove(errPath);
    fs::remove(outPath);
    return outcome;
}

// A test with a scratch folder of its own, skipped where the quorbit program is not built.
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
        for (const auto& entry : fs::directory_iterator(dir))
            if (!known.count(entry.path().filename())) names.insert(entry.path().filename());
        return names;
    }
    ScratchDir scratch;
    fs::path dir;
};

}  // namespace quorbit::testing
