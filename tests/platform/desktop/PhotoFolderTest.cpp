// The album's photos as the folder holds them, and their thumbnails in the desktop's cache.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/core/Files.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/PhotoFolder.h"
#include "platform/desktop/Thumbnails.h"
#include "platform/gfx/ImageCodec.h"
#include "support/QuorbitProcess.h"

namespace quorbit::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

Image filled(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    std::vector<std::uint8_t> rgba;
    for (int i = 0; i < width * height; ++i)
        rgba.insert(rgba.end(), {r, g, b, 255});
    return Image(width, height, std::move(rgba));
}

// A photo folder and a thumbnail cache of the test's own.
class PhotoFolderTest : public ::testing::Test {
  protected:
    fs::path put(const std::string& name, const std::string& bytes, std::int64_t mtime) {
        fs::path path = scratch.write(photos.filename() / name, bytes);
        timespec times[2] = {{mtime, 0}, {mtime, 0}};
        utimensat(AT_FDCWD, path.c_str(), times, 0);
        return path;
    }
    fs::path jpeg(const std::string& name, int w, int h, std::uint8_t red, std::int64_t mtime) {
        return put(name, ImageCodec::encodeJpeg(filled(w, h, red, 40, 200 - red)).value(), mtime);
    }
    testing::ScratchDir scratch{"quorbit-photo-folder"};
    fs::path photos = scratch / "my photos";  // made by the first photo put there
    testing::ScopedEnv cache{{{"XDG_CACHE_HOME", (scratch / "cache").string()}}};
};

TEST_F(PhotoFolderTest, ListsEveryJpegAndPngNewestFirstBrokenOnesToo) {
    jpeg("a.jpg", 8, 8, 10, 1000);
    put("b.PNG", ImageCodec::encodePng(filled(4, 4, 1, 2, 3)).value(), 3000);
    jpeg("c.jpeg", 8, 8, 20, 2000);
    put("empty.jpg", "", 1500);
    put("broken.jpg", "\xFF\xD8 not really", 500);
    put("IMG_2.jpg", "\xFF\xD8", 1000);  // the same time as a.jpg: the later name first
    put("notes.txt", "text", 4000);
    put(".flurio-123456.jpg", "half a photo", 4000);
    fs::create_directories(photos / "folder.jpg");
    std::vector<std::string> names;
    for (const PhotoItem& item : PhotoFolder::list(photos))
        names.push_back(item.path.filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"b.PNG", "c.jpeg", "empty.jpg", "a.jpg", "IMG_2.jpg",
                                               "broken.jpg"}));
    EXPECT_TRUE(PhotoFolder::list(scratch / "missing").empty());
}

TEST_F(PhotoFolderTest, ThumbnailIsCachedUnderTheMd5OfTheUriWithItsTextChunksReusedAndRenewed) {
    // The names: MD5s of known texts, and a URI with a space and a non-ASCII letter.
    EXPECT_EQ(Thumbnails::md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Thumbnails::md5Hex("The quick brown fox jumps over the lazy dog"),
              "9e107d9d372bb6826bd81d3542a419d6");
    fs::path photo = jpeg("caf\xC3\xA9.jpg", 4000, 3000, 200, 1700000000);
    std::string uri = Thumbnails::fileUri(photo);
    EXPECT_EQ(uri, "file://" + scratch.path().string() + "/my%20photos/caf%C3%A9.jpg");
    EXPECT_EQ(Thumbnails::cachePath(photo),
              scratch / "cache/thumbnails/normal" / (Thumbnails::md5Hex(uri) + ".png"));
    // The large photo is decoded at an eighth of its size, never whole.
    auto small = ImageCodec::readFileScaled(photo, Thumbnails::kNormalSize);
    ASSERT_TRUE(small) << small.error().localizedDescription();
    EXPECT_EQ(std::pair(small->width(), small->height()), std::pair(500, 375));
    auto before = Thumbnails::decodeCount();
    auto made = Thumbnails::load(photo, 1700000000);
    ASSERT_TRUE(made);
    EXPECT_EQ(Thumbnails::decodeCount(), before + 1);
    auto stored = readRegularFile(Thumbnails::cachePath(photo), 1 << 20);
    ASSERT_TRUE(stored);
    auto png = ImageCodec::decodePng(*stored);
    ASSERT_TRUE(png);
    EXPECT_EQ(std::pair(png->width(), png->height()), std::pair(128, 96));
    EXPECT_NEAR(png->pixel(64, 48)[0], 200, 6);
    auto chunks = ImageCodec::pngTextChunks(*stored);
    std::map<std::string, std::string> text(chunks.begin(), chunks.end());
    EXPECT_EQ(std::pair(text["Thumb::URI"], text["Thumb::MTime"]), std::pair(uri, "1700000000"s));
    struct stat st {};
    ASSERT_EQ(stat(Thumbnails::cachePath(photo).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Opened again: the cached one, nothing decoded.
    auto again = Thumbnails::load(photo, 1700000000);
    ASSERT_TRUE(again);
    EXPECT_EQ(Thumbnails::decodeCount(), before + 1);
    EXPECT_EQ(again->pixels(), png->pixels());
    // The large size: a thumbnail of its own, at most 256 on a side, in the large folder.
    auto large = Thumbnails::load(photo, 1700000000, Thumbnails::kLargeSize);
    ASSERT_TRUE(large);
    EXPECT_EQ(std::pair(large->width(), large->height()), std::pair(256, 192));
    EXPECT_EQ(Thumbnails::cachePath(photo, Thumbnails::kLargeSize),
              scratch / "cache/thumbnails/large" / (Thumbnails::md5Hex(uri) + ".png"));
    EXPECT_TRUE(Thumbnails::cached(photo, 1700000000, Thumbnails::kLargeSize));
    before = Thumbnails::decodeCount() - 1;
    // Replaced: a new thumbnail, and the old one no longer answers.
    jpeg("caf\xC3\xA9.jpg", 300, 300, 20, 1700000100);
    auto renewed = Thumbnails::load(photo, 1700000100);
    ASSERT_TRUE(renewed);
    EXPECT_EQ(Thumbnails::decodeCount(), before + 2);
    EXPECT_NEAR(renewed->pixel(10, 10)[0], 20, 6);
    auto cached = Thumbnails::cached(photo, 1700000100);
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->pixels(), renewed->pixels());
    EXPECT_FALSE(Thumbnails::cached(photo, 1700000000));
}

TEST_F(PhotoFolderTest, PhotosAndThumbnailsComeUprightAsTheirExifOrientationSays) {
    // Red on the left, blue on the right, to be turned a quarter clockwise (Exif 6): red on
    // top. A little-endian block, as cameras write them.
    Image sideways = filled(40, 20, 230, 0, 0);
    for (int y = 0; y < 20; ++y)
        for (int x = 20; x < 40; ++x)
            sideways.pixel(x, y)[0] = 0, sideways.pixel(x, y)[2] = 230;
    std::string exif("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 32);
    fs::path photo = put("turned.jpg", ImageCodec::encodeJpeg(sideways, 95, exif).value(), 1000);
    for (auto [what, image] : {std::pair{"photo", ImageCodec::readFileScaled(photo, 0)},
                               std::pair{"thumbnail", Thumbnails::load(photo, 1000)}}) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width(), 20);
        EXPECT_EQ(image->height(), 40);
        EXPECT_GT(image->pixel(10, 5)[0], 180);
        EXPECT_GT(image->pixel(10, 35)[2], 180);
    }
    EXPECT_EQ(ImageCodec::readFile(photo)->width(), 40);  // as stored
}

TEST_F(PhotoFolderTest, LoaderAnswersOnTheMainLoopAndBrokenOrEmptyFilesGetNoThumbnail) {
    jpeg("good.jpg", 64, 48, 100, 1000);
    put("empty.jpg", "", 2000);
    put("broken.jpg", std::string("\xFF\xD8\xFF\xE0", 4) + std::string(100, 'x'), 3000);
    std::vector<std::string> answers;
    ThumbnailLoader loader;
    for (const PhotoItem& item : PhotoFolder::list(photos))
        loader.request(item, [&answers, name = item.path.filename().string()](
                                 std::shared_ptr<const Image> thumbnail) {
            EXPECT_TRUE(RunLoop::isMainThread());
            answers.push_back(name + (thumbnail ? " " + std::to_string(thumbnail->width()) + "x" +
                                                      std::to_string(thumbnail->height())
                                                : " none"));
        });
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return answers.size() == 3; }, 10s));
    std::sort(answers.begin(), answers.end());  // two workers may answer in either order
    EXPECT_EQ(answers,
              (std::vector<std::string>{"broken.jpg none", "empty.jpg none", "good.jpg 64x48"}));
    // Marked as failed: not decoded again until the file changes.
    fs::path broken = photos / "broken.jpg";
    EXPECT_TRUE(fs::exists(Thumbnails::failurePath(broken)));
    auto before = Thumbnails::decodeCount();
    EXPECT_FALSE(Thumbnails::load(broken, 3000));
    EXPECT_EQ(Thumbnails::decodeCount(), before);
    jpeg("broken.jpg", 16, 16, 50, 3100);
    EXPECT_TRUE(Thumbnails::load(broken, 3100));
    EXPECT_EQ(Thumbnails::decodeCount(), before + 1);
}

}  // namespace
}  // namespace quorbit::platform
