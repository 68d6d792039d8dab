#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/FileHandle.h"

namespace quorbit::platform {

inline constexpr const char* kProcessErrorDomain = "quorbit.process";
enum class ProcessError : long {
    SpawnFailed = 1,  // no such program, no permission, no pipe
    TimedOut = 2,     // still running when its time was up (it has been killed)
    ReadFailed = 3,   // its output could not be read
};
constexpr const char* errorDomain(ProcessError) {
    return kProcessErrorDomain;
}

// Another program the application runs: started with an argument vector (the program looked
// up in PATH), optionally its own environment and working folder, and each of its standard
// streams inherited, connected to /dev/null or to a pipe the owner holds. The child starts
// with the default handling of every signal and none blocked, whatever the application set.
//
// The owner reaps the child: wait() does, and an owner that goes while the child still runs
// kills it (SIGKILL) and reaps it, so that no child is left as a zombie. A child meant to run
// on by itself (a browser, a mail composer) is handed to detach().
class Subprocess {
  public:
    using Duration = std::chrono::steady_clock::duration;

    enum class Stream { Inherit, Null, Pipe };
    struct Options {
        std::vector<std::string> argv;
        // "NAME=value" entries for the child; the application's own environment when empty.
        std::optional<std::vector<std::string>> environment;
        // Where the child starts; the application's working folder when empty.
        std::filesystem::path workingDirectory;
        Stream input = Stream::Null;
        Stream output = Stream::Inherit;
        Stream errors = Stream::Inherit;
    };

    // How a child ended: its exit code, or the signal that ended it.
    struct Status {
        int exitCode = -1;  // -1 when a signal ended it
        int signal = 0;
        bool succeeded() const { return signal == 0 && exitCode == 0; }
    };

    static Result<Subprocess> spawn(Options options);

    Subprocess(Subprocess&& other) noexcept;
    Subprocess& operator=(Subprocess&& other) noexcept;
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;
    ~Subprocess();

    pid_t pid() const { return _pid; }
    // The parent's ends of the pipes asked for (the write end of the child's standard input,
    // the read ends of its output and errors); empty handles for the streams not piped.
    // Closing input() gives the child the end of its input.
    FileHandle& input() { return _input; }
    FileHandle& output() { return _output; }
    FileHandle& errors() { return _errors; }

    // Waits for the child to end, at most timeout (for ever when empty), and reaps it. Empty
    // when it still runs after the timeout. Once reaped, the status is kept and answered again.
    std::optional<Status> wait(std::optional<Duration> timeout = std::nullopt);
    // Sends signal to the child, unless it has been reaped (its pid may be another's then).
    void kill(int signal);
    // Leaves the child running on its own: a thread of its own reaps it when it ends. The
    // owner holds no child afterwards; the pipes stay with it.
    void detach();

    // Everything the child writes to its piped standard output until it closes it, keeping
    // at most maxBytes (the rest is read and dropped so that the child never blocks), or
    // TimedOut when the output has not ended by deadline.
    Result<std::string> readOutput(std::size_t maxBytes,
                                   std::chrono::steady_clock::time_point deadline);

  private:
    Subprocess() = default;
    void finish();

    pid_t _pid = -1;
    std::optional<Status> _status;
    FileHandle _input, _output, _errors;
};

// Runs a program to its end with its standard output captured (its input from /dev/null, its
// errors as options say): the output (at most maxOutput bytes) and how it ended. A program
// still running after timeout is killed, and TimedOut answered.
struct ProcessOutput {
    Subprocess::Status status;
    std::string output;
};
Result<ProcessOutput> runCapturingOutput(Subprocess::Options options, Subprocess::Duration timeout,
                                         std::size_t maxOutput);

}  // namespace quorbit::platform
