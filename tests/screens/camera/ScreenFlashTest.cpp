#include <gtest/gtest.h>

#include "gpu/FrameDrawing.h"
#include "platform/gfx/ImageCodec.h"
#include "platform/gl/GLTextureTarget.h"
#include "platform/ui/Compositor.h"
#include "screens/camera/CameraScreenSupport.h"
#include "support/Pixels.h"

// The front camera's screen flash, through the real camera screen with a run-loop clock the
// tests move.
namespace quorbit::camera_screen {
namespace {

using namespace testing;

// What the window shows, composited as the screen draws it.
platform::Image windowPicture(platform::Window& window) {
    auto compositor = platform::Compositor::create(quorbit::testing::sharedGlContext());
    EXPECT_TRUE(compositor);
    if (!compositor) return {};
    (*compositor)->context()->makeCurrent();
    platform::GLTextureTarget target(320, 480);
    (*compositor)->draw({&window}, 320, 480, target.framebuffer());
    platform::Image picture = platform::Compositor::readPixels(320, 480);
    (*compositor)->restoreContext();
    return picture;
}

bool isWhite(const std::uint8_t* p) {
    return quorbit::testing::near(p, {255, 255, 255}, 5);
}

TEST(ScreenFlash, LightsTheWindowBeforeTheReadBackAndStaysOutOfThePhoto) {
    ManualClock clock;
    TimedScreen f("flash", 0, true);
    // The window has been on screen before, as in the application.
    windowPicture(*f.window);
    f.drawFrame();
    EXPECT_FALSE(f.screen->flashButton()->isHidden());
    EXPECT_EQ(f.screen->flashButton()->glyph(), ControlArt::Glyph::FlashOn);
    platform::Image shown = gpu::readFramebufferImage(*f.screen->glview());
    f.tap(controls::kShutter);
    // The screen is lit, the camera still runs for the lit frames, nothing is read yet.
    ASSERT_TRUE(f.screen->isFlashing());
    EXPECT_TRUE(f.camera->isRunning());
    EXPECT_EQ(f.screen->photoViewButton()->image(), nullptr);
    platform::Image lit = windowPicture(*f.window);
    ASSERT_FALSE(lit.empty());
    for (auto [x, y] : {std::pair{160, 200}, {10, 10}, {300, 470}})
        EXPECT_TRUE(isWhite(lit.pixel(x, y))) << x << ", " << y;
    // The read-back happens under the flash; the photo is the live surface, not the white.
    clock.advance(quorbitViewController::kFlashLead);
    ASSERT_NE(f.screen->photoViewButton()->image(), nullptr);
    EXPECT_TRUE(f.screen->isFlashing());
    EXPECT_FALSE(f.camera->isRunning());
    ASSERT_TRUE(f.waitForSave());
    auto photos = f.photos();
    ASSERT_EQ(photos.size(), 1u);
    auto decoded = platform::ImageCodec::readFile(photos.front());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(f.screen->photoViewButton()->image()->pixels(), shown.pixels());
    for (int q = 0; q < 4; ++q)
        EXPECT_FALSE(isWhite(decoded->pixel(80 + 160 * (q % 2), 100 + 220 * (q / 2))));
    // About 150 ms after it came up the flash is gone.
    clock.advance(quorbitViewController::kFlashLength - quorbitViewController::kFlashLead);
    EXPECT_FALSE(f.screen->isFlashing());
    EXPECT_FALSE(isWhite(windowPicture(*f.window).pixel(160, 200)));
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
}

TEST(ScreenFlash, OnlyTheFrontCameraWithTheFlashOnLightsAndTheChoiceIsKept) {
    struct Case {
        bool front, flashOn, lights;
    } cases[] = {{true, true, true}, {true, false, false}, {false, true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "front " << c.front << " on " << c.flashOn);
        TimedScreen f("flash-cases", 0, c.flashOn, c.front);
        EXPECT_EQ(f.control(controls::kFlash) != nullptr && !f.screen->flashButton()->isHidden(),
                  c.front);
        f.tap(controls::kShutter);
        EXPECT_EQ(f.screen->isFlashing(), c.lights);
        // Without the flash the still is read at once.
        EXPECT_EQ(f.screen->photoViewButton()->image() != nullptr, !c.lights);
        ASSERT_TRUE(f.waitForSave());
    }
    // Off and on again through the control, kept each time; on unless kept off.
    TimedScreen f("flash-toggle", 0, true);
    f.defaults->removeObjectForKey(quorbitViewController::kScreenFlashKey);
    quorbitViewController fresh(quorbit::testing::sharedGlContext(), f.camera, f.defaults.get(),
                                f.albumFolder);
    EXPECT_TRUE(fresh.screenFlashOn());
    for (bool expected : {false, true}) {
        f.tap(controls::kFlash);
        EXPECT_EQ(f.screen->screenFlashOn(), expected);
        EXPECT_EQ(f.defaults->boolForKey(quorbitViewController::kScreenFlashKey), expected);
        EXPECT_EQ(f.screen->flashButton()->glyph(),
                  expected ? ControlArt::Glyph::FlashOn : ControlArt::Glyph::FlashOff);
    }
}

}  // namespace
}  // namespace quorbit::camera_screen
