#include <gtest/gtest.h>

#include <cmath>
#include <future>

#include "platform/gl/GLTextureTarget.h"
#include "platform/host/Application.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/UiTestSupport.h"
#include "screens/progress/ProgressHud.h"
#include "screens/progress/RoundProgressView.h"
#include "support/GlTestContext.h"
#include "support/ManualClock.h"
#include "support/Pixels.h"

namespace quorbit::hud {
namespace {

using platform::ActivityIndicator;
using platform::AffineTransform;
using platform::Application;
using platform::Rect;
using platform::RunLoop;
using platform::View;
using namespace quorbit::testing;

struct Overlay : ProgressHudDelegate {
    std::shared_ptr<View> parent = std::make_shared<View>(Rect(0, 0, 320, 480));
    std::shared_ptr<ProgressHud> hud = std::make_shared<ProgressHud>(parent.get());
    int hidden = 0;
    bool hiddenOnMain = false;
    Overlay() {
        parent->addSubview(hud);
        hud->setDelegate(this);
    }
    void hudWasHidden(ProgressHud&) override { ++hidden, hiddenOnMain = RunLoop::isMainThread(); }
};

TEST(ProgressHud, ClassHelpersShowOverAViewAndHideItsLastOverlay) {
    auto parent = std::make_shared<View>(Rect(0, 0, 320, 480));
    auto first = ProgressHud::showHUDAddedTo(parent.get(), false);
    auto second = ProgressHud::showHUDAddedTo(parent.get(), false);
    parent->addSubview(std::make_shared<View>(Rect(0, 0, 10, 10)));  // not an overlay
    EXPECT_EQ(first->frame(), parent->bounds());
    EXPECT_TRUE(ProgressHud::hideHUDForView(parent.get(), false));
    EXPECT_EQ(second->superview(), nullptr);
    EXPECT_EQ(first->alpha(), 1);
    EXPECT_TRUE(ProgressHud::hideHUDForView(parent.get(), false));
    EXPECT_EQ(first->superview(), nullptr);
    EXPECT_FALSE(ProgressHud::hideHUDForView(parent.get(), false));
    EXPECT_FALSE(ProgressHud::hideHUDForView(nullptr, false));
    EXPECT_THROW(ProgressHud::showHUDAddedTo(nullptr, true), ProgressHudViewIsNilException);
}

TEST(ProgressHud, ModesChooseTheIndicatorAndSettersFromOtherThreadsApplyOnTheMainThread) {
    auto hud = std::make_shared<ProgressHud>(Rect(0, 0, 320, 480));
    auto dial = [&] { return std::dynamic_pointer_cast<RoundProgressView>(hud->indicator()); };
    auto spinner = [&] { return std::dynamic_pointer_cast<ActivityIndicator>(hud->indicator()); };
    ASSERT_TRUE(spinner());
    EXPECT_TRUE(spinner()->isAnimating());
    hud->setProgress(0.6);
    hud->setMode(ProgressHud::Mode::Determinate);
    ASSERT_TRUE(dial());
    EXPECT_DOUBLE_EQ(dial()->progress(), 0.6) << "the dial starts at the progress set";
    hud->setProgress(0.25);
    EXPECT_DOUBLE_EQ(dial()->progress(), 0.25);
    hud->setMode(ProgressHud::Mode::CustomView);  // no custom view: a spinner
    EXPECT_TRUE(spinner());
    auto custom = std::make_shared<View>(Rect(0, 0, 20, 20));
    hud->setCustomView(custom);
    hud->setMode(ProgressHud::Mode::Indeterminate);
    hud->setMode(ProgressHud::Mode::CustomView);
    EXPECT_EQ(hud->indicator(), custom);
    std::thread([&] {
        hud->setMode(ProgressHud::Mode::Determinate);
        hud->setProgress(0.5);
        hud->setLabelText("Uploading Photo");
        hud->setDetailsLabelText("1 of 3");
    }).join();
    EXPECT_EQ(hud->labelText(), "");
    ASSERT_TRUE(runUntil([&] { return hud->detailsLabelText() == "1 of 3"; }));
    ASSERT_TRUE(dial());
    EXPECT_DOUBLE_EQ(dial()->progress(), 0.5);
    // Each line with text sits under the indicator, centred in the box; with the label's
    // text gone both lines leave, as the details line never shows without a label.
    hud->layoutIfNeeded();
    EXPECT_GE(hud->label().frame().minY(), hud->indicator()->frame().maxY());
    EXPECT_GE(hud->detailsLabel().frame().minY(), hud->label().frame().maxY());
    EXPECT_NEAR(hud->detailsLabel().frame().midX(), 160, 1);
    double withLines = hud->height();
    hud->setLabelText("");
    hud->layoutIfNeeded();
    EXPECT_EQ(hud->detailsLabel().superview(), nullptr);
    EXPECT_LT(hud->height(), withLines);
}

struct Photo {};
struct Uploader {
    std::promise<void> go;
    std::shared_future<void> released = go.get_future().share();
    std::thread::id* ranOn;
    void upload(std::shared_ptr<Photo>) {
        *ranOn = std::this_thread::get_id();
        released.wait();
    }
};

TEST(ProgressHud, TaskRunsOnItsOwnThreadAndTheBoxHidesOnTheMainThreadWhenItReturns) {
    Overlay o;
    std::thread::id ranOn;
    auto uploader = std::make_shared<Uploader>();
    uploader->ranOn = &ranOn;
    auto photo = std::make_shared<Photo>();
    std::weak_ptr<Uploader> target = uploader;
    std::weak_ptr<Photo> object = photo;
    o.hud->showWhileExecuting(&Uploader::upload, std::move(uploader), std::move(photo), false);
    RunLoop::main().runFor(20ms);
    EXPECT_EQ(o.hud->alpha(), 1);
    ASSERT_FALSE(target.expired()) << "held while the task runs";
    target.lock()->go.set_value();
    ASSERT_TRUE(runUntil([&] { return o.hidden == 1; }));
    EXPECT_TRUE(o.hiddenOnMain);
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(target.expired() && object.expired()) << "let go once the task has ended";
    o.hud->showWhileExecuting([] { throw std::runtime_error("network down"); }, false);
    EXPECT_TRUE(runUntil([&] { return o.hidden == 2; })) << "hidden after a failure too";
}

TEST(ProgressHud, TurnsWithTheScreenOnAWindowAndFollowsItsParentsSize) {
    auto& app = Application::shared();
    app.setStatusBarOrientation(Application::Orientation::LandscapeLeft);
    auto window = std::make_shared<platform::Window>(Rect(0, 0, 320, 480));
    auto onWindow = std::make_shared<ProgressHud>(window.get());
    window->addSubview(onWindow);
    EXPECT_EQ(onWindow->transform(), AffineTransform::rotation(-M_PI / 2)) << "turned at once";
    Overlay onView;
    auto loose = std::make_shared<ProgressHud>(onView.parent.get());  // never added
    ManualClock clock;
    using O = Application::Orientation;
    for (auto [orientation, degrees] : {std::pair{O::LandscapeRight, 90},
                                        {O::PortraitUpsideDown, 180},
                                        {O::Portrait, 0},
                                        {O::LandscapeLeft, -90}}) {
        SCOPED_TRACE(degrees);
        onView.parent->setFrame(Rect(0, 0, 200 + degrees, 300));
        window->setFrame(Rect(0, 0, 480 + degrees, 320));
        app.setStatusBarOrientation(orientation);
        clock.advance(400ms);
        EXPECT_EQ(onWindow->transform(), AffineTransform::rotation(degrees * M_PI / 180));
        EXPECT_EQ(onWindow->frame(), window->bounds());
        EXPECT_TRUE(onView.hud->transform().isIdentity());
        EXPECT_EQ(onView.hud->frame(), onView.parent->bounds());
        EXPECT_EQ(loose->frame(), Rect(0, 0, 320, 480));
    }
    app.setStatusBarOrientation(O::Portrait);
}

// The Cancel button sits in the box under the text; Escape runs the action once (the button
// does too: the share screen's test), and while it is there no other key reaches the screen
// under the overlay.
TEST(ProgressHud, CancelRunsOnceByEscapeAndKeepsTheKeys) {
    using platform::KeyEvent;
    auto window = std::make_shared<platform::Window>(Rect(0, 0, 320, 480));
    window->makeKeyAndVisible();
    auto hud = ProgressHud::showHUDAddedTo(window.get(), false);
    hud->setLabelText("Uploading Photo");
    int cancels = 0;
    hud->setCancelAction([&] { ++cancels; });
    hud->layoutSubviews();
    auto button = hud->cancelButton();
    ASSERT_TRUE(button);
    Rect box((320 - hud->width()) / 2, (480 - hud->height()) / 2, hud->width(), hud->height());
    Rect b = button->frame();
    EXPECT_GE(b.minY(), hud->label().frame().maxY());
    EXPECT_TRUE(box.contains(b.origin) && b.maxX() <= box.maxX() && b.maxY() <= box.maxY());
    EXPECT_EQ(window->hitTest({b.midX(), b.midY()}), button.get());
    EXPECT_TRUE(platform::Window::dispatchKey(KeyEvent{KeyEvent::Key::Return}, true));
    EXPECT_EQ(cancels, 0);
    for (int i = 0; i < 2; ++i) {  // once only
        platform::Window::dispatchKey(KeyEvent{KeyEvent::Key::Escape}, true);
        EXPECT_EQ(cancels, 1);
        EXPECT_EQ(button->superview(), nullptr);
        EXPECT_FALSE(hud->cancel());
    }
    hud->hide(false);
    EXPECT_FALSE(hud->isFocused()) << "the keys go back to the window once hidden";
}

// The grace time shows the box only while a task is in progress; the minimum show time
// holds it up for the remainder after an early hide; either animation brings the box up and
// takes it down within its duration, reporting it hidden once at the end. Pending timers and
// animations give way to a later call.
TEST(ProgressHudTiming, GraceAndMinimumShowTimesAnimationsAndTheLatestCallWins) {
    for (bool task : {false, true}) {
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
    for (auto [hideAfter, stillUp] : {std::pair{200ms, 800ms}, {1500ms, 0ms}}) {
        ManualClock clock;
        Overlay o;
        o.hud->setMinShowTime(1.0);
        o.hud->show(false);
        clock.advance(hideAfter);
        o.hud->hide(false);
        if (stillUp > 0ms) {
            clock.advance(stillUp - 10ms);
            EXPECT_TRUE(o.hud->alpha() == 1 && o.hidden == 0);
            clock.advance(10ms);
        }
        EXPECT_TRUE(o.hud->alpha() == 0 && o.hidden == 1);
        EXPECT_EQ(o.hud->superview(), o.parent.get()) << "kept unless told to remove itself";
    }
    for (auto type : {ProgressHud::AnimationType::Fade, ProgressHud::AnimationType::Zoom}) {
        SCOPED_TRACE(int(type));
        ManualClock clock;
        Overlay o;
        o.hud->setAnimationType(type);
        o.hud->show(true);
        clock.advance(320ms);  // animations end on the first frame after their duration
        EXPECT_EQ(o.hud->alpha(), 1);
        EXPECT_EQ(o.hud->transform(), AffineTransform::identity());
        o.hud->hide(true);
        clock.advance(280ms);
        EXPECT_EQ(o.hidden, 0);
        clock.advance(40ms);
        EXPECT_TRUE(o.hidden == 1 && o.hud->alpha() == 0);
    }
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
    for (Overlay* o : {&hiddenInGrace, &shownAgain, &hiddenTwice, &hiddenTwice})
        o->hud->hide(false);
    shownWhileFading.hud->show(false);
    clock.advance(100ms);
    shownAgain.hud->show(false);
    clock.advance(2s);
    EXPECT_EQ(hiddenInGrace.hud->alpha(), 0) << "a hidden box never comes up";
    EXPECT_TRUE(shownAgain.hud->alpha() == 1 && shownAgain.hidden == 0);
    EXPECT_EQ(hiddenTwice.hidden, 1) << "two waiting hides hide once";
    EXPECT_TRUE(shownWhileFading.hud->alpha() == 1 && shownWhileFading.hidden == 0);
    EXPECT_EQ(shownWhileFading.hud->superview(), shownWhileFading.parent.get());
}

TEST(ProgressHudDrawing, TranslucentRoundedBoxWithAQuarterPieOnTheDial) {
    sharedGlContext();
    auto context = platform::GLContext::create();
    ASSERT_TRUE(context) << context.error().localizedDescription();
    auto compositor = platform::Compositor::create(context.value());
    ASSERT_TRUE(compositor) << compositor.error().localizedDescription();
    (*compositor)->context()->makeCurrent();
    platform::GLTextureTarget target(120, 120);
    auto root = std::make_shared<View>(Rect(0, 0, 120, 120));
    root->setBackgroundColor(platform::Color{0.2, 0.4, 0.6, 1});
    auto hud = std::make_shared<ProgressHud>(root.get());
    root->addSubview(hud);
    hud->setMode(ProgressHud::Mode::Determinate);
    hud->setProgress(0.25);
    hud->show(false);
    (*compositor)->draw({root.get()}, 120, 120, target.framebuffer());
    platform::Image image = platform::Compositor::readPixels(120, 120);
    (*compositor)->restoreContext();
    // Outside, the box, a cut-off corner and inside its arc; the pie and disc on either side
    // of twelve and three o'clock, the disc between six and nine, and the rim.
    const Rgb bg{51, 102, 153}, box{10, 20, 31}, disc{35, 44, 53}, white{255, 255, 255};
    // clang-format off
    const struct { int x, y; Rgb want; } cases[] = {
        {10, 59, bg}, {30, 59, box}, {22, 22, bg}, {26, 26, box}, {61, 48, white},
        {57, 48, disc}, {70, 57, white}, {70, 61, disc}, {53, 65, disc}, {43, 59, white}};
    // clang-format on
    for (const auto& c : cases)
        EXPECT_TRUE(near(image.pixel(c.x, c.y), c.want, 4)) << c.x << ", " << c.y;
}

}  // namespace
}  // namespace quorbit::hud
