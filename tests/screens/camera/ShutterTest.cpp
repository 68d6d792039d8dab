#include <map>

#include "platform/gfx/ImageCodec.h"
#include "platform/gl/GLTextureTarget.h"
#include "platform/ui/Compositor.h"
#include "screens/camera/CameraScreenSupport.h"
#include "support/JpegFile.h"

// The self-timer and the front camera's screen flash, with a run-loop clock the tests move.
namespace quorbit::camera_screen {
namespace {

using namespace testing;
using quorbit::testing::colourDistance;
using share::SettingsView;

TEST(SelfTimer, CyclesOffThreeTenAndIsKept) {
    // What is kept at launch (7 is no choice: off) -> the timer then, and after each tap.
    // clang-format off
    const std::tuple<std::optional<int>, int, std::array<int, 3>> cases[] = {
        {std::nullopt, 0, {3, 10, 0}}, {3, 3, {10, 0, 3}}, {10, 10, {0, 3, 10}}, {7, 0, {3, 10, 0}}};
    const std::map<int, ControlArt::Glyph> glyphs = {
        {0, ControlArt::Glyph::TimerOff}, {3, ControlArt::Glyph::Timer3}, {10, ControlArt::Glyph::Timer10}};
    // clang-format on
    for (const auto& [kept, atLaunch, afterTaps] : cases) {
        SCOPED_TRACE(kept.value_or(-1));
        std::optional<int> keep = kept;
        ScreenFixture f("timer-kept", 3, true, std::nullopt, [&](platform::UserDefaults& d) {
            if (keep) d.setInteger(quorbitViewController::kSelfTimerKey, *keep);
        });
        f.show();
        EXPECT_EQ(f.screen->selfTimerSeconds(), atLaunch);
        EXPECT_EQ(f.screen->timerButton()->glyph(), glyphs.at(atLaunch));
        for (int expected : afterTaps) {
            f.tap(controls::kTimer);
            EXPECT_EQ(f.screen->selfTimerSeconds(), expected);
            EXPECT_EQ(f.screen->timerButton()->glyph(), glyphs.at(expected));
            EXPECT_EQ(f.defaults->integerForKey(quorbitViewController::kSelfTimerKey), expected);
        }
    }
}

TEST(SelfTimer, CountsDownTickingAndTakesExactlyOnePhoto) {
    ManualClock clock;
    TimedScreen f("countdown", 3, false);
    platform::Image shown = f.shown();
    f.tap(controls::kShutter);
    // Each second the number drops, large over the middle of the live view, with a tick.
    for (const char* number : {"3", "2", "1"}) {
        ASSERT_TRUE(f.screen->isCountingDown()) << number;
        EXPECT_FALSE(f.countdown().isHidden());
        EXPECT_EQ(f.countdown().text(), number);
        if (f.screen->tickPlayer() && f.screen->tickPlayer()->prepareToPlay()) {
            EXPECT_TRUE(f.screen->tickPlayer()->isPlaying());
            f.screen->tickPlayer()->stop();
        }
        EXPECT_FALSE(f.screen->isTakingPhoto);
        clock.advance(999ms);
        EXPECT_EQ(f.countdown().text(), number);
        clock.advance(1ms);
    }
    EXPECT_GE(f.countdown().font().size, 100);
    EXPECT_NEAR(f.countdown().frame().midX(), f.screen->glview()->frame().midX(), 1);
    // At three seconds the still is taken as the shutter takes it, and the count has gone.
    EXPECT_TRUE(f.screen->isTakingPhoto);
    EXPECT_FALSE(f.screen->isCountingDown());
    EXPECT_TRUE(f.countdown().isHidden());
    ASSERT_TRUE(f.waitForSave());
    clock.advance(20s);
    ASSERT_TRUE(f.waitForSave());
    ASSERT_EQ(f.photos().size(), 1u);
    EXPECT_EQ(f.screen->photoViewButton()->image()->pixels(), shown.pixels());
}

TEST(SelfTimer, ATapOnTheLiveViewTheShutterOrAChildScreenCancels) {
    for (const char* control : {controls::kLiveView, controls::kShutter, controls::kFilters,
                                controls::kSettings, static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(control ? control : "share screen");
        ManualClock clock;
        TimedScreen f("cancel", 10, false);
        // A photo first, so that the share screen can open.
        f.screen->updateLastPictureView(std::make_shared<const platform::Image>(4, 4));
        f.tap(controls::kShutter);
        clock.advance(4s);
        ASSERT_TRUE(f.screen->isCountingDown());
        control ? f.tap(control) : f.screen->showSharingWindow();
        EXPECT_FALSE(f.screen->isCountingDown());
        EXPECT_TRUE(f.countdown().isHidden());
        clock.advance(30s);
        EXPECT_FALSE(f.screen->isTakingPhoto);
        EXPECT_TRUE(f.photos().empty());
    }
}

// Whether the window, as the compositor draws it at (x, y), is white.
bool windowWhiteAt(platform::Window& window, int x, int y) {
    auto compositor = platform::Compositor::create(quorbit::testing::sharedGlContext());
    if (!compositor) return false;
    (*compositor)->context()->makeCurrent();
    platform::GLTextureTarget target(320, 480);
    (*compositor)->draw({&window}, 320, 480, target.framebuffer());
    platform::Image picture = platform::Compositor::readPixels(320, 480);
    (*compositor)->restoreContext();
    return quorbit::testing::near(picture.pixel(x, y), {255, 255, 255}, 5);
}

// Only the front camera with the flash on lights the screen; the choice is kept.
TEST(ScreenFlash, LightsTheWindowBeforeTheReadBackStaysOutOfThePhotoAndOnlyForTheFrontCamera) {
    for (auto [front, flashOn] : {std::pair{true, false}, {false, true}, {true, true}}) {
        SCOPED_TRACE(::testing::Message() << front << flashOn);
        ManualClock clock;
        TimedScreen f("flash", 0, flashOn, front);
        EXPECT_EQ(f.control(controls::kFlash) != nullptr && !f.screen->flashButton()->isHidden(),
                  front);
        if (!front || !flashOn) {
            f.tap(controls::kShutter);
            EXPECT_FALSE(f.screen->isFlashing());
            EXPECT_NE(f.screen->photoViewButton()->image(), nullptr);
            ASSERT_TRUE(f.waitForSave());
            EXPECT_EQ(f.screen->getPhotoViewController()->currentImage(),
                      f.screen->photoViewButton()->image());
            continue;
        }
        // The window has been on screen before, as in the application.
        EXPECT_FALSE(windowWhiteAt(*f.window, 160, 200));
        f.drawFrame();
        EXPECT_EQ(f.screen->flashButton()->glyph(), ControlArt::Glyph::FlashOn);
        platform::Image shown = f.shown();
        f.tap(controls::kShutter);
        // The screen is lit, the camera still runs for the lit frames, nothing is read yet.
        ASSERT_TRUE(f.screen->isFlashing());
        EXPECT_TRUE(f.camera->isRunning());
        EXPECT_EQ(f.screen->photoViewButton()->image(), nullptr);
        for (auto [x, y] : {std::pair{160, 200}, {10, 10}, {300, 470}})
            EXPECT_TRUE(windowWhiteAt(*f.window, x, y)) << x << ", " << y;
        // The read-back happens under the flash; the photo is the live surface, not the white.
        clock.advance(quorbitViewController::kFlashLead);
        ASSERT_NE(f.screen->photoViewButton()->image(), nullptr);
        EXPECT_TRUE(f.screen->isFlashing());
        EXPECT_FALSE(f.camera->isRunning());
        ASSERT_TRUE(f.waitForSave());
        // The thumbnail and the share screen hold the photo; the album has it as an upright
        // JPEG that stays close to the view over the whole picture.
        auto held = f.screen->photoViewButton()->image();
        EXPECT_EQ(held->pixels(), shown.pixels());
        EXPECT_EQ(f.screen->getPhotoViewController()->currentImage(), held);
        auto photos = f.photos();
        ASSERT_EQ(photos.size(), 1u);
        auto decoded = platform::ImageCodec::readFile(photos.front());
        ASSERT_TRUE(decoded && decoded->width() == 320 && decoded->height() == 427);
        EXPECT_EQ(quorbit::testing::inspectJpeg(photos.front())->orientation, 1);
        double total = 0;
        for (int y = 0; y < 427; ++y)
            for (int x = 0; x < 320; ++x)
                total += colourDistance(decoded->pixel(x, y), shown.pixel(x, y));
        EXPECT_LT(total / (320.0 * 427), 4.0);
        // About 150 ms after it came up the flash is gone.
        clock.advance(quorbitViewController::kFlashLength - quorbitViewController::kFlashLead);
        EXPECT_FALSE(f.screen->isFlashing());
        EXPECT_FALSE(windowWhiteAt(*f.window, 160, 200));
        // A photo taken while the last flash still fades gets a whole flash of its own.
        f.tap(controls::kShutter);
        clock.advance(quorbitViewController::kFlashLead);
        ASSERT_TRUE(f.waitForSave());
        f.tap(controls::kShutter);
        clock.advance(quorbitViewController::kFlashLength - quorbitViewController::kFlashLead);
        EXPECT_TRUE(f.screen->isFlashing());
        clock.advance(quorbitViewController::kFlashLead);
        EXPECT_FALSE(f.screen->isFlashing());
        ASSERT_TRUE(f.waitForSave());
        // Off and on again through the control, kept each time; on unless kept off.
        f.defaults->removeObjectForKey(quorbitViewController::kScreenFlashKey);
        EXPECT_TRUE(quorbitViewController(quorbit::testing::sharedGlContext(), f.camera,
                                          f.defaults.get(), f.albumFolder)
                        .screenFlashOn());
        for (bool expected : {false, true}) {
            f.tap(controls::kFlash);
            EXPECT_EQ(f.screen->screenFlashOn(), expected);
            EXPECT_EQ(f.defaults->boolForKey(quorbitViewController::kScreenFlashKey), expected);
            EXPECT_EQ(f.screen->flashButton()->glyph(),
                      expected ? ControlArt::Glyph::FlashOn : ControlArt::Glyph::FlashOff);
        }
    }
}

// Photos of either size from either camera. The front camera's are the view (mirrored) by
// default and its mirror image when the user chooses to be seen as others see them: the bulge
// moved to the left of the view lands on the right of such a photo; the back camera's are the
// view either way. "Full" photos: the click and the thumbnail at once from the view, the
// camera's largest still drawn through the same look and saved at its size (quality 92) while
// the live view runs on; a still that fails gives the view's photo (quality 95) and a note.
// The settings row names the size.
TEST(Photos, FrontPhotosMirrorAsChosenAndFullOnesAreTheLargestStillOrTheViewsPhoto) {
    for (int i = 0; i < 9; ++i) {
        bool fails = i == 8, mirrored = i & 4 || fails, full = i & 2 || fails,
             front = i & 1 || fails;
        SCOPED_TRACE(::testing::Message() << mirrored << full << front << fails);
        ScreenFixture f("photos", 3, true, std::nullopt, [&](platform::UserDefaults& d) {
            d.setBool(SettingsView::kMirrorFrontPhotosKey, mirrored);
            d.setString(SettingsView::kPhotoSizeKey,
                        full ? SettingsView::kPhotoSizeFull : "screen");
        });
        f.device(true).largeStills = true;
        f.device(false).largeStills = true;
        if (fails) f.device(true).stillProblem = "the camera is busy";
        f.show();
        if (!front) f.tap(controls::kSwapCamera);
        EXPECT_EQ(f.screen->settingsView()->photoSizeText(),
                  full ? "Photo size: Full (960 x 1280)" : "Photo size: Screen");
        // Bulge, its centre dragged to the left of the view.
        f.screen->setFilter(f.screen->programArray()[3].get());
        f.screen->setDistortionCentre({0.25, 0.5});
        f.deliver();
        platform::Image view = f.shown();
        f.tap(controls::kShutter);
        bool turned = front && !mirrored;
        if (full) {  // at once: the thumbnail from the view, and the sign that it is being saved
            ASSERT_NE(f.screen->photoViewButton()->image(), nullptr);
            EXPECT_TRUE(turned || f.screen->photoViewButton()->image()->pixels() == view.pixels());
            EXPECT_TRUE(f.screen->photoViewButton()->isSaving());
            EXPECT_TRUE(f.camera->isRunning());
        }
        ASSERT_TRUE(f.waitForSave());
        EXPECT_FALSE(f.screen->photoViewButton()->isSaving());
        EXPECT_EQ(f.screen->stillNote()->isHidden(), !fails);
        EXPECT_TRUE(!fails ||
                    f.screen->stillNote()->text().find("the camera is busy") != std::string::npos);
        auto photos = f.photos();
        ASSERT_EQ(photos.size(), 1u);
        auto photo = platform::ImageCodec::readFile(photos.front());
        ASSERT_TRUE(photo);
        EXPECT_EQ(quorbit::testing::inspectJpeg(photos.front())->firstLuminanceQuant,
                  full && !fails ? 3 : 2);
        // Upright (the sensor lies on its side).
        ASSERT_EQ(photo->width(), full && !fails ? 960 : view.width());
        ASSERT_EQ(photo->height(), full && !fails ? 1280 : view.height());
        // Each view pixel against the photo's pixel at the same place, or at the mirrored
        // place: the share of them that differ.
        auto differing = [&](bool mirror) {
            int off = 0, w = view.width(), h = view.height();
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    int px = int((x + 0.5) * photo->width() / w),
                        py = int((y + 0.5) * photo->height() / h);
                    if (mirror) px = photo->width() - 1 - px;
                    off += colourDistance(photo->pixel(px, py), view.pixel(x, y)) > 30;
                }
            return double(off) / (w * h);
        };
        EXPECT_LT(differing(turned), 0.03);
        EXPECT_GT(differing(!turned), 0.2);
        // Each quadrant's middle shows what the view shows there.
        for (auto [fx, fy] : {std::pair{0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}}) {
            int px = int(fx * photo->width()), py = int(fy * photo->height());
            EXPECT_LE(colourDistance(photo->pixel(turned ? photo->width() - 1 - px : px, py),
                                     view.pixel(int(fx * view.width()), int(fy * view.height()))),
                      6)
                << fx << ", " << fy;
        }
        if (i != 2) continue;
        // The row switches back to the screen's size.
        f.screen->settingsView()->didSelectRow(
            {SettingsView::kCameraSection, SettingsView::kPhotoSizeIndex});
        EXPECT_EQ(f.defaults->stringForKey(SettingsView::kPhotoSizeKey), "screen");
        EXPECT_EQ(f.screen->settingsView()->photoSizeText(), "Photo size: Screen");
    }
}

}  // namespace
}  // namespace quorbit::camera_screen
