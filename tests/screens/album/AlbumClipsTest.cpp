// Clips in the album: an item like a photo, shown by its first frame, played by the desktop's
// player and shared as the file.
#include <gtest/gtest.h>

#include "platform/desktop/Thumbnails.h"
#include "recording/VideoRecorder.h"
#include "screens/album/AlbumViewController.h"
#include "screens/camera/CameraScreenSupport.h"

namespace quorbit::camera_screen::testing {
namespace {

namespace fs = std::filesystem;

bool near(const platform::Image* image, int r, int g, int b) {
    return image && !image->empty() &&
           quorbit::testing::near(image->pixel(image->width() / 2, image->height() / 2), {r, g, b},
                                  15);
}

TEST(AlbumClips, AClipIsAnItemShownByItsFirstFramePlayedAndSharedAsItsFile) {
    ScreenFixture f("album-clip", 3);
    setenv("XDG_CACHE_HOME", (f.folder / "cache").c_str(), 1);
    // An orange clip of half a second in the album's folder, beside an older photo.
    recording::RecordingOptions options;
    options.width = 160;
    options.height = 120;
    options.folder = f.albumFolder;
    options.sound = false;
    auto recorder = recording::VideoRecorder::start(options);
    ASSERT_TRUE(recorder) << recorder.error().localizedDescription();
    std::vector<std::uint8_t> orange(160 * 120 * 4);
    for (std::size_t i = 0; i < orange.size(); i += 4)
        orange[i] = 230, orange[i + 1] = 120, orange[i + 2] = 20, orange[i + 3] = 255;
    auto at = std::chrono::steady_clock::now();
    for (int n = 0; n < 12; ++n)
        (*recorder)->addFrame(orange.data(), at += 41ms);
    auto clips = (*recorder)->finish();
    ASSERT_TRUE(clips && clips->size() == 1);
    fs::path clip = clips->front();
    f.scratch.write("album/IMG_20200101_000000.jpg", "a photo that cannot be read");
    fs::last_write_time(f.albumFolder / "IMG_20200101_000000.jpg",
                        fs::last_write_time(clip) - std::chrono::hours(1));

    // At scale 2 the cells are over 128 pixels: their thumbnails are the large ones.
    platform::Window::resizeScreen(platform::Rect(0, 0, 320, 480), 2);
    f.show();
    f.screen->showAlbum();
    auto& album = *f.screen->albumView();
    ASSERT_EQ(album.items().size(), 2u);
    EXPECT_EQ(album.items()[0].path, clip);
    ASSERT_TRUE(platform::RunLoop::main().runUntil(
        [&] { return album.cells()[0]->cellState() == album::AlbumCell::State::Shown; }, 10s));
    EXPECT_TRUE(near(album.cells()[0]->thumbnail().get(), 230, 120, 20));
    EXPECT_TRUE(
        fs::exists(platform::Thumbnails::cachePath(clip, platform::Thumbnails::kLargeSize)));

    f.tap(controls::albumItem(0));
    auto page = album.pageScreen();
    ASSERT_TRUE(page);
    EXPECT_TRUE(near(page->currentPhoto().get(), 230, 120, 20));
    // A tap on the picture plays the clip in the desktop's player.
    EXPECT_EQ(f.openedBy(controls::kAlbumPhoto), "file://" + clip.string());

    // A finger's swipe across the picture turns to the next item.
    platform::View* pane = f.control(controls::kAlbumPhoto);
    platform::Point from = pane->convertToWindow({pane->bounds().midX(), pane->bounds().midY()});
    platform::Window::dispatchTouch(platform::TouchPhase::Began, 1, from);
    platform::Window::dispatchTouch(platform::TouchPhase::Ended, 1, {from.x - 120, from.y});
    EXPECT_EQ(page->index(), 1u);

    page->turn(-1);
    f.tap(controls::kAlbumShare);
    EXPECT_EQ(f.screen->getPhotoViewController()->currentClip(), clip);
    unsetenv("XDG_CACHE_HOME");
    platform::Window::resizeScreen(platform::Rect(0, 0, 320, 480), 1);
}

}  // namespace
}  // namespace quorbit::camera_screen::testing
