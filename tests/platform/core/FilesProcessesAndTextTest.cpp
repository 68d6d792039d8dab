// Files read and written safely, file descriptors' owner, child processes, and the text and
// command-line helpers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "platform/core/CommandLineParser.h"
#include "platform/core/FileHandle.h"
#include "platform/core/Files.h"
#include "platform/core/Subprocess.h"
#include "platform/core/Text.h"
#include "support/Scratch.h"

namespace quorbit::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace fs = std::filesystem;
using testing::ScratchDir;

// Bytes whose every 4099th names its place, so that a read that drops or repeats a piece shows.
std::string marked(std::size_t size) {
    std::string bytes(size, 'x');
    for (std::size_t i = 0; i < bytes.size(); i += 4099)
        bytes[i] = char('a' + i % 26);
    return bytes;
}

// The bytes read through a pipe, which has no size to check beforehand.
Result<std::string> throughPipe(const std::string& bytes, std::uint64_t limit) {
    int ends[2];
    if (pipe(ends) != 0) return Error::make(FileError::Unreadable, "no pipe");
    std::thread writer([&] {
        for (std::size_t done = 0; done < bytes.size();) {
            ssize_t n = write(ends[1], bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;  // the reader stopped at its limit
            done += std::size_t(n);
        }
        close(ends[1]);
    });
    auto text = readToEnd(ends[0], limit, "the pipe");
    close(ends[0]);
    writer.join();
    return text;
}

TEST(Files, ReadsUpToTheLimitAndRefusesOneByteMore) {
    constexpr std::uint64_t kLimit = 200'000;
    // The writer goes on after the reader has stopped and closed its end.
    auto previous = signal(SIGPIPE, SIG_IGN);
    ScratchDir scratch("quorbit-files");
    for (std::uint64_t size : {std::uint64_t(0), kLimit - 1, kLimit, kLimit + 1, 10 * kLimit}) {
        SCOPED_TRACE(size);
        std::string bytes = marked(size);
        fs::path file = scratch.write("file", bytes);
        Result<std::string> reads[] = {readRegularFile(file, kLimit), throughPipe(bytes, kLimit)};
        for (auto& text : reads) {
            ASSERT_EQ(text.ok(), size <= kLimit);
            EXPECT_TRUE(text ? *text == bytes
                             : text.error().is(FileError::TooLarge) &&
                                   text.error().localizedDescription().find(
                                       " is larger than the limit of 195.3 KiB") !=
                                       std::string::npos);
        }
    }
    signal(SIGPIPE, previous);
    // A file that reports no size (as /proc files do) is held to the limit as it is read.
    auto status = readRegularFile("/proc/self/status", 64);
    EXPECT_TRUE(!status && status.error().is(FileError::TooLarge));
    EXPECT_TRUE(readRegularFile("/proc/self/status", 1 << 20));
}

TEST(Files, WritesGoToTheEndOfALinkAndOnlyToRegularFiles) {
    ScratchDir scratch("quorbit-files");
    const fs::path& dir = scratch.path();
    scratch.write("sub/real", "x");
    fs::create_symlink("sub/real", dir / "relative");
    fs::create_symlink(dir / "relative", dir / "chain");
    fs::create_symlink("missing", dir / "sub" / "dangling");
    fs::create_symlink("sub", dir / "to-folder");
    fs::create_symlink("loop", dir / "loop");
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    // clang-format off
    struct Case { fs::path path; fs::path target; FileError error; };  // target: empty: refused
    const Case cases[] = {
        {dir / "absent", dir / "absent", {}},
        {dir / "sub" / "real", dir / "sub" / "real", {}},
        {dir / "relative", dir / "sub" / "real", {}},
        {dir / "chain", dir / "sub" / "real", {}},
        {dir / "sub" / "dangling", dir / "sub" / "missing", {}},
        {dir / "to-folder", {}, FileError::NotRegular},
        {dir / "pipe", {}, FileError::NotRegular},
        {dir / "loop", {}, FileError::Unreadable},
    };
    // clang-format on
    for (const auto& c : cases) {
        auto target = writeTarget(c.path);
        ASSERT_EQ(target.ok(), !c.target.empty()) << c.path;
        EXPECT_TRUE(target ? target->lexically_normal() == c.target : target.error().is(c.error))
            << c.path;
    }
}

bool isOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

TEST(FileHandle, ClosesItsDescriptorExactlyOnceWhereverItMoved) {
    auto pipe = makePipe(O_CLOEXEC);
    ASSERT_TRUE(pipe);
    const int readFd = pipe->read.fd();
    FileHandle first(pipe->write.release());
    const int fd = first.fd();
    FileHandle second(std::move(first));
    FileHandle third;
    third = std::move(second);
    EXPECT_FALSE(first.valid() || second.valid());
    EXPECT_TRUE(isOpen(fd));
    third.reset();
    EXPECT_FALSE(isOpen(fd));
    // The number is taken again; the emptied owners going must leave the newcomer open.
    ASSERT_EQ(::dup2(readFd, fd), fd);
    FileHandle newcomer(fd);
    { FileHandle gone = std::move(first); }
    second = FileHandle();
    third.reset();
    EXPECT_TRUE(isOpen(fd));
    // Taking another descriptor closes the one held; one released is closed by nobody.
    pipe->read = std::move(newcomer);
    EXPECT_FALSE(isOpen(readFd));
    EXPECT_EQ(pipe->read.fd(), fd);
    int released = pipe->read.release();
    pipe->read.reset();
    EXPECT_TRUE(isOpen(released));
    EXPECT_TRUE(FileHandle(released).close().ok());
    EXPECT_FALSE(isOpen(released));
}

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
    EXPECT_EQ(child->wait(5s).value_or(Subprocess::Status{}).signal, SIGKILL);
    auto late = runCapturingOutput(shell("exec sleep 30"), 100ms, 1024);
    EXPECT_TRUE(!late && late.error().is(ProcessError::TimedOut));
    EXPECT_LT(Clock::now() - start, 10s);
    // A child whose owner goes is killed and reaped; a detached one is reaped when it ends.
    pid_t running = Subprocess::spawn(shell("exec sleep 30")).value().pid();  // owner gone
    EXPECT_TRUE(gone(running));                                               // no zombie left
    auto owner = Subprocess::spawn(shell("sleep 0.1")).value();
    pid_t detached = owner.pid();
    owner.detach();
    EXPECT_FALSE(gone(detached));  // left running
    auto end = Clock::now() + 10s;
    while (!gone(detached) && Clock::now() < end)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(gone(detached));  // and reaped when it ended
}

TEST(Text, TrimLowerAndPercentEncodingTouchOnlyWhatTheySay) {
    EXPECT_EQ(trim(" \t\r\n a b \v\f"), "a b");
    EXPECT_EQ(trim("   "), "");
    // ASCII only: a UTF-8 capital (É is C3 89) and every other byte stay as they are.
    EXPECT_EQ(lower("HTTPS://Ex.COM/\xC3\x89-Z@[`"), "https://ex.com/\xC3\x89-z@[`");
    // Percent-encoding round-trips and refuses broken escapes.
    EXPECT_EQ(percentEncode("a-Z_0.~ /&=+%\xC3\xA9"), "a-Z_0.~%20%2F%26%3D%2B%25%C3%A9");
    EXPECT_EQ(percentDecode("a-Z_0.~%20%2f%26%3D+%25%C3%A9"), "a-Z_0.~ /&=+%\xC3\xA9");
    for (const char* broken : {"%", "%4", "ab%4", "%G0", "%0G"})
        EXPECT_FALSE(percentDecode(broken)) << broken;
    // An escape cut off by the end of the text is not completed from the bytes beyond it.
    EXPECT_FALSE(percentDecode(std::string_view("%4142").substr(0, 2)));
    EXPECT_EQ(percentDecode("%41"), "A");
}

// A flag, an option with a value, and one that refuses odd values.
struct Declared {
    CommandLineParser parser;
    bool flag = false;
    std::optional<std::string> size, even;
    Declared() {
        parser.addFlag("--flag", "a flag", flag);
        parser.addValue("--size", "WxH", "a size", size);
        parser.add({"--even", "N", "an even number",
                    [this](const std::string& v) -> std::optional<std::string> {
                        if (v.empty() || (v.back() - '0') % 2 != 0) return "odd: " + v;
                        even = v;
                        return std::nullopt;
                    }});
    }
};

TEST(CommandLineParser, TakesTheDeclaredOptionsAndNamesWhatIsWrong) {
    using enum CommandLineError;
    constexpr auto kKeep = CommandLineParser::Unknown::Keep;
    constexpr auto kRefuse = CommandLineParser::Unknown::Refuse;
    // said: the error's message, or the operands and values taken.
    // clang-format off
    struct Case { std::vector<std::string> args; CommandLineParser::Unknown unknown; std::optional<CommandLineError> error; std::string said; } cases[] = {
        {{"--flag", "url", "--size", "2x3"}, kRefuse, {}, "url | flag 2x3 -"},
        // A value is the next argument, whatever it looks like.
        {{"--size", "--flag", "--even", "-2"}, kRefuse, {}, " | - --flag -2"},
        {{"--bogus", "x", "--flag"}, kKeep, {}, "--bogus x | flag - -"},
        {{"--flag", "--bogus"}, kRefuse, UnknownOption, "unknown argument '--bogus'"},
        {{"--flag", "--size"}, kRefuse, MissingValue, "--size needs a value (WxH)"},
        {{"--flag", "x", "--flag"}, kRefuse, Repeated, "--flag is given more than once"},
        {{"--size", "1", "--size", "1"}, kKeep, Repeated, "--size is given more than once"},
        {{"--even", "3"}, kRefuse, BadValue, "odd: 3"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        Declared d;
        auto operands = d.parser.parse(c.args, c.unknown);
        ASSERT_EQ(operands.ok(), !c.error);
        if (c.error) {
            EXPECT_TRUE(operands.error().is(*c.error));
            EXPECT_EQ(operands.error().localizedDescription(), c.said);
            continue;
        }
        std::string said;
        for (const auto& operand : operands.value())
            said += (said.empty() ? "" : " ") + operand;
        said += std::string(" | ") + (d.flag ? "flag" : "-") + " " + d.size.value_or("-") + " " +
                d.even.value_or("-");
        EXPECT_EQ(said, c.said);
    }
}

TEST(CommandLineParser, ListsTheOptionsWithTheirHelpInOneColumn) {
    Declared d;
    d.parser.addFlag("--a-name-longer-than-the-first-column", "long", d.flag);
    EXPECT_EQ(d.parser.help(),
              "  --flag                         a flag\n"
              "  --size WxH                     a size\n"
              "  --even N                       an even number\n"
              "  --a-name-longer-than-the-first-column  long\n");
    EXPECT_TRUE(CommandLineParser::asksForHelp({"--flag", "-h"}));
    EXPECT_TRUE(CommandLineParser::asksForHelp({"--help", "--bogus"}));
    EXPECT_FALSE(CommandLineParser::asksForHelp({"--helpful", "h"}));
}

}  // namespace
}  // namespace quorbit::platform
