#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/core/Files.h"

namespace quorbit::platform {
namespace {

namespace fs = std::filesystem;

long codeOf(FileError error) {
    return static_cast<long>(error);
}

TEST(Files, ReadsStopOneByteBeyondTheLimit) {
    // Through a pipe, which has no size to check beforehand.
    constexpr std::uint64_t kLimit = 200'000;
    // The writer goes on after the reader has stopped and closed its end.
    auto previous = signal(SIGPIPE, SIG_IGN);
    for (std::uint64_t size :
         {std::uint64_t(0), std::uint64_t(70'000), kLimit, kLimit + 1, 10 * kLimit}) {
        SCOPED_TRACE(size);
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        std::thread writer([&] {
            std::string bytes(size, 'x');
            for (std::size_t i = 0; i < bytes.size(); i += 4099)
                bytes[i] = char('a' + i % 26);
            std::size_t done = 0;
            while (done < bytes.size()) {
                ssize_t n = write(ends[1], bytes.data() + done, bytes.size() - done);
                if (n <= 0) break;  // the reader stopped at its limit
                done += std::size_t(n);
            }
            close(ends[1]);
        });
        auto text = readToEnd(ends[0], kLimit, "the pipe");
        close(ends[0]);
        writer.join();
        if (size > kLimit) {
            ASSERT_FALSE(text);
            EXPECT_EQ(text.error().code, codeOf(FileError::TooLarge));
            EXPECT_EQ(text.error().localizedDescription(),
                      "the pipe is larger than the limit of 195.3 KiB");
        } else {
            ASSERT_TRUE(text);
            ASSERT_EQ(text->size(), size);
            for (std::size_t i = 0; i < size; i += 4099)
                EXPECT_EQ((*text)[i], char('a' + i % 26));
        }
    }
    signal(SIGPIPE, previous);
    // A file that reports no size (as /proc files do) is held to the limit as it is read.
    auto status = readRegularFile("/proc/self/status", 64);
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().code, codeOf(FileError::TooLarge));
    EXPECT_TRUE(readRegularFile("/proc/self/status", 1 << 20));
}

TEST(Files, WritesGoToTheEndOfALinkAndOnlyToRegularFiles) {
    fs::path dir = fs::temp_directory_path() / ("quorbit-files-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "sub");
    std::ofstream(dir / "sub" / "real") << "x";
    fs::create_symlink("sub/real", dir / "relative");
    fs::create_symlink(dir / "relative", dir / "chain");
    fs::create_symlink("missing", dir / "sub" / "dangling");
    fs::create_symlink("sub", dir / "to-folder");
    fs::create_symlink("loop", dir / "loop");
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    struct Case {
        fs::path path;
        fs::path target;  // empty: refused
        FileError error;
    } cases[] = {
        {dir / "absent", dir / "absent", {}},
        {dir / "sub" / "real", dir / "sub" / "real", {}},
        {dir / "relative", dir / "sub" / "real", {}},
        {dir / "chain", dir / "sub" / "real", {}},
        {dir / "sub" / "dangling", dir / "sub" / "missing", {}},
        {dir / "to-folder", {}, FileError::NotRegular},
        {dir / "pipe", {}, FileError::NotRegular},
        {dir / "loop", {}, FileError::Unreadable},
    };
    for (const auto& c : cases) {
        auto target = writeTarget(c.path);
        if (c.target.empty()) {
            ASSERT_FALSE(target) << c.path;
            EXPECT_EQ(target.error().code, codeOf(c.error)) << c.path;
        } else {
            ASSERT_TRUE(target) << c.path << ": " << target.error().localizedDescription();
            EXPECT_EQ(target->lexically_normal(), c.target) << c.path;
        }
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace quorbit::platform
