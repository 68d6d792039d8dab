#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "platform/core/Bundle.h"
#include "platform/gfx/ImageCodec.h"
#include "support/Scratch.h"

namespace quorbit::platform {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

TEST(Bundle, ResourcesAreFoundByBaseNameAndType) {
    ScratchDir dir("quorbit-bundle");
    dir.write("shaders/Light Tunnel.vsh", "vertex");
    dir.write("camera click.wav", "RIFF");
    fs::create_directories(dir / "shaders" / "Folder.fsh");
    Bundle bundle(dir);
    EXPECT_EQ(bundle.name(), "Flurio");
    EXPECT_EQ(bundle.readResource("Light Tunnel", "vsh", "shaders"), "vertex");
    EXPECT_EQ(bundle.pathForResource("camera click", "wav"), dir / "camera click.wav");
    EXPECT_FALSE(bundle.pathForResource("Light Tunnel", "fsh", "shaders"));
    EXPECT_FALSE(bundle.pathForResource("Folder", "fsh", "shaders"));  // not a regular file
    EXPECT_FALSE(bundle.pathForResource("", "vsh", "shaders"));
    EXPECT_FALSE(bundle.readResource("Missing", "vsh"));
}

// Puts the system's own calls back when a test that replaced some of them ends.
struct RestoreAtomicWriteCalls {
    AtomicWriteCalls saved = atomicWriteCalls();
    ~RestoreAtomicWriteCalls() { atomicWriteCalls() = saved; }
};

TEST(Bundle, AFailedAtomicWriteLeavesTheOldFileWholeAndNoTemporaryFile) {
    using Calls = AtomicWriteCalls;
    // clang-format off
    auto fail = [](int error) { errno = error; return -1; };
    struct Case { const char* step; std::function<void(Calls&)> breakIt; const char* reason /* how it starts */; };
    const Case cases[] = {
        {"write", [&](Calls& c) { c.write = [&](int, const void*, size_t) { return ssize_t(fail(EIO)); }; }, "cannot write"},
        {"write after part of the data", [&](Calls& c) { c.write = [&, first = true](int fd, const void* data, size_t size) mutable {
             return std::exchange(first, false) ? ::write(fd, data, size / 2) : ssize_t(fail(ENOSPC)); }; }, "cannot write"},
        {"write that makes no progress", [](Calls& c) { c.write = [](int, const void*, size_t) { return ssize_t(0); }; }, "cannot write"},
        {"flush", [&](Calls& c) { c.fsync = [&](int) { return fail(EIO); }; }, "cannot flush"},
        {"close", [&](Calls& c) { c.close = [&](int fd) { return ::close(fd), fail(EIO); }; }, "cannot write"},
        {"rename", [&](Calls& c) { c.rename = [&](const char*, const char*) { return fail(EXDEV); }; }, "cannot replace"},
    };
    // clang-format on
    ScratchDir dir("quorbit-atomic");
    fs::path target = dir / "defaults.json";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        ASSERT_EQ(writeFileAtomically(target, "old contents", true, 0600), "");
        std::string reason;
        {
            RestoreAtomicWriteCalls restore;
            c.breakIt(atomicWriteCalls());
            reason = writeFileAtomically(target, std::string(10000, 'n'), true, 0600);
        }
        EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
        EXPECT_EQ(readFile(target), "old contents");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1);
    }
    EXPECT_NE(writeFileAtomically(dir / "no" / "such" / "file", "x"), "");
    // With the system's calls back, the write goes through, with the mode asked for.
    EXPECT_EQ(writeFileAtomically(target, "new", true, 0600), "");
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST(Image, ScalingToCoverKeepsTheCentre) {
    Image wide(4, 1, {0, 0, 0, 255, 100, 100, 100, 255, 200, 200, 200, 255, 50, 50, 50, 255});
    Image middle = wide.scaledToCover(2, 1);  // the middle two pixels, unscaled
    EXPECT_EQ(middle.pixel(0, 0)[0], 100);
    EXPECT_EQ(middle.pixel(1, 0)[0], 200);
    Image grown = wide.scaledToCover(8, 4);  // twice as large: 8 x 2 covers, height 4 wants 4x
    EXPECT_EQ(grown.width(), 8);
    EXPECT_EQ(grown.height(), 4);
}

}  // namespace
}  // namespace quorbit::platform
