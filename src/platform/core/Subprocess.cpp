#include "platform/core/Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace quorbit::platform {
namespace {

using Clock = std::chrono::steady_clock;

Error spawnError(const std::string& program, int errnum) {
    return Error::make(ProcessError::SpawnFailed,
                       "cannot run " + program + ": " + std::strerror(errnum), errnum);
}

Subprocess::Status statusOf(int wstatus) {
    Subprocess::Status status;
    if (WIFEXITED(wstatus)) status.exitCode = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) status.signal = WTERMSIG(wstatus);
    return status;
}

// The file actions and attributes of one spawn, released however it ends.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

Result<Subprocess> Subprocess::spawn(Options options) {
    if (options.argv.empty()) return spawnError("a program", EINVAL);
    const std::string& program = options.argv.front();
    SpawnSetup setup;

    // The child's ends of its pipes stay open here only until it has started.
    FileHandle childEnds[3];
    Subprocess child;
    FileHandle* parentEnds[3] = {&child._input, &child._output, &child._errors};
    const Stream streams[3] = {options.input, options.output, options.errors};
    for (int fd = 0; fd < 3; ++fd) {
        switch (streams[fd]) {
            case Stream::Inherit:
                break;
            case Stream::Null:
                posix_spawn_file_actions_addopen(&setup.actions, fd, "/dev/null",
                                                 fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
                break;
            case Stream::Pipe: {
                auto pipe = makePipe(O_CLOEXEC);
                if (!pipe) return spawnError(program, pipe.error().systemError());
                bool childReads = fd == STDIN_FILENO;
                childEnds[fd] = std::move(childReads ? pipe->read : pipe->write);
                *parentEnds[fd] = std::move(childReads ? pipe->write : pipe->read);
                posix_spawn_file_actions_adddup2(&setup.actions, childEnds[fd].fd(), fd);
                break;
            }
        }
    }
    if (!options.workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&setup.actions, options.workingDirectory.c_str());

    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&setup.attributes, &all);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> args;
    for (std::string& arg : options.argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    std::vector<char*> env;
    if (options.environment) {
        for (std::string& entry : *options.environment)
            env.push_back(entry.data());
        env.push_back(nullptr);
    }
    pid_t pid = -1;
    int failed = posix_spawnp(&pid, args[0], &setup.actions, &setup.attributes, args.data(),
                              options.environment ? env.data() : environ);
    if (failed != 0) return spawnError(program, failed);
    child._pid = pid;
    return child;
}

Subprocess::Subprocess(Subprocess&& other) noexcept
    : _pid(std::exchange(other._pid, -1)),
      _status(other._status),
      _input(std::move(other._input)),
      _output(std::move(other._output)),
      _errors(std::move(other._errors)) {}

Subprocess& Subprocess::operator=(Subprocess&& other) noexcept {
    if (this != &other) {
        finish();
        _pid = std::exchange(other._pid, -1);
        _status = other._status;
        _input = std::move(other._input);
        _output = std::move(other._output);
        _errors = std::move(other._errors);
    }
    return *this;
}

Subprocess::~Subprocess() {
    finish();
}

void Subprocess::finish() {
    if (_pid < 0 || _status) return;
    kill(SIGKILL);
    (void)wait();
}

std::optional<Subprocess::Status> Subprocess::wait(std::optional<Duration> timeout) {
    if (_status || _pid < 0) return _status;
    auto end = timeout ? Clock::now() + *timeout : Clock::time_point::max();
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        int wstatus = 0;
        pid_t done = ::waitpid(_pid, &wstatus, timeout ? WNOHANG : 0);
        if (done == _pid) {
            _status = statusOf(wstatus);
            return _status;
        }
        if (done < 0 && errno != EINTR) {
            // Reaped by someone else (a SIGCHLD handler that waits for any child): it has
            // ended, how is not known.
            _status = Status{};
            return _status;
        }
        if (done < 0) continue;
        auto now = Clock::now();
        if (now >= end) return std::nullopt;
        std::this_thread::sleep_for(std::min<Duration>(pause, end - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

void Subprocess::kill(int signal) {
    if (_pid >= 0 && !_status) ::kill(_pid, signal);
}

void Subprocess::detach() {
    if (_pid < 0 || _status) return;
    std::thread([pid = _pid] {
        int wstatus = 0;
        while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    _pid = -1;
}

Result<std::string> Subprocess::readOutput(std::size_t maxBytes, Clock::time_point deadline) {
    std::string text;
    if (!_output) return text;
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return Error::make(ProcessError::TimedOut, "the program's output did not end in time");
        pollfd fd{_output.fd(), POLLIN, 0};
        int ready = ::poll(&fd, 1, static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0)
            return Error::make(ProcessError::ReadFailed, "cannot read the program's output", errno);
        if (ready == 0) continue;  // the deadline is looked at again above
        char chunk[4096];
        ssize_t n = ::read(_output.fd(), chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0)
            return Error::make(ProcessError::ReadFailed, "cannot read the program's output", errno);
        if (n == 0) return text;
        text.append(chunk, std::min(static_cast<std::size_t>(n), maxBytes - text.size()));
    }
}

Result<ProcessOutput> runCapturingOutput(Subprocess::Options options, Subprocess::Duration timeout,
                                         std::size_t maxOutput) {
    auto deadline = Clock::now() + timeout;
    std::string program = options.argv.empty() ? std::string() : options.argv.front();
    options.input = Subprocess::Stream::Null;
    options.output = Subprocess::Stream::Pipe;
    auto child = Subprocess::spawn(std::move(options));
    if (!child) return child.error();
    auto output = child->readOutput(maxOutput, deadline);
    if (!output) return output.error();  // the child is killed and reaped as it goes
    // The output has ended; the program exits right after, as a rule.
    auto status = child->wait(std::max<Subprocess::Duration>(deadline - Clock::now(), {}));
    if (!status) return Error::make(ProcessError::TimedOut, program + " did not finish in time");
    return ProcessOutput{*status, std::move(output).value()};
}

}  // namespace quorbit::platform
