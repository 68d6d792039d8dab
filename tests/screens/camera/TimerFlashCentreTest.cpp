#include <gtest/gtest.h>

#include <cmath>

#include "screens/camera/CameraScreenSupport.h"
#include "gpu/FrameDrawing.h"
#include "platform/gfx/ImageCodec.h"
#include "platform/ui/Compositor.h"
#include "platform/gl/GLTextureTarget.h"

// The self-timer, the front camera's screen flash and the distortion centre, through the real
// camera screen with a run-loop clock the tests move by hand.
namespace quorbit::camera_screen {
namespace {

using namespace testing;
using Clock = platform::RunLoop::Clock;

// The main loop's timers go by this clock while it lives.
struct HandClock {
    Clock::time_point now = Clock::now();
    HandClock() {
        platform::RunLoop::main().setClock([this] { return now; });
    }
    ~HandClock() { platform::RunLoop::main().setClock({}); }
    void advance(Clock::duration by) {
        now += by;
        for (int i = 0; i < 3; ++i)
            platform::RunLoop::main().runOnce(Clock::duration::zero());
    }
};

// A screen showing the quadrant frame (of the rotation given), slot 0 (the plain picture),
// with the timer and the flash as given.
struct TimedScreen : ScreenFixture {
    TimedScreen(const std::string& name, int timerSeconds, bool flash, bool front = true,
                int rotation = 90)
        : ScreenFixture(name, 3), rotation(rotation) {
        defaults->setInteger(quorbitViewController::kSelfTimerKey, timerSeconds);
        defaults->setBool(quorbitViewController::kScreenFlashKey, flash);
        // The settings are read when the screen is made: make it again on them.
        window->setRootViewController(nullptr);
        screen = std::make_shared<quorbitViewController>(quorbit::testing::sharedGlContext(),
                                                         camera, defaults.get(), albumFolder);
        picker = std::make_shared<TestPicker>(*screen);
        screen->setFilterPicker(picker, picker.get());
        show();
        screen->setFilter(screen->programArray()[0].get());
        if ((camera->curCameraType() == capture::kCameraFront) != front) tap(controls::kSwapCamera);
        drawFrame();
    }
    void drawFrame() {
        auto buffer = frame.buffer(rotation);
        screen->processNewCameraFrame(buffer);
    }
    platform::Label& countdown() { return *screen->countdownLabel(); }
    int rotation;
    QuadrantFrame frame;
};

TEST(SelfTimer, CyclesOffThreeTenAndIsKept) {
    // What is kept at launch -> the timer then, and after each tap on the control.
    struct Case {
        std::optional<int> kept;
        int atLaunch;
        std::array<int, 3> afterTaps;
    } cases[] = {
        {std::nullopt, 0, {3, 10, 0}},
        {3, 3, {10, 0, 3}},
        {10, 10, {0, 3, 10}},
        {7, 0, {3, 10, 0}},  // not a choice: off
    };
    const std::map<int, ControlArt::Glyph> glyphs = {{0, ControlArt::Glyph::TimerOff},
                                                     {3, ControlArt::Glyph::Timer3},
                                                     {10, ControlArt::Glyph::Timer10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kept ? *c.kept : -1);
        ScreenFixture f("timer-kept", 3);
        if (c.kept) f.defaults->setInteger(quorbitViewController::kSelfTimerKey, *c.kept);
        quorbitViewController screen(quorbit::testing::sharedGlContext(), f.camera,
                                     f.defaults.get(), f.albumFolder);
        screen.view();
        EXPECT_EQ(screen.selfTimerSeconds(), c.atLaunch);
        EXPECT_EQ(screen.timerButton()->glyph(), glyphs.at(c.atLaunch));
        for (int expected : c.afterTaps) {
            screen.cycleSelfTimer();
            EXPECT_EQ(screen.selfTimerSeconds(), expected);
            EXPECT_EQ(screen.timerButton()->glyph(), glyphs.at(expected));
            EXPECT_EQ(f.defaults->integerForKey(quorbitViewController::kSelfTimerKey), expected);
        }
    }
}

TEST(SelfTimer, CountsDownTickingAndTakesExactlyOnePhoto) {
    HandClock clock;
    TimedScreen f("countdown", 3, false);
    platform::Image shown = gpu::readFramebufferImage(*f.screen->glview());
    f.tap(controls::kShutter);
    // Each second the number drops, large over the middle of the live view, with a tick.
    for (const char* number : {"3", "2", "1"}) {
        SCOPED_TRACE(number);
        ASSERT_TRUE(f.screen->isCountingDown());
        EXPECT_FALSE(f.countdown().isHidden());
        EXPECT_EQ(f.countdown().text(), number);
        if (f.screen->tickPlayer() && f.screen->tickPlayer()->prepareToPlay()) {
            EXPECT_TRUE(f.screen->tickPlayer()->isPlaying());
            f.screen->tickPlayer()->stop();
        }
        EXPECT_FALSE(f.screen->isTakingPhoto);
        clock.advance(std::chrono::milliseconds(999));
        EXPECT_EQ(f.countdown().text(), number);
        clock.advance(std::chrono::milliseconds(1));
    }
    EXPECT_GE(f.countdown().font().size, 100);
    platform::Rect live = f.screen->glview()->frame();
    platform::Rect digits = f.countdown().frame();
    EXPECT_TRUE(live.contains({digits.midX(), digits.midY()}));
    EXPECT_NEAR(digits.midX(), live.midX(), 1);
    // At three seconds the still is taken as the shutter takes it, and the count has gone.
    EXPECT_TRUE(f.screen->isTakingPhoto);
    EXPECT_FALSE(f.screen->isCountingDown());
    EXPECT_TRUE(f.countdown().isHidden());
    ASSERT_TRUE(f.waitForSave());
    clock.advance(std::chrono::seconds(20));
    ASSERT_TRUE(f.waitForSave());
    ASSERT_EQ(f.photos().size(), 1u);
    EXPECT_EQ(f.screen->photoViewButton()->image()->pixels(), shown.pixels());
}

TEST(SelfTimer, ATapOnTheLiveViewTheShutterOrAChildScreenCancels) {
    struct Case {
        const char* name;
        std::function<void(TimedScreen&)> cancel;
    } cases[] = {
        {"live view", [](TimedScreen& f) { f.tap(controls::kLiveView); }},
        {"shutter", [](TimedScreen& f) { f.tap(controls::kShutter); }},
        {"filter picker", [](TimedScreen& f) { f.tap(controls::kFilters); }},
        {"settings", [](TimedScreen& f) { f.tap(controls::kSettings); }},
        {"share screen", [](TimedScreen& f) { f.screen->showSharingWindow(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HandClock clock;
        TimedScreen f("cancel", 10, false);
        // A photo first, so that the share screen can open.
        f.screen->updateLastPictureView(
            std::make_shared<const platform::Image>(platform::Image(4, 4)));
        f.tap(controls::kShutter);
        clock.advance(std::chrono::seconds(4));
        ASSERT_TRUE(f.screen->isCountingDown());
        c.cancel(f);
        EXPECT_FALSE(f.screen->isCountingDown());
        EXPECT_TRUE(f.countdown().isHidden());
        clock.advance(std::chrono::seconds(30));
        EXPECT_FALSE(f.screen->isTakingPhoto);
        EXPECT_TRUE(f.photos().empty());
    }
}

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
    return p[0] > 250 && p[1] > 250 && p[2] > 250;
}

TEST(ScreenFlash, LightsTheWindowBeforeTheReadBackAndStaysOutOfThePhoto) {
    HandClock clock;
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
    for (auto [x, y] : {std::pair{160, 200}, {10, 10}, {160, 455}, {300, 470}})
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

// How far apart two pixels are, summed over RGB.
int difference(const std::uint8_t* a, const std::uint8_t* b) {
    return std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]);
}

TEST(DistortionCentre, ADragPutsTheEffectUnderTheFingerForBothCamerasAndRotations) {
    // Light Tunnel leaves a sharp disc of the plain picture around its centre and shades what
    // lies well outside it: where the plain picture shows through tells where the centre is.
    constexpr int kLightTunnel = 14;
    // The finger's place as fractions of the live view (across, down), and its mirror image.
    const platform::Point finger{250.0 / 320, 110.0 / 427}, mirrored{70.0 / 320, 110.0 / 427};
    for (auto [front, rotation] : {std::pair{true, 90}, {false, 90}, {true, 0}, {false, 270}}) {
        SCOPED_TRACE(::testing::Message() << (front ? "front " : "back ") << rotation);
        TimedScreen f("centre", 0, false, front, rotation);
        platform::Image plain = gpu::readFramebufferImage(*f.screen->glview());
        f.screen->setFilter(f.screen->programArray()[kLightTunnel].get());
        ASSERT_TRUE(f.screen->filterHasCentre());
        // The live view has the picture's shape: landscape at rotation 0.
        platform::Rect live = f.screen->glview()->frame();
        auto inWindow = [&](platform::Point p) {
            return platform::Point{live.minX() + p.x * live.width(),
                                   live.minY() + p.y * live.height()};
        };
        auto inPixels = [&](const platform::Image& image, platform::Point p) {
            return image.pixel(int(p.x * image.width()), int(p.y * image.height()));
        };
        // A drag from the middle of the live view to the finger's place.
        platform::Window::dispatchTouch(platform::TouchPhase::Began, 1, inWindow({0.5, 0.5}));
        platform::Window::dispatchTouch(platform::TouchPhase::Moved, 1, inWindow({0.6, 0.4}));
        platform::Window::dispatchTouch(platform::TouchPhase::Moved, 1, inWindow(finger));
        platform::Window::dispatchTouch(platform::TouchPhase::Ended, 1, inWindow(finger));
        EXPECT_NEAR(f.screen->distortionCentre().x, finger.x, 1e-9);
        EXPECT_NEAR(f.screen->distortionCentre().y, finger.y, 1e-9);
        f.drawFrame();
        platform::Image moved = gpu::readFramebufferImage(*f.screen->glview());
        EXPECT_LE(difference(inPixels(moved, finger), inPixels(plain, finger)), 6);
        EXPECT_GT(difference(inPixels(moved, mirrored), inPixels(plain, mirrored)), 30);
        // The photo shows it where the view does.
        f.tap(controls::kShutter);
        ASSERT_NE(f.screen->photoViewButton()->image(), nullptr);
        EXPECT_EQ(f.screen->photoViewButton()->image()->pixels(), moved.pixels());
        ASSERT_TRUE(f.waitForSave());
    }
}

TEST(DistortionCentre, DoubleTapRecentresAndOtherFiltersKeepItsPlace) {
    HandClock clock;
    TimedScreen f("recentre", 0, false);
    auto drag = [&](platform::Point to) {
        platform::Window::dispatchTouch(platform::TouchPhase::Began, 1, {160, 213});
        platform::Window::dispatchTouch(platform::TouchPhase::Moved, 1, to);
        platform::Window::dispatchTouch(platform::TouchPhase::Ended, 1, to);
    };
    // Sepia has no centre: a drag leaves it where it is.
    f.screen->setFilter(f.screen->programArray()[5].get());
    EXPECT_FALSE(f.screen->filterHasCentre());
    drag({40, 40});
    EXPECT_EQ(f.screen->distortionCentre().x, 0.5);
    // Bulge (3), Stretch (10), Squish (11) and Light Tunnel (14) do; a drag past the edge stops
    // at it.
    for (int slot : {3, 10, 11, 14}) {
        f.screen->setFilter(f.screen->programArray()[size_t(slot)].get());
        EXPECT_TRUE(f.screen->filterHasCentre()) << slot;
    }
    drag({400, -50});
    EXPECT_EQ(f.screen->distortionCentre().x, 1.0);
    EXPECT_EQ(f.screen->distortionCentre().y, 0.0);
    // Two taps far apart in time are no double tap; two close together are.
    f.tap(controls::kLiveView);
    clock.advance(std::chrono::milliseconds(400));
    f.tap(controls::kLiveView);
    EXPECT_EQ(f.screen->distortionCentre().x, 1.0);
    clock.advance(std::chrono::milliseconds(200));
    f.tap(controls::kLiveView);
    EXPECT_EQ(f.screen->distortionCentre().x, 0.5);
    EXPECT_EQ(f.screen->distortionCentre().y, 0.5);
}

}  // namespace
}  // namespace quorbit::camera_screen
