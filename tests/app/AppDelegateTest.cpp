#include <gtest/gtest.h>

#include "app/quorbitAppDelegate.h"
#include "platform/core/UserDefaults.h"
#include "screens/rating/RatingPrompt.h"
#include "support/GlTestContext.h"

namespace quorbit::app {
namespace {

struct BackCamera : capture::CameraTypeSource {
    int curCameraType() const override { return capture::kCameraBack; }
};

// The lifecycle as the host drives it, step by step: what the rating prompt has heard and
// whether the camera screen's frame timer runs after each step.
TEST(AppDelegate, RunsTheFrameTimerWhileActiveAndCountsEachLaunchAndReturn) {
    int launches = 0, waits = 0, launchedHandler = 0;
    quorbitAppDelegate delegate(
        {[&](bool canPrompt) { launches += canPrompt ? 1 : 100; }, [&] { ++waits; }});
    delegate.setLaunchedHandler([&] {
        EXPECT_EQ(launches, 1);  // after the launch was counted
        ++launchedHandler;
    });
    auto screen = std::make_shared<camera_screen::quorbitViewController>(
        quorbit::testing::sharedGlContext(), std::make_shared<BackCamera>());
    delegate.setViewController(screen);
    using A = platform::Application;
    A& app = A::shared();
    app.reset();
    auto window = std::make_shared<platform::Window>();
    app.setMainWindow(window);
    app.setDelegate(&delegate.callbacks());
    // Each step, then the launches counted, whether the timer runs, the waits for the prompt.
    const std::tuple<const char*, void (A::*)(), int, bool, int> steps[] = {
        {"launch", &A::finishLaunching, 1, false, 0},
        {"active", &A::becomeActive, 1, true, 0},
        {"background", &A::enterBackground, 1, false, 0},
        {"foreground", &A::enterForeground, 2, false, 0},
        {"active", &A::becomeActive, 2, true, 0},
        {"inactive", &A::resignActive, 2, false, 0},
        {"active", &A::becomeActive, 2, true, 0},
        {"terminate", &A::terminate, 2, false, 1},
    };
    for (const auto& [name, event, launchesAfter, animating, waitsAfter] : steps) {
        SCOPED_TRACE(name);
        (app.*event)();
        EXPECT_EQ(std::tuple(launches, screen->isAnimating(), waits),
                  std::tuple(launchesAfter, animating, waitsAfter));
    }
    EXPECT_EQ(launchedHandler, 1);
    EXPECT_EQ(delegate.window(), window);
    // A URL that is not the Facebook client's: the application says nobody took it.
    EXPECT_FALSE(app.openURL("fb123://authorize#access_token=x"));
    // A screen already gone is left alone.
    quorbitAppDelegate another({[&](bool) { ++launches; }, [] {}});
    another.setViewController(std::make_shared<camera_screen::quorbitViewController>(
        quorbit::testing::sharedGlContext(), std::make_shared<BackCamera>()));
    app.reset();
    app.setDelegate(&another.callbacks());
    for (auto event : {&A::finishLaunching, &A::becomeActive, &A::terminate})
        (app.*event)();
    EXPECT_EQ(launches, 3);
    EXPECT_EQ(another.viewController(), nullptr);
    app.reset();
}

// The calls the application makes by default reach its rating prompt, which counts the
// launch in the settings.
TEST(AppDelegate, TheApplicationsRatingCallsCountALaunchInTheSettings) {
    auto launch = [calls = quorbitAppDelegate::RatingCalls::shared()]() mutable {
        calls.appLaunched(false);
        calls.waitUntilIdle();
        return platform::UserDefaults::standard().integerForKey(rating::RatingPrompt::kUseCount);
    };
    auto uses = launch();
    EXPECT_GE(uses, 1);
    EXPECT_EQ(launch(), uses + 1);
}

}  // namespace
}  // namespace quorbit::app
