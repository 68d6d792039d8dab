#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "gpu/FrameDrawing.h"
#include "screens/camera/CameraScreenSupport.h"

// The self-timer, through the real camera screen with a run-loop clock the tests move.
namespace quorbit::camera_screen {
namespace {

using namespace testing;

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
        ScreenFixture f("timer-kept", 3, true, std::nullopt, [&](platform::UserDefaults& d) {
            if (c.kept) d.setInteger(quorbitViewController::kSelfTimerKey, *c.kept);
        });
        f.show();
        EXPECT_EQ(f.screen->selfTimerSeconds(), c.atLaunch);
        EXPECT_EQ(f.screen->timerButton()->glyph(), glyphs.at(c.atLaunch));
        for (int expected : c.afterTaps) {
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
    EXPECT_NEAR(f.countdown().frame().midX(), f.screen->glview()->frame().midX(), 1);
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
        ManualClock clock;
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

}  // namespace
}  // namespace quorbit::camera_screen
