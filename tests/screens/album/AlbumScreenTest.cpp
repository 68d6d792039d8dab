// The album on the camera screen: how it opens, its grid, one photo at a time, sharing and
// deleting a photo.
#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>
#include <set>

#include "platform/core/Bundle.h"
#include "platform/desktop/UrlOpener.h"
#include "platform/gfx/ImageCodec.h"
#include "screens/camera/CameraScreenSupport.h"

namespace quorbit::camera_screen::testing {
namespace {

namespace fs = std::filesystem;
using platform::Window;

// GLib reads the home and data folders (the trash is in the data folder, used for files on
// the home folder's disk) once a process: this program's are a folder of its own beside the
// scratch folders, set before anything asks, and removed at the end.
struct TrashHome : ::testing::Environment {
    static const fs::path& path() {
        static const fs::path home = [] {
            fs::path made =
                fs::temp_directory_path() / ("quorbit-album-home-" + std::to_string(getpid()));
            fs::create_directories(made);
            setenv("HOME", made.c_str(), 1);
            setenv("XDG_DATA_HOME", made.c_str(), 1);
            return made;
        }();
        return home;
    }
    void TearDown() override { fs::remove_all(path()); }
};
[[maybe_unused]] const auto* const kTrashHome =
    (TrashHome::path(), ::testing::AddGlobalTestEnvironment(new TrashHome));

platform::Image filled(std::uint8_t r, std::uint8_t g, std::uint8_t b, int w = 96, int h = 64) {
    std::vector<std::uint8_t> rgba;
    for (int i = 0; i < w * h; ++i)
        rgba.insert(rgba.end(), {r, g, b, 255});
    return platform::Image(w, h, std::move(rgba));
}

bool near(const platform::Image* image, int r, int g, int b) {
    return image && !image->empty() &&
           quorbit::testing::near(image->pixel(image->width() / 2, image->height() / 2), {r, g, b},
                                  11);
}

// The camera screen, shown, on an album folder and a thumbnail cache of the test's own.
struct AlbumScreen : ScreenFixture {
    explicit AlbumScreen(const std::string& name) : ScreenFixture(name, 3) {
        setenv("XDG_CACHE_HOME", (folder / "cache").c_str(), 1);
        fs::create_directories(albumFolder);
        show();
    }
    ~AlbumScreen() {
        Window::resizeScreen(platform::Rect(0, 0, 320, 480), 1);
        unsetenv("XDG_CACHE_HOME");
    }
    fs::path photo(const std::string& name, const std::string& bytes, std::int64_t mtime) {
        fs::path path = albumFolder / name;
        std::ofstream(path, std::ios::binary) << bytes;
        timespec times[2] = {{mtime, 0}, {mtime, 0}};
        utimensat(AT_FDCWD, path.c_str(), times, 0);
        return path;
    }
    fs::path photo(const std::string& name, const platform::Image& image, std::int64_t mtime) {
        return photo(name, platform::ImageCodec::encodeJpeg(image, 95).value(), mtime);
    }
    album::AlbumViewController& album() { return *screen->albumView(); }
    platform::ViewController* top() { return window->topViewController(); }
    void open() { press(chr('g')); }
    bool loaded(std::size_t i) {
        return album().cells()[i]->cellState() != album::AlbumCell::State::Loading;
    }
    bool waitFor(const std::function<bool()>& done) {
        return platform::RunLoop::main().runUntil(done, 10s);
    }
    void resize(double width, double height) {
        Window::resizeScreen(platform::Rect(0, 0, width, height), 1);
        window->layoutIfNeeded();
    }
};

TEST(Album, OpensFromTheKeyALongPressAndARightClickWhileATapStillShares) {
    AlbumScreen f("album-open");
    f.photo("IMG_1.jpg", filled(200, 20, 20), 1000);
    platform::Point at = f.centreOf(controls::kLastPhoto);
    for (int how = 0; how < 3; ++how) {
        SCOPED_TRACE(how);
        if (how == 0) f.open();
        if (how == 1) Window::dispatchSecondaryClick(at);
        if (how == 2) {  // a long press
            ManualClock clock;
            Window::dispatchTouch(platform::TouchPhase::Began, 1, at);
            clock.advance(LastPictureButtonViewController::kLongPress + 50ms);
            Window::dispatchTouch(platform::TouchPhase::Ended, 1, at);
        }
        EXPECT_EQ(f.top(), &f.album());
        EXPECT_TRUE(f.screen->albumOpen);
        EXPECT_FALSE(f.screen->sharingWindowOpen);
        f.tap(controls::kAlbumBack);
        EXPECT_EQ(f.top(), f.screen.get());
        EXPECT_FALSE(f.screen->albumOpen);
    }
    // A plain tap keeps opening the share screen.
    f.screen->updateLastPictureView(std::make_shared<const platform::Image>(filled(9, 9, 9)));
    f.tap(controls::kLastPhoto);
    EXPECT_EQ(f.top(), f.screen->getPhotoViewController().get());
}

TEST(Album, GridFitsTheWindowNewestFirstWithAPlaceholderForBrokenPhotos) {
    AlbumScreen f("album-grid");
    f.open();
    EXPECT_TRUE(f.album().cells().empty());
    EXPECT_FALSE(f.control(controls::kAlbumEmpty)->isHidden());
    f.tap(controls::kAlbumBack);
    for (int i = 0; i < 7; ++i)
        f.photo("IMG_" + std::to_string(i) + ".jpg", filled(20, 30, std::uint8_t(30 * i)),
                1000 + i);
    f.photo("zero.jpg", std::string(), 100);
    f.open();
    ASSERT_EQ(f.album().cells().size(), 8u);
    EXPECT_TRUE(f.control(controls::kAlbumEmpty)->isHidden());
    EXPECT_EQ(f.control(controls::albumItem(0)), f.album().cells()[0].get());
    EXPECT_EQ(f.album().items()[0].path.filename().string(), "IMG_6.jpg");
    ASSERT_TRUE(f.waitFor([&] { return f.loaded(0) && f.loaded(7); }));
    EXPECT_TRUE(near(f.album().cells()[0]->thumbnail().get(), 20, 30, 180));
    EXPECT_EQ(f.album().cells()[7]->cellState(), album::AlbumCell::State::Broken);
    // clang-format off
    const struct { double width, height; int columns; } cases[] = {{320, 480, 3}, {480, 320, 3}, {1024, 768, 6}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        f.resize(c.width, c.height);
        EXPECT_EQ(f.album().columns(), c.columns);
        std::set<double> lefts;
        for (const auto& cell : f.album().cells()) {
            lefts.insert(cell->frame().minX());
            EXPECT_EQ(cell->frame().width(), cell->frame().height());
            EXPECT_LE(cell->frame().maxX(), c.width);
        }
        EXPECT_EQ(int(lefts.size()), c.columns);
        EXPECT_GT(f.album().cells()[0]->frame().width(), c.width / (c.columns + 1));
    }
    // The wheel scrolls a grid taller than the window, never past its end.
    f.resize(320, 300);
    EXPECT_TRUE(Window::dispatchWheel(0, 20));
    EXPECT_EQ(f.album().grid()->contentOffset().y, f.album().grid()->maximumContentOffset().y);
    EXPECT_GT(f.album().grid()->contentOffset().y, 0);
}

// A folder of 2,000 pictures opens with all of them in order, thumbnails made only for what
// is in view and near it, and the last ones come (the middle ones passed over do not) when
// the grid is scrolled to its end.
TEST(Album, AFolderOfTwoThousandPicturesMakesThumbnailsOnlyInViewAsTheGridScrolls) {
    AlbumScreen f("album-many");
    f.resize(320, 300);
    std::string jpeg = platform::ImageCodec::encodeJpeg(filled(40, 120, 200, 8, 8), 80).value();
    for (int i = 0; i < 2000; ++i)
        f.photo("IMG_" + std::to_string(10000 + i) + ".jpg", jpeg, 100000 + i);
    f.open();
    ASSERT_EQ(f.album().cells().size(), 2000u);
    EXPECT_EQ(f.album().items().front().path.filename(), "IMG_11999.jpg");
    // 3 columns of about 105 points in a grid 256 high: rows 0 to 4 are in view or near.
    ASSERT_TRUE(f.waitFor([&] { return f.loaded(0) && f.loaded(14); }));
    platform::RunLoop::main().runFor(100ms);
    EXPECT_FALSE(f.loaded(15));
    EXPECT_FALSE(f.loaded(1999));
    f.album().grid()->setContentOffset(f.album().grid()->maximumContentOffset());
    EXPECT_TRUE(f.waitFor([&] { return f.loaded(1999) && f.loaded(1990); }));
    platform::RunLoop::main().runFor(100ms);
    EXPECT_FALSE(f.loaded(1000));
}

TEST(Album, SharesTheChosenPhotoNotTheLastOneAndOpensItsFolder) {
    AlbumScreen f("album-share");
    f.photo("old.jpg", filled(20, 40, 220), 1000);
    f.photo("new.jpg", filled(20, 200, 40), 2000);
    auto last = std::make_shared<const platform::Image>(filled(230, 10, 10));
    f.screen->updateLastPictureView(last);
    f.screen->getPhotoViewController()->changeImage(last);
    f.open();
    f.tap(controls::albumItem(1));
    auto page = f.album().pageScreen();
    ASSERT_EQ(f.top(), page.get());
    EXPECT_TRUE(near(page->currentPhoto().get(), 20, 40, 220));
    // Open Folder hands the folder's URL to the desktop's opener.
    EXPECT_EQ(f.openedBy(controls::kAlbumOpenFolder), "file://" + f.albumFolder.string());
    f.tap(controls::kAlbumShare);
    auto share = f.screen->getPhotoViewController();
    ASSERT_EQ(f.top(), share.get());
    EXPECT_TRUE(near(share->currentImage().get(), 20, 40, 220));
    EXPECT_TRUE(f.screen->albumOpen);  // frames stay off under the chain of screens
    f.tap(controls::kShareBack);
    EXPECT_EQ(f.top(), page.get());
    EXPECT_TRUE(f.screen->albumOpen);
    f.tap(controls::kAlbumPhotoBack);
    f.tap(controls::kAlbumBack);
    ASSERT_EQ(f.top(), f.screen.get());
    f.tap(controls::kLastPhoto);
    ASSERT_EQ(f.top(), share.get());
    EXPECT_TRUE(near(share->currentImage().get(), 230, 10, 10));
}

TEST(Album, DeleteGoesToTheTrashAndUndoBringsThePhotoBackByteForByte) {
    AlbumScreen f("album-delete");
    f.photo("IMG_a.jpg", filled(20, 40, 220), 1000);
    fs::path newest = f.photo("IMG_b.jpg", filled(20, 200, 40), 2000);
    const fs::path trashInfo = TrashHome::path() / "Trash/info/IMG_b.jpg.trashinfo";
    std::string bytes = platform::readFile(newest).value_or("");
    ASSERT_FALSE(bytes.empty());
    f.open();
    f.tap(controls::albumItem(0));
    auto page = f.album().pageScreen();
    ASSERT_EQ(f.top(), page.get());
    // The neighbours by key and by swipe.
    press(key(Key::Right));
    EXPECT_EQ(page->index(), 1u);
    page->swiped(120, 4);
    EXPECT_EQ(page->index(), 0u);
    f.tap(controls::kAlbumDelete);
    EXPECT_FALSE(fs::exists(newest));
    EXPECT_EQ(page->items().size(), 1u);
    EXPECT_TRUE(near(page->currentPhoto().get(), 20, 40, 220));
    EXPECT_FALSE(f.control(controls::kAlbumUndo)->superview()->isHidden());
    EXPECT_TRUE(fs::exists(trashInfo));
    f.tap(controls::kAlbumUndo);
    ASSERT_TRUE(fs::exists(newest));
    EXPECT_EQ(platform::readFile(newest).value_or(""), bytes);
    EXPECT_FALSE(fs::exists(trashInfo));
    EXPECT_EQ(page->items().size(), 2u);
    EXPECT_EQ(page->index(), 0u);
    EXPECT_FALSE(page->canUndo());
    // Where the folder has no trash, the photo goes only once the user has said so.
    album::PhotoPageViewController::Trash noTrash;
    noTrash.trash = [](const fs::path&) -> platform::Result<platform::PhotoFolder::TrashedPhoto> {
        return platform::Error::make(platform::PhotoFolderError::TrashNotSupported, "no trash");
    };
    page->setTrash(noTrash);
    f.tap(controls::kAlbumDelete);
    auto* alert = platform::AlertView::visibleAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(fs::exists(newest));
    alert->dismissWithClickedButtonIndex(1, false);
    EXPECT_FALSE(fs::exists(newest));
    EXPECT_EQ(page->items().size(), 1u);
    // The undo lasts its time; the photo then stays in the trash.
    page->setTrash({});
    ManualClock clock;
    f.tap(controls::kAlbumDelete);
    EXPECT_TRUE(page->canUndo());
    clock.advance(album::PhotoPageViewController::kUndoTime + 100ms);
    EXPECT_FALSE(page->canUndo());
    EXPECT_TRUE(f.control(controls::kAlbumUndo)->superview()->isHidden());
    EXPECT_TRUE(fs::exists(TrashHome::path() / "Trash/files/IMG_a.jpg"));
    f.tap(controls::kAlbumPhotoBack);
    EXPECT_EQ(f.album().pageScreen(), nullptr);
    EXPECT_TRUE(f.album().cells().empty());
    EXPECT_FALSE(f.control(controls::kAlbumEmpty)->isHidden());
}

}  // namespace
}  // namespace quorbit::camera_screen::testing
