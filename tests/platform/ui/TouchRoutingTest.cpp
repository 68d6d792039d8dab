#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/ui/Button.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "support/HostTestSupport.h"

namespace quorbit::platform {
namespace {

using namespace quorbit::testing;

struct HitCase {
    const char* name;
    std::function<void(View& child, View& grandchild)> setup;
    Point point;
    const char* expected;  // "root", "child", "grand" (the grandchild) or "none"
};

TEST(HitTesting, FindsDeepestVisibleInteractiveView) {
    // A child's input turned off hides its subtree. A grandchild sticking out of its parent is
    // not hit outside the parent's bounds; scaled up about its centre, the child covers more of
    // the root; content scrolled by the bounds origin moves the grandchild under the finger.
    using V = View;
    using T = AffineTransform;
    // clang-format off
    const HitCase cases[] = {
        {"plain", [](V&, V&) {}, {30, 30}, "grand"},
        {"outside grand", [](V&, V&) {}, {15, 15}, "child"},
        {"outside everything", [](V&, V&) {}, {300, 300}, "root"},
        {"grand hidden", [](V&, V& g) { g.setHidden(true); }, {30, 30}, "child"},
        {"grand no input", [](V&, V& g) { g.setUserInteractionEnabled(false); }, {30, 30}, "child"},
        {"grand transparent", [](V&, V& g) { g.setAlpha(0); }, {30, 30}, "child"},
        {"child no input", [](V& c, V&) { c.setUserInteractionEnabled(false); }, {30, 30}, "root"},
        {"hidden child", [](V& c, V&) { c.setHidden(true); }, {30, 30}, "root"},
        {"beyond parent", [](V&, V& g) { g.setFrame(Rect(10, 10, 200, 20)); }, {150, 25}, "root"},
        {"scaled child", [](V& c, V&) { c.setTransform(T::scale(2, 2)); }, {150, 150}, "child"},
        {"bounds origin", [](V& c, V&) { c.setBounds(Rect(20, 20, 100, 100)); }, {15, 15}, "grand"},
    };
    // clang-format on
    for (const auto& c : cases) {
        auto root = std::make_shared<View>(Rect(0, 0, 320, 480));
        auto child = std::make_shared<View>(Rect(10, 10, 100, 100));
        auto grandchild = std::make_shared<View>(Rect(10, 10, 40, 40));
        root->addSubview(child);
        child->addSubview(grandchild);
        c.setup(*child, *grandchild);
        View* hit = root->hitTest(c.point);
        std::string got = hit == root.get()         ? "root"
                          : hit == child.get()      ? "child"
                          : hit == grandchild.get() ? "grand"
                                                    : "none";
        EXPECT_EQ(got, c.expected) << c.name;
    }
}

// Frames are half-open: a point on the edge two siblings share belongs to the one whose
// left (or top) edge it is, whichever of the two lies on top.
TEST(HitTesting, APointOnTheEdgeOfTwoSiblingsHitsTheOneItStarts) {
    struct Case {
        Point point;
        const char* expected;  // "first" at (0, 0, 50, 50), "second" beside or below it
    };
    for (bool beside : {true, false}) {
        Rect second = beside ? Rect(50, 0, 50, 50) : Rect(0, 50, 50, 50);
        const Case cases[] = {
            {beside ? Point{50, 25} : Point{25, 50}, "second"},
            {beside ? Point{49.75, 25} : Point{25, 49.75}, "first"},
            {{0, 0}, "first"},
            {beside ? Point{100, 25} : Point{25, 100}, "root"},  // past the far edge
        };
        for (bool secondOnTop : {true, false}) {
            auto root = std::make_shared<View>(Rect(0, 0, 320, 480));
            auto a = std::make_shared<View>(Rect(0, 0, 50, 50));
            auto b = std::make_shared<View>(second);
            root->addSubview(secondOnTop ? a : b);
            root->addSubview(secondOnTop ? b : a);
            for (const auto& c : cases) {
                View* hit = root->hitTest(c.point);
                std::string got = hit == a.get()      ? "first"
                                  : hit == b.get()    ? "second"
                                  : hit == root.get() ? "root"
                                                      : "none";
                EXPECT_EQ(got, c.expected)
                    << "at " << c.point.x << ", " << c.point.y << (beside ? " beside" : " below")
                    << (secondOnTop ? ", second on top" : "");
            }
        }
    }
}

TEST(TouchRouting, TouchStaysWithTheViewItBeganOnUntilThatViewGoes) {
    auto window = makeWindow();
    auto left = std::make_shared<TouchRecorder>(Rect(0, 0, 100, 100));
    auto right = std::make_shared<TouchRecorder>(Rect(100, 0, 100, 100));
    window->addSubview(left);
    window->addSubview(right);
    auto plain = std::make_shared<View>(Rect(10, 10, 50, 50));  // passes touches up
    left->addSubview(plain);

    touchDown({50, 50});
    touchMove({150, 50});  // over the other view now
    touchUp({150, 50});
    // Two fingers at once go to their own views; the plain view's finger climbs to left.
    touchDown({20, 20}, 1);
    touchDown({150, 50}, 2);
    touchUp({150, 50}, 2);
    touchUp({20, 20}, 1);
    EXPECT_EQ(left->phases(), "began moved ended began ended");
    EXPECT_EQ(right->phases(), "began ended");
    EXPECT_FALSE(Window::hasActiveTouches());

    // A view removed under the finger is forgotten, not sent the rest.
    touchDown({150, 50});
    std::weak_ptr<View> weak = right;
    right->removeFromSuperview();
    right.reset();
    EXPECT_TRUE(weak.expired());
    touchMove({160, 50});
    touchUp({160, 50});
    EXPECT_FALSE(Window::hasActiveTouches());

    // Hiding the window cancels the touches on it.
    left->events.clear();
    touchDown({50, 50});
    window->setHidden(true);
    EXPECT_EQ(left->phases(), "began cancelled");
    EXPECT_FALSE(Window::hasActiveTouches());
}

TEST(TouchRouting, TopmostVisibleWindowTakesTheTouch) {
    auto back = makeWindow();
    auto backView = std::make_shared<TouchRecorder>(Rect(0, 0, 320, 480));
    back->addSubview(backView);
    auto front = std::make_shared<Window>(Window::screenBounds());
    auto frontView = std::make_shared<TouchRecorder>(Rect(0, 0, 320, 480));
    front->addSubview(frontView);

    tap({10, 10});  // the front window is still hidden
    EXPECT_EQ(backView->events.size(), 2u);
    front->setHidden(false);
    tap({10, 10});
    EXPECT_EQ(frontView->events.size(), 2u);
    EXPECT_EQ(backView->events.size(), 2u);

    // A higher level wins over a later window.
    front->setWindowLevel(Window::kLevelNormal);
    back->setWindowLevel(Window::kLevelAlert);
    tap({10, 10});
    EXPECT_EQ(backView->events.size(), 4u);
    EXPECT_EQ(Window::windows().back(), back.get());
}

TEST(TouchRouting, ButtonRunsItsActionOnlyOnTouchUpInside) {
    auto window = makeWindow();
    auto button = Button::create(Button::Type::Custom, Rect(100, 100, 60, 40));
    window->addSubview(button);
    CallLog log;
    button->addAction([&](Button&) { log("up-inside"); });
    button->addAction([&](Button&) { log("down"); }, Button::Event::TouchDown);
    button->addAction([&](Button&) { log("up-outside"); }, Button::Event::TouchUpOutside);

    touchDown({120, 120});
    EXPECT_TRUE(button->isHighlighted());
    touchUp({120, 120});
    EXPECT_FALSE(button->isHighlighted());
    EXPECT_EQ(log.calls, (std::vector<std::string>{"down", "up-inside"}));

    // Out and back in still counts; out and lifted does not.
    log.clear();
    touchDown({120, 120});
    touchMove({300, 400});
    EXPECT_FALSE(button->isHighlighted());
    touchMove({130, 130});
    EXPECT_TRUE(button->isHighlighted());
    touchUp({130, 130});
    touchDown({120, 120});
    touchMove({300, 400});
    touchUp({300, 400});
    EXPECT_EQ(log.calls, (std::vector<std::string>{"down", "up-inside", "down", "up-outside"}));

    // A disabled button is not hit at all: the touch falls through to the window.
    log.clear();
    button->setEnabled(false);
    tap({120, 120});
    EXPECT_TRUE(log.calls.empty());
}

TEST(TouchRouting, DragOnAButtonInsideAScrollViewScrollsInstead) {
    auto window = makeWindow();
    auto scroll = std::make_shared<ScrollView>(Rect(0, 0, 320, 200));
    scroll->setContentSize({960, 200});
    window->addSubview(scroll);
    auto button = Button::create(Button::Type::Custom, Rect(100, 50, 100, 100));
    scroll->addSubview(button);
    int taps = 0, cancels = 0;
    button->addAction([&](Button&) { ++taps; });
    button->addAction([&](Button&) { ++cancels; }, Button::Event::TouchCancel);
    CallLog log;
    ScrollViewDelegate delegate;
    delegate.willBeginDragging = [&](ScrollView&) { log("willBeginDragging"); };
    scroll->setDelegate(&delegate);

    // A small wobble is still a tap.
    touchDown({150, 100});
    touchMove({154, 103});
    touchUp({154, 103});
    EXPECT_EQ(taps, 1);
    EXPECT_EQ(scroll->contentOffset(), (Point{0, 0}));

    // A real move becomes a drag: the button is cancelled and the content follows.
    touchDown({150, 100});
    touchMove({120, 100});
    EXPECT_EQ(cancels, 1);
    EXPECT_FALSE(button->isHighlighted());
    EXPECT_TRUE(scroll->isDragging());
    touchMove({90, 100});
    EXPECT_DOUBLE_EQ(scroll->contentOffset().x, 60);
    touchUp({90, 100});
    EXPECT_EQ(taps, 1);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"willBeginDragging"}));

    // A vertical move in a scroll view that only scrolls sideways stays with the button.
    runUntil([&] { return !scroll->isDecelerating(); });
    scroll->setContentOffset({0, 0});
    touchDown({150, 100});
    touchMove({150, 140});
    EXPECT_TRUE(button->isHighlighted());
    touchMove({150, 110});
    touchUp({150, 110});
    EXPECT_EQ(taps, 2);
}

}  // namespace
}  // namespace quorbit::platform
