#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/ui/Button.h"
#include "platform/ui/ScrollView.h"
#include "support/HostTestSupport.h"

namespace quorbit::platform {
namespace {

using namespace quorbit::testing;

// A child's input turned off hides its subtree; a grandchild sticking out of its parent is not
// hit outside the parent's bounds; frames are half-open (an edge belongs to the view it starts).
TEST(HitTesting, FindsDeepestVisibleInteractiveView) {
    using V = View;
    using T = AffineTransform;
    // clang-format off
    struct Case { const char* name; std::function<void(View& child, View& grandchild)> setup; Point point; const char* expected; };
    const Case cases[] = {
        {"plain", [](V&, V&) {}, {30, 30}, "grand"},
        {"outside grand", [](V&, V&) {}, {15, 15}, "child"},
        {"outside everything", [](V&, V&) {}, {300, 300}, "root"},
        {"grand's left edge", [](V&, V&) {}, {20, 30}, "grand"},
        {"grand's right edge", [](V&, V&) {}, {60, 30}, "child"},
        {"grand's top edge", [](V&, V&) {}, {30, 20}, "grand"},
        {"grand's bottom edge", [](V&, V&) {}, {30, 60}, "child"},
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
        std::string got = hit == root.get()    ? "root"
                          : hit == child.get() ? "child"
                                               : (hit == grandchild.get() ? "grand" : "none");
        EXPECT_EQ(got, c.expected) << c.name;
    }
}

TEST(TouchRouting, TouchStaysWithTheViewItBeganOnUntilThatViewGoes) {
    auto window = makeWindow();
    auto left = std::make_shared<TouchRecorder>(Rect(0, 0, 100, 100));
    auto right = std::make_shared<TouchRecorder>(Rect(100, 0, 100, 100));
    window->addSubview(left);
    window->addSubview(right);
    left->addSubview(std::make_shared<View>(Rect(10, 10, 50, 50)));  // passes touches up
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
    auto back = makeWindow(), front = std::make_shared<Window>(Window::screenBounds());
    auto backView = std::make_shared<TouchRecorder>(Rect(0, 0, 320, 480));
    auto frontView = std::make_shared<TouchRecorder>(Rect(0, 0, 320, 480));
    back->addSubview(backView);
    front->addSubview(frontView);
    tap({10, 10});  // the front window is still hidden
    EXPECT_EQ(backView->phases(), "began ended");
    front->setHidden(false);
    tap({10, 10});
    EXPECT_EQ(frontView->phases(), "began ended");
    EXPECT_EQ(backView->events.size(), 2u);
    // A higher level wins over a later window.
    front->setWindowLevel(Window::kLevelNormal);
    back->setWindowLevel(Window::kLevelAlert);
    tap({10, 10});
    EXPECT_EQ(backView->events.size(), 4u);
    EXPECT_EQ(Window::windows().back(), back.get());
}

// A button in a scroll view that scrolls sideways: its action runs on a touch lifted inside
// it (also after leaving and coming back), not outside; a sideways drag scrolls instead.
TEST(TouchRouting, ButtonRunsItsActionOnTouchUpInsideAndADragScrollsInstead) {
    auto window = makeWindow();
    auto scroll = std::make_shared<ScrollView>(Rect(0, 0, 320, 200));
    scroll->setContentSize({960, 200});
    window->addSubview(scroll);
    auto button = Button::create(Button::Type::Custom, Rect(100, 50, 100, 100));
    scroll->addSubview(button);
    CallLog log;
    button->addAction([&](Button&) { log("up-inside"); });
    button->addAction([&](Button&) { log("down"); }, Button::Event::TouchDown);
    button->addAction([&](Button&) { log("up-outside"); }, Button::Event::TouchUpOutside);
    button->addAction([&](Button&) { log("cancel"); }, Button::Event::TouchCancel);
    // A touch's moves and where it lifts, each move followed by whether the button is lit.
    auto gesture = [&](std::vector<Point> moves, std::vector<bool> lit) {
        touchDown({150, 100});
        std::vector<bool> seen{button->isHighlighted()};
        for (Point p : moves) {
            touchMove(p);
            seen.push_back(button->isHighlighted());
        }
        touchUp(moves.empty() ? Point{150, 100} : moves.back());
        EXPECT_EQ(seen, lit);
        EXPECT_FALSE(button->isHighlighted());
    };
    gesture({}, {true});
    gesture({{150, 190}, {150, 110}}, {true, false, true});  // a vertical move does not scroll
    gesture({{150, 190}}, {true, false});
    gesture({{154, 103}}, {true, true});  // a small wobble is still a tap
    EXPECT_EQ(scroll->contentOffset(), (Point{0, 0}));
    EXPECT_EQ(log.calls, (Calls{"down", "up-inside", "down", "up-inside", "down", "up-outside",
                                "down", "up-inside"}));
    // A real sideways move becomes a drag: the button is cancelled and the content follows.
    log.clear();
    touchDown({150, 100});
    touchMove({120, 100});
    EXPECT_FALSE(button->isHighlighted());
    EXPECT_TRUE(scroll->isDragging());
    touchMove({90, 100});
    EXPECT_DOUBLE_EQ(scroll->contentOffset().x, 60);
    touchUp({90, 100});
    EXPECT_EQ(log.calls, (Calls{"down", "cancel"}));
    // A disabled button is not hit at all: the touch falls through.
    runUntil([&] { return !scroll->isDecelerating(); });
    scroll->setContentOffset({0, 0});
    log.clear();
    button->setEnabled(false);
    tap({150, 100});
    EXPECT_TRUE(log.calls.empty());
}

}  // namespace
}  // namespace quorbit::platform
