#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "screens/camera/CameraScreenSupport.h"

namespace quorbit::camera_screen {
namespace {

using namespace testing;

// The named controls a finger could reach now, in every visible window.
void collectShown(platform::View& view, std::vector<platform::View*>& out) {
    if (view.isHidden() || view.alpha() < 0.01) return;
    if (!view.controlName().empty()) out.push_back(&view);
    for (const auto& child : view.subviews())
        collectShown(*child, out);
}

std::vector<platform::View*> shownControls() {
    std::vector<platform::View*> out;
    for (platform::Window* w : platform::Window::windows())
        if (!w->isHidden()) collectShown(*w, out);
    return out;
}

// Whatever is up, the screen's flags say so: one flag for the child on top, none without.
void expectConsistent(ScreenFixture& f) {
    auto up = f.screen->modalViewController();
    auto& s = *f.screen;
    EXPECT_EQ(s.filterPickerOpen, up == f.picker);
    EXPECT_EQ(s.settingsViewOpen, up == s.settingsView());
    EXPECT_EQ(s.sharingWindowOpen, up == s.getPhotoViewController());
    EXPECT_TRUE(up || s.view()->superview() == f.window.get());
    // A countdown never runs under a child screen or while a photo is taken.
    EXPECT_FALSE((up || s.isTakingPhoto) && s.isCountingDown());
}

// Random taps and drags over every screen: on controls mostly, anywhere sometimes, with
// camera frames between them and the camera now and then unavailable. Nothing crashes, the flags
// always match what is up, and at the end the camera screen can be brought back live and takes a
// photo.
void tapAtRandom(unsigned seed, bool albumFails) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    quorbit::testing::ScratchDir blocker("quorbit-random-blocker");
    std::optional<std::filesystem::path> album;
    if (albumFails) album = blocker.write("file", "not a folder") / "album";
    ScreenFixture f("random-" + std::to_string(seed), std::nullopt, true, album);
    f.show();
    QuadrantFrame frame;
    std::mt19937 random(seed);
    auto chance = [&](double p) { return std::uniform_real_distribution<>(0, 1)(random) < p; };
    auto anywhere = [&] {
        return platform::Point{std::uniform_real_distribution<>(0, 320)(random),
                               std::uniform_real_distribution<>(0, 480)(random)};
    };
    int photosTaken = 0, alerts = 0;
    for (int event = 0; event < 400; ++event) {
        if (chance(0.3)) {
            auto buffer = frame.buffer();
            f.screen->processNewCameraFrame(buffer);
        }
        // Now and then the camera goes away and comes back; the controls keep working.
        if (chance(0.05)) f.screen->showCameraAvailability(chance(0.5), "unplugged");
        bool wasTaking = f.screen->isTakingPhoto;
        // A tap or a drag, from a shown control's centre mostly, else from anywhere.
        bool drag = chance(0.15);
        platform::Point from = anywhere();
        auto shown = shownControls();
        if (!shown.empty() && chance(0.75)) {
            platform::View& v =
                *shown[std::uniform_int_distribution<size_t>(0, shown.size() - 1)(random)];
            from = v.convertToWindow({v.bounds().midX(), v.bounds().midY()});
        }
        platform::Point to = drag ? anywhere() : from;
        platform::Window::dispatchTouch(platform::TouchPhase::Began, 1, from);
        for (int i = 1; i <= 4 && drag; ++i)
            platform::Window::dispatchTouch(
                platform::TouchPhase::Moved, 1,
                {from.x + (to.x - from.x) * i / 4, from.y + (to.y - from.y) * i / 4});
        platform::Window::dispatchTouch(platform::TouchPhase::Ended, 1, to);
        if (!wasTaking && f.screen->isTakingPhoto) ++photosTaken;
        if (platform::AlertView::visibleAlert()) ++alerts;
        platform::RunLoop::main().runFor(
            std::chrono::milliseconds(std::uniform_int_distribution<>(0, 8)(random)));
        expectConsistent(f);
        if (::testing::Test::HasFailure()) {
            ADD_FAILURE() << "after event " << event;
            return;
        }
    }
    // Back to live: no countdown and no timer, close the alert and whatever child is up, let
    // the save finish.
    f.screen->cancelCountdown();
    ASSERT_TRUE(f.waitForSave());
    for (int i = 0; i < 3 && f.screen->selfTimerSeconds() != 0; ++i)
        f.screen->cycleSelfTimer();
    // Answers still on their way (a network check, the mail program) may raise an alert
    // late, so the alerts, a sign-in dialog and the child screen are closed until none is up;
    // an alert or a dialog still fading out keeps its window until it has gone.
    for (int round = 0; round < 5; ++round) {
        platform::RunLoop::main().runFor(50ms);
        while (auto* alert = platform::AlertView::visibleAlert())
            alert->dismissWithClickedButtonIndex(0, false);
        if (f.control(controls::kFacebookDialogClose)) f.tap(controls::kFacebookDialogClose);
        platform::RunLoop::main().runUntil([] { return platform::Window::windows().size() == 1; },
                                           2s);
        for (const char* back :
             {controls::kPickerClose, controls::kSettingsBack, controls::kShareBack})
            if (f.control(back)) f.tap(back);
        if (!f.screen->modalViewController() && !platform::AlertView::visibleAlert()) break;
    }
    EXPECT_EQ(f.screen->modalViewController(), nullptr);
    EXPECT_TRUE(f.screen->view()->isUserInteractionEnabled());
    EXPECT_TRUE(f.camera->isRunning());
    EXPECT_GT(photosTaken, 0);
    EXPECT_TRUE(!albumFails || alerts > 0);
    f.tap(controls::kShutter);
    EXPECT_TRUE(f.screen->isTakingPhoto);
    ASSERT_TRUE(f.waitForSave());
    EXPECT_TRUE(albumFails || f.photos().size() >= size_t(photosTaken));
}

TEST(RandomTaps, NeverCrashOrWedgeTheScreensEvenWhenEveryPhotoFailsToSave) {
    for (auto [seed, albumFails] : {std::pair{1u, false}, {2u, false}, {3u, false}, {4u, true}})
        tapAtRandom(seed, albumFails);
}

}  // namespace
}  // namespace quorbit::camera_screen
