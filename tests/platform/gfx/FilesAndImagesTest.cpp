#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "platform/core/Bundle.h"
#include "platform/gfx/ImageCodec.h"
#include "support/HostileFiles.h"
#include "support/Pixels.h"
#include "support/Scratch.h"

namespace quorbit::platform {
namespace {

namespace fs = std::filesystem;
using testing::JpegKind, testing::ScratchDir;

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
    EXPECT_EQ(std::pair(grown.width(), grown.height()), std::pair(8, 4));
}

TEST(ImageReading, DamagedOrOversizedPicturesAreRefusedWithAReasonAndCmykYcckDecode) {
    Image picture = testing::quadrantPicture(64, 48);
    std::string jpeg = testing::encodeJpeg(picture, JpegKind::Baseline);
    std::string progressive = testing::encodeJpeg(picture, JpegKind::Progressive444);
    std::string png = ImageCodec::encodePng(picture).value();
    const char* kTooMany = "pictures of more than 16.8 megapixels (4096 x 4096) are refused";
    const char* kCut = "Premature end of JPEG file";
    using testing::pngClaiming, testing::withClaimedSize;
    // A JPEG header claiming the size, with no picture data after it.
    auto jpegClaiming = [&](int width, int height) {
        return testing::withoutScanData(withClaimedSize(jpeg, width, height));
    };
    // At the limit the size passes and the missing data is what fails.
    // clang-format off
    struct Case { const char* name; std::string bytes; const char* error /* part of the message */; };
    const Case cases[] = {
        {"truncated JPEG", jpeg.substr(0, jpeg.size() * 2 / 3), kCut},
        {"truncated progressive JPEG", progressive.substr(0, progressive.size() * 2 / 3), kCut},
        {"JPEG without scan data", testing::withoutScanData(jpeg), "corrupt JPEG image"},
        {"JPEG with a stray marker", testing::withStrayMarker(jpeg), "Corrupt JPEG data"},
        {"truncated PNG", png.substr(0, png.size() - 20), "corrupt PNG image"},
        {"PNG 16384 x 16384", pngClaiming(16384, 16384), "the picture is 16384 x 16384 pixels"},
        {"PNG one row over the limit", pngClaiming(4096, 4097), kTooMany},
        {"PNG one column over the limit", pngClaiming(4097, 4096), kTooMany},
        {"PNG at the limit, no data", pngClaiming(4096, 4096), "Not enough image data"},
        {"JPEG 30000 x 30000", jpegClaiming(30000, 30000), "the picture is 30000 x 30000 pixels"},
        {"progressive JPEG 65500 x 4096", withClaimedSize(progressive, 65500, 4096), kTooMany},
        {"JPEG one row over the limit", jpegClaiming(4096, 4097), kTooMany},
        {"JPEG at the limit, no data", jpegClaiming(4096, 4096), "corrupt JPEG image"},
        {"neither PNG nor JPEG", "GIF89a...", "not a PNG or JPEG image"},
    };
    // clang-format on
    for (const auto& c : cases) {
        auto decoded = ImageCodec::decode(c.bytes);
        ASSERT_FALSE(decoded) << c.name;
        EXPECT_THAT(decoded.error().localizedDescription(), ::testing::HasSubstr(c.error))
            << c.name;
    }
    // CMYK and YCCK JPEGs decode to their colours.
    picture = testing::quadrantPicture(32, 32);
    for (JpegKind kind :
         {JpegKind::Baseline, JpegKind::Progressive444, JpegKind::Cmyk, JpegKind::Ycck}) {
        auto decoded = ImageCodec::decode(testing::encodeJpeg(picture, kind, 95));
        ASSERT_TRUE(decoded) << decoded.error().localizedDescription();
        ASSERT_EQ(std::pair(decoded->width(), decoded->height()), std::pair(32, 32));
        for (auto [x, y] : {std::pair{8, 8}, {24, 8}, {8, 24}, {24, 24}}) {
            EXPECT_LE(testing::colourDistance(decoded->pixel(x, y), picture.pixel(x, y)), 6)
                << int(kind);
            EXPECT_EQ(decoded->pixel(x, y)[3], 255);
        }
    }
}

TEST(ImageReading, OnlyRegularFilesWithinTheLimitAreRead) {
    testing::ScratchDir dir("quorbit-images");
    fs::create_directories(dir / "folder.png");
    ASSERT_EQ(mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    // Sparse files of the limit and one byte more: no disk is used.
    for (auto [name, size] : {std::pair{"huge.png", ImageCodec::kMaxFileBytes + 1},
                              {"limit.png", ImageCodec::kMaxFileBytes}})
        fs::resize_file(dir.write(name, "GIF89a"), size);
    dir.write("good.jpg", testing::encodeJpeg(testing::quadrantPicture(8, 8), JpegKind::Baseline));
    fs::create_symlink("good.jpg", dir / "link.jpg");
    // clang-format off
    struct Case { std::string path; const char* error /* empty: reads */; };
    const Case cases[] = {
        {(dir / "folder.png").string(), "folder.png is a directory, not a regular file"},
        {(dir / "pipe.png").string(), "pipe.png is a FIFO (named pipe), not a regular file"},
        {"/dev/zero", "/dev/zero is a character device, not a regular file"},
        {(dir / "huge.png").string(), "huge.png is larger than the limit of 128 MiB"},
        {(dir / "limit.png").string(), "not a PNG or JPEG image"},
        {(dir / "missing.png").string(), "No such file or directory"},
        {(dir / "link.jpg").string(), ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        testing::FifoRelease release(dir / "pipe.png");
        auto image = ImageCodec::readFile(c.path);
        ASSERT_EQ(bool(image), !*c.error) << c.path;
        if (image) continue;
        EXPECT_THAT(image.error().localizedDescription(), ::testing::HasSubstr(c.error));
    }
}

}  // namespace
}  // namespace quorbit::platform
