#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <tuple>

#include "platform/core/Subprocess.h"

namespace quorbit::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Subprocess::Options shell(const std::string& script) {
    Subprocess::Options options;
    options.argv = {"/bin/sh", "-c", script};
    return options;
}

// Whether pid names no process at all any more: neither running nor left as a zombie.
bool gone(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

TEST(Subprocess, ReportsHowTheChildEnded) {
    struct Case {
        const char* script;
        int exitCode, signal;
    } cases[] = {{"exit 0", 0, 0}, {"exit 3", 3, 0}, {"kill -TERM $$", -1, SIGTERM}};
    for (const Case& c : cases) {
        auto child = Subprocess::spawn(shell(c.script));
        ASSERT_TRUE(child) << c.script;
        auto status = child->wait(5s);
        ASSERT_TRUE(status) << c.script;
        EXPECT_EQ(std::tuple(status->exitCode, status->signal, status->succeeded()),
                  std::tuple(c.exitCode, c.signal, c.exitCode == 0))
            << c.script;
    }
    Subprocess::Options nowhere;
    nowhere.argv = {"/nonexistent/quorbit-no-such-program"};
    auto missing = Subprocess::spawn(std::move(nowhere));
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().is(ProcessError::SpawnFailed));
}

TEST(Subprocess, PipesEnvironmentAndWorkingFolder) {
    Subprocess::Options options =
        shell("read line; printf '%s|%s|%s' \"$line\" \"$GREETING\" \"$PWD\"; echo oops >&2");
    options.environment = std::vector<std::string>{"GREETING=hello", "PATH=/usr/bin:/bin"};
    options.workingDirectory = "/";
    options.input = options.output = options.errors = Subprocess::Stream::Pipe;
    auto child = Subprocess::spawn(std::move(options));
    ASSERT_TRUE(child);
    ASSERT_EQ(::write(child->input().fd(), "typed\n", 6), 6);
    child->input().reset();
    auto output = child->readOutput(1024, Clock::now() + 5s);
    ASSERT_TRUE(output) << output.error().localizedDescription();
    EXPECT_EQ(*output, "typed|hello|/");
    char errors[16] = {};
    EXPECT_EQ(::read(child->errors().fd(), errors, sizeof errors - 1), 5);
    EXPECT_STREQ(errors, "oops\n");
    EXPECT_TRUE(child->wait(5s).value_or(Subprocess::Status{}).succeeded());

    auto capped = runCapturingOutput(shell("echo 0123456789"), 5s, 4);
    ASSERT_TRUE(capped);
    EXPECT_EQ(capped->output, "0123");
}

TEST(Subprocess, TimesOutKillsAndReaps) {
    auto start = Clock::now();
    auto child = Subprocess::spawn(shell("exec sleep 30"));
    ASSERT_TRUE(child);
    EXPECT_FALSE(child->wait(50ms));
    child->kill(SIGKILL);
    auto status = child->wait(5s);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->signal, SIGKILL);

    auto late = runCapturingOutput(shell("exec sleep 30"), 100ms, 1024);
    ASSERT_FALSE(late);
    EXPECT_TRUE(late.error().is(ProcessError::TimedOut));
    EXPECT_LT(Clock::now() - start, 10s);

    // A child whose owner goes is killed and reaped; a detached one is reaped when it ends.
    pid_t running;
    {
        auto child = Subprocess::spawn(shell("exec sleep 30"));
        ASSERT_TRUE(child);
        running = child->pid();
    }
    EXPECT_TRUE(gone(running));  // no zombie left

    pid_t detached;
    {
        auto child = Subprocess::spawn(shell("sleep 0.1"));
        ASSERT_TRUE(child);
        detached = child->pid();
        child->detach();
    }
    EXPECT_FALSE(gone(detached));  // left running
    auto end = Clock::now() + 10s;
    while (!gone(detached) && Clock::now() < end)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(gone(detached));  // and reaped when it ended
}

}  // namespace
}  // namespace quorbit::platform
