#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/gfx/ImageCodec.h"
#include "support/HostileFiles.h"

namespace quorbit::platform {
namespace {

namespace fs = std::filesystem;
using testing::JpegKind;

TEST(ImageReading, DamagedOrOversizedPicturesAreRefusedWithAReason) {
    Image picture = testing::quadrantPicture(64, 48);
    std::string jpeg = testing::encodeJpeg(picture, JpegKind::Baseline);
    std::string progressive = testing::encodeJpeg(picture, JpegKind::Progressive444);
    std::string png = ImageCodec::encodePng(picture).value();
    const char* kTooMany = "pictures of more than 16.8 megapixels (4096 x 4096) are refused";
    struct Case {
        const char* name;
        std::string bytes;
        const char* error;  // part of the message
    } cases[] = {
        {"truncated JPEG", jpeg.substr(0, jpeg.size() * 2 / 3), "Premature end of JPEG file"},
        {"truncated progressive JPEG", progressive.substr(0, progressive.size() * 2 / 3),
         "Premature end of JPEG file"},
        {"JPEG without scan data", testing::withoutScanData(jpeg), "corrupt JPEG image"},
        {"JPEG with a stray marker", testing::withStrayMarker(jpeg), "Corrupt JPEG data"},
        {"truncated PNG", png.substr(0, png.size() - 20), "corrupt PNG image"},
        {"PNG claiming 16384 x 16384", testing::pngClaiming(16384, 16384),
         "the picture is 16384 x 16384 pixels"},
        {"PNG one row over the limit", testing::pngClaiming(4096, 4097), kTooMany},
        {"JPEG claiming 30000 x 30000",
         testing::withoutScanData(testing::withClaimedSize(jpeg, 30000, 30000)),
         "the picture is 30000 x 30000 pixels"},
        {"progressive JPEG claiming 65500 x 4096",
         testing::withClaimedSize(progressive, 65500, 4096), kTooMany},
        // At the limit the size passes and the missing data is what fails.
        {"PNG at the limit, no data", testing::pngClaiming(4096, 4096), "Not enough image data"},
        {"neither PNG nor JPEG", "GIF89a...", "not a PNG or JPEG image"},
    };
    for (const auto& c : cases) {
        auto decoded = ImageCodec::decode(c.bytes);
        ASSERT_FALSE(decoded) << c.name;
        EXPECT_NE(decoded.error().localizedDescription().find(c.error), std::string::npos)
            << c.name << ": " << decoded.error().localizedDescription();
    }
}

TEST(ImageReading, CmykAndYcckJpegsDecodeToTheirColours) {
    Image picture = testing::quadrantPicture(32, 32);
    for (JpegKind kind :
         {JpegKind::Baseline, JpegKind::Progressive444, JpegKind::Cmyk, JpegKind::Ycck}) {
        SCOPED_TRACE(int(kind));
        auto decoded = ImageCodec::decode(testing::encodeJpeg(picture, kind, 95));
        ASSERT_TRUE(decoded) << decoded.error().localizedDescription();
        ASSERT_EQ(decoded->width(), 32);
        ASSERT_EQ(decoded->height(), 32);
        for (auto [x, y] : {std::pair{8, 8}, {24, 8}, {8, 24}, {24, 24}}) {
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(decoded->pixel(x, y)[c], picture.pixel(x, y)[c], 6)
                    << x << "," << y << " channel " << c;
            EXPECT_EQ(decoded->pixel(x, y)[3], 255);
        }
    }
}

TEST(ImageReading, OnlyRegularFilesWithinTheLimitAreRead) {
    fs::path dir = fs::temp_directory_path() / ("quorbit-images-" + std::to_string(getpid()));
    fs::create_directories(dir / "folder.png");
    ASSERT_EQ(mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    std::ofstream(dir / "huge.png") << "\x89PNG";
    fs::resize_file(dir / "huge.png", ImageCodec::kMaxFileBytes + 1);
    std::ofstream(dir / "good.jpg", std::ios::binary)
        << testing::encodeJpeg(testing::quadrantPicture(8, 8), JpegKind::Baseline);
    fs::create_symlink("good.jpg", dir / "link.jpg");
    struct Case {
        std::string path;
        const char* error;  // empty: reads
    } cases[] = {
        {(dir / "folder.png").string(), "folder.png is a directory, not a regular file"},
        {(dir / "pipe.png").string(), "pipe.png is a FIFO (named pipe), not a regular file"},
        {"/dev/zero", "/dev/zero is a character device, not a regular file"},
        {(dir / "huge.png").string(), "huge.png is larger than the limit of 128 MiB"},
        {(dir / "missing.png").string(), "No such file or directory"},
        {(dir / "link.jpg").string(), ""},
    };
    for (const auto& c : cases) {
        testing::FifoRelease release(dir / "pipe.png");
        auto image = ImageCodec::readFile(c.path);
        if (!*c.error) {
            EXPECT_TRUE(image) << c.path;
            continue;
        }
        ASSERT_FALSE(image) << c.path;
        EXPECT_NE(image.error().localizedDescription().find(c.error), std::string::npos)
            << image.error().localizedDescription();
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace quorbit::platform
