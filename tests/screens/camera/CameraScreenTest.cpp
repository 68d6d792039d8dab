#include <gtest/gtest.h>

#include "gpu/FrameDrawing.h"
#include "platform/gfx/ImageCodec.h"
#include "screens/camera/CameraScreenSupport.h"
#include "support/JpegFile.h"
#include "support/Pixels.h"

namespace quorbit::camera_screen {
namespace {

using namespace testing;

TEST(CameraScreen, TheKeptSlotIsRestoredAndNoneChosenOpensThePicker) {
    // What is kept before the launch -> the slot in use after the screen appeared, what is
    // kept then, and whether the picker is up.
    struct Case {
        std::optional<std::int64_t> kept;
        int slot;
        bool pickerUp;
    };
    // clang-format off
    const Case cases[] = {
        {std::nullopt, 0, true}, {0, 0, true}, {-1, 0, true}, {16, 0, true}, {-2, 0, true}, {99, 0, true},
        {5, 5, false}, {15, 15, false}, {1, 1, false},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kept ? std::to_string(*c.kept) : "nothing");
        ScreenFixture f("restore", c.kept);
        // Until the screen appears, Sketch (slot 2) draws.
        EXPECT_EQ(f.screen->filter(), f.screen->programArray()[2].get());
        f.show();
        EXPECT_EQ(f.screen->filter(), f.screen->programArray()[size_t(c.slot)].get());
        EXPECT_EQ(f.defaults->integerForKey(quorbitViewController::kLastFilterUsedKey), c.slot);
        EXPECT_EQ(f.screen->modalViewController() == f.picker, c.pickerUp);
        EXPECT_EQ(f.screen->filterPickerOpen, c.pickerUp);
    }
}

// Where frames go while a child screen is up is the live view's own test.
TEST(CameraScreen, ChildScreensOpenFromTheirControlsAndCloseThroughRestart) {
    ScreenFixture f("children", 3);
    f.show();
    // The share screen opens only once there is a photo.
    f.tap(controls::kLastPhoto);
    EXPECT_EQ(f.screen->modalViewController(), nullptr);
    QuadrantFrame frame;
    auto buffer = frame.buffer();
    f.screen->processNewCameraFrame(buffer);
    f.tap(controls::kShutter);
    ASSERT_TRUE(f.waitForSave());
    struct Case {
        const char* open;
        const char* back;
        bool* flag;
    };
    // clang-format off
    const Case cases[] = {
        {controls::kFilters, controls::kPickerClose, &f.screen->filterPickerOpen},
        {controls::kSettings, controls::kSettingsBack, &f.screen->settingsViewOpen},
        {controls::kLastPhoto, controls::kShareBack, &f.screen->sharingWindowOpen},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.open);
        f.tap(c.open);
        ASSERT_NE(f.screen->modalViewController(), nullptr);
        EXPECT_TRUE(*c.flag);
        EXPECT_FALSE(f.screen->view()->isUserInteractionEnabled());
        // Asking again while it is up presents nothing more.
        f.screen->openSettings();
        f.screen->showSharingWindow();
        f.tap(c.back);
        EXPECT_EQ(f.screen->modalViewController(), nullptr);
        EXPECT_FALSE(f.screen->filterPickerOpen || f.screen->settingsViewOpen ||
                     f.screen->sharingWindowOpen);
        EXPECT_TRUE(f.screen->view()->isUserInteractionEnabled());
        EXPECT_EQ(f.screen->view()->superview(), f.window.get());
    }
}

// Turning the camera by its switch is what the flash's and the distortion centre's screens do
// to reach the back camera.
TEST(CameraScreen, TheCameraSwitchIsGoneWithOneCamera) {
    ScreenFixture one("one-camera", 3, /*twoCameras=*/false);
    one.show();
    EXPECT_EQ(one.control(controls::kSwapCamera), nullptr);
    EXPECT_NE(one.control(controls::kShutter), nullptr);
}

// The photo is the live view as it is drawn (320 x 427, upright and mirrored as the live
// view's own test shows), in the album as a JPEG, for either camera.
TEST(CameraScreen, ThePhotoIsWhatTheLiveViewShows) {
    ScreenFixture f("photo", 3);
    f.show();
    f.screen->setFilter(f.screen->programArray()[0].get());  // the plain picture
    QuadrantFrame frame;
    for (int camera : {capture::kCameraFront, capture::kCameraBack}) {
        SCOPED_TRACE(camera);
        if (f.camera->curCameraType() != camera) f.tap(controls::kSwapCamera);
        ASSERT_EQ(f.camera->curCameraType(), camera);
        auto buffer = frame.buffer();
        f.screen->processNewCameraFrame(buffer);
        platform::Image shown = gpu::readFramebufferImage(*f.screen->glview());
        for (const auto& old : f.photos())
            std::filesystem::remove(old);

        f.tap(controls::kShutter);
        ASSERT_TRUE(f.waitForSave());
        auto photos = f.photos();
        ASSERT_EQ(photos.size(), 1u);

        // The thumbnail and the share screen hold this photo.
        auto held = f.screen->photoViewButton()->image();
        ASSERT_NE(held, nullptr);
        EXPECT_EQ(f.screen->getPhotoViewController()->currentImage(), held);
        EXPECT_EQ(held->pixels(), shown.pixels());

        auto decoded = platform::ImageCodec::readFile(photos.front());
        ASSERT_TRUE(decoded.ok());
        ASSERT_EQ(decoded->width(), 320);
        ASSERT_EQ(decoded->height(), 427);
        EXPECT_EQ(quorbit::testing::inspectJpeg(photos.front())->orientation, 1);
        // Over the whole picture the JPEG stays close to the view.
        double total = 0;
        for (int y = 0; y < 427; ++y)
            for (int x = 0; x < 320; ++x)
                total += quorbit::testing::colourDistance(decoded->pixel(x, y), shown.pixel(x, y));
        EXPECT_LT(total / (320.0 * 427), 4.0);
    }
}

TEST(CameraScreen, WhileAPhotoIsSavedTheShutterAndTheChildScreensWait) {
    ScreenFixture f("saving", 3);
    f.show();
    QuadrantFrame frame;
    auto buffer = frame.buffer();
    f.screen->processNewCameraFrame(buffer);
    f.tap(controls::kShutter);
    ASSERT_TRUE(f.screen->isTakingPhoto);
    // Touches are back while the photo is written, but nothing they ask for happens.
    EXPECT_TRUE(f.screen->view()->isUserInteractionEnabled());
    auto thumbnail = f.screen->photoViewButton()->image();
    for (const char* name :
         {controls::kShutter, controls::kFilters, controls::kSettings, controls::kLastPhoto}) {
        f.tap(name);
        EXPECT_EQ(f.screen->modalViewController(), nullptr) << name;
    }
    EXPECT_TRUE(f.screen->view()->isUserInteractionEnabled());
    EXPECT_EQ(f.screen->photoViewButton()->image(), thumbnail);
    // restart leaves the save alone.
    f.screen->restart();
    EXPECT_TRUE(f.screen->isTakingPhoto);
    ASSERT_TRUE(f.waitForSave());
    platform::RunLoop::main().runFor(100ms);
    EXPECT_EQ(f.photos().size(), 1u);
    EXPECT_TRUE(f.camera->isRunning());
}

TEST(CameraScreen, AFailedSaveSaysWhyAndLeavesTheCameraRunning) {
    quorbit::testing::ScratchDir blocker("quorbit-screen-blocker");
    blocker.write("file", "a file where the album folder should be");
    ScreenFixture f("failed", 3, true, blocker / "file" / "album");
    f.show();
    f.tap(controls::kShutter);
    ASSERT_TRUE(f.waitForSave());
    EXPECT_TRUE(f.camera->isRunning());
    EXPECT_TRUE(f.screen->library()->isReady());
    platform::AlertView* alert = platform::AlertView::visibleAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->title(), quorbitViewController::kSaveFailedTitle);
    EXPECT_NE(alert->message().find((blocker / "file").string()), std::string::npos);
    alert->dismissWithClickedButtonIndex(0, false);
    // The next photo can be taken.
    f.tap(controls::kShutter);
    EXPECT_TRUE(f.screen->isTakingPhoto);
    ASSERT_TRUE(f.waitForSave());
}

}  // namespace
}  // namespace quorbit::camera_screen
