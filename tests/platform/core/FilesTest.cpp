#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "platform/core/FileHandle.h"
#include "platform/core/Files.h"
#include "support/Scratch.h"

namespace quorbit::platform {
namespace {

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

}  // namespace
}  // namespace quorbit::platform
