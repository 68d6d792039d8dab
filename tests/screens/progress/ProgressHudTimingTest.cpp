#include <gtest/gtest.h>

#include <memory>

#include "HudTestSupport.h"
#include "screens/progress/ProgressHud.h"

namespace quorbit::hud {
namespace {

using platform::AffineTransform;
using platform::Rect;
using platform::View;
using namespace quorbit::testing;

// An overlay on a parent view that counts how often it reports itself hidden.
struct Overlay : ProgressHudDelegate {
    std::shared_ptr<View> parent = std::make_shared<View>(Rect(0, 0, 320, 480));
    std::shared_ptr<ProgressHud> hud = std::make_shared<ProgressHud>(parent.get());
    int hidden = 0;
    Overlay() {
        parent->addSubview(hud);
        hud->setDelegate(this);
    }
    void hudWasHidden(ProgressHud&) override { ++hidden; }
};

TEST(ProgressHudTiming, GraceTimeShowsTheBoxOnlyWhileATaskIsInProgress) {
    for (bool task : {false, true}) {
        SCOPED_TRACE(task);
        ManualClock clock;
        Overlay o;
        o.hud->setGraceTime(1.0);
        o.hud->setTaskInProgress(task);
        o.hud->show(false);
        clock.advance(990ms);
        EXPECT_EQ(o.hud->alpha(), 0);
        clock.advance(2s);
        EXPECT_EQ(o.hud->alpha(), task ? 1 : 0);
    }
}

TEST(ProgressHudTiming, MinimumShowTimeHoldsTheBoxUpForTheRemainder) {
    for (auto [hideAfter, stillUp] : {std::pair{200ms, 800ms}, std::pair{1500ms, 0ms}}) {
        SCOPED_TRACE(hideAfter.count());
        ManualClock clock;
        Overlay o;
        o.hud->setMinShowTime(1.0);
        o.hud->show(false);
        clock.advance(hideAfter);
        o.hud->hide(false);
        if (stillUp > 0ms) {
            clock.advance(stillUp - 10ms);
            EXPECT_EQ(o.hud->alpha(), 1);
            EXPECT_EQ(o.hidden, 0);
            clock.advance(10ms);
        }
        EXPECT_EQ(o.hud->alpha(), 0);
        EXPECT_EQ(o.hidden, 1);
        EXPECT_EQ(o.hud->superview(), o.parent.get()) << "kept unless told to remove itself";
    }
}

// Pending timers and animations give way to a later call.
TEST(ProgressHudTiming, TheLatestShowOrHideWins) {
    ManualClock clock;
    Overlay hiddenInGrace, shownAgain, hiddenTwice, shownWhileFading;
    hiddenInGrace.hud->setGraceTime(1.0);
    hiddenInGrace.hud->setTaskInProgress(true);
    hiddenInGrace.hud->show(false);
    for (Overlay* o : {&shownAgain, &hiddenTwice}) {
        o->hud->setMinShowTime(1.0);
        o->hud->show(false);
    }
    shownWhileFading.hud->setRemoveFromSuperViewOnHide(true);
    shownWhileFading.hud->show(false);
    shownWhileFading.hud->hide(true);
    clock.advance(200ms);
    hiddenInGrace.hud->hide(false);
    shownAgain.hud->hide(false);
    hiddenTwice.hud->hide(false);
    hiddenTwice.hud->hide(false);
    shownWhileFading.hud->show(false);
    clock.advance(100ms);
    shownAgain.hud->show(false);
    clock.advance(2s);

    EXPECT_EQ(hiddenInGrace.hud->alpha(), 0) << "a hidden box never comes up";
    EXPECT_EQ(shownAgain.hud->alpha(), 1) << "a pending hide is called off by showing again";
    EXPECT_EQ(shownAgain.hidden, 0);
    EXPECT_EQ(hiddenTwice.hidden, 1) << "two waiting hides hide once";
    EXPECT_EQ(shownWhileFading.hud->alpha(), 1) << "a fade-out is called off by showing again";
    EXPECT_EQ(shownWhileFading.hidden, 0);
    EXPECT_EQ(shownWhileFading.hud->superview(), shownWhileFading.parent.get());
}

TEST(ProgressHudTiming, FadeAndZoomAnimations) {
    for (auto type : {ProgressHud::AnimationType::Fade, ProgressHud::AnimationType::Zoom}) {
        const bool zoom = type == ProgressHud::AnimationType::Zoom;
        SCOPED_TRACE(zoom ? "zoom" : "fade");
        ManualClock clock;
        Overlay o;
        o.hud->setAnimationType(type);
        o.hud->show(true);
        clock.advance(150ms);
        EXPECT_NEAR(o.hud->alpha(), 0.5, 0.2);
        EXPECT_NEAR(o.hud->transform().a, zoom ? 1.25 : 1, 0.1);
        clock.advance(170ms);  // animations end on the first frame after their duration
        EXPECT_EQ(o.hud->alpha(), 1);
        EXPECT_EQ(o.hud->transform(), AffineTransform::identity());

        o.hud->hide(true);
        clock.advance(150ms);
        EXPECT_NEAR(o.hud->alpha(), 0.5, 0.2);
        clock.advance(130ms);
        EXPECT_EQ(o.hidden, 0);
        clock.advance(40ms);
        EXPECT_EQ(o.hidden, 1);
        EXPECT_EQ(o.hud->alpha(), 0);
        EXPECT_EQ(o.hud->transform().a, zoom ? 0.5 : 1);
    }
}

}  // namespace
}  // namespace quorbit::hud
