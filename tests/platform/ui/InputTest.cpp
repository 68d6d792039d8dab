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

// A focusable view that keeps the keys and text it gets (or, passing, lets them go on up)
// and counts its changes of focus.
class KeyTaker : public View {
  public:
    explicit KeyTaker(Rect frame, bool passing = false) : View(frame), passing(passing) {}
    bool canBecomeFocused() const override { return true; }
    void keyDown(const KeyEvent& e) override { passing ? View::keyDown(e) : note("down ", e); }
    void keyUp(const KeyEvent& e) override { passing ? View::keyUp(e) : note("up ", e); }
    void textInput(const std::string& text) override { log.push_back("text " + text); }
    void note(const char* what, const KeyEvent& e) {
        log.push_back(what + std::to_string(int(e.key)));
    }
    bool passing;
    Calls log;
    int focusChanges = 0;

  protected:
    void didChangeFocus(bool) override { ++focusChanges; }
};

TEST(KeyInput, GoesToTheViewATouchFocusedInTheKeyWindow) {
    auto window = makeWindow();
    auto first = std::make_shared<KeyTaker>(Rect(0, 0, 100, 100));
    auto second = std::make_shared<KeyTaker>(Rect(0, 200, 100, 100));
    auto plain = std::make_shared<View>(Rect(5, 5, 20, 20));  // inside first, takes no keys
    first->addSubview(plain);
    window->addSubview(first);
    window->addSubview(second);
    KeyEvent enter{KeyEvent::Key::Return};
    EXPECT_FALSE(Window::dispatchText("lost")) << "nothing is focused yet";
    tap({10, 10});  // on the plain view: its focusable parent takes the focus
    EXPECT_TRUE(first->isFocused());
    EXPECT_TRUE(Window::dispatchText("hé"));
    EXPECT_TRUE(Window::dispatchKey(enter, true));
    EXPECT_TRUE(Window::dispatchKey(enter, false));
    tap({50, 250});
    EXPECT_TRUE(second->isFocused());
    EXPECT_FALSE(first->isFocused());
    Window::dispatchText("b");
    EXPECT_EQ(first->log, (Calls{"text hé", "down 2", "up 2"}));
    EXPECT_EQ(second->log, (Calls{"text b"}));
    EXPECT_EQ(first->focusChanges, 2);
    tap({300, 400});  // the window itself takes no keys: the focus stays
    EXPECT_TRUE(second->isFocused());
    second->removeFromSuperview();  // a view that left the window gets nothing
    EXPECT_FALSE(Window::dispatchText("c"));
    EXPECT_EQ(second->log.size(), 1u);
    EXPECT_FALSE(plain->becomeFocused());
    EXPECT_TRUE(first->becomeFocused());
    first->resignFocused();
    EXPECT_FALSE(Window::dispatchKey(enter, true));
}

TEST(KeyInput, KeysNoFocusedViewKeepsGoToTheTopScreen) {
    auto window = makeWindow();
    auto root = std::make_shared<KeyScreen>(), top = std::make_shared<KeyScreen>();
    window->setRootViewController(root);
    auto press = [](char32_t c) {
        KeyEvent e{KeyEvent::Key::Character, c};
        bool taken = Window::dispatchKey(e, true);
        Window::dispatchKey(e, false);  // let go: no screen hears it
        return taken;
    };
    EXPECT_TRUE(press('a')) << "nothing focused: straight to the screen";
    root->presentModalViewController(top, false);
    ASSERT_EQ(window->topViewController(), top.get());
    EXPECT_TRUE(press('b'));
    EXPECT_TRUE(Window::dispatchWheel(0, -2));
    auto passing = std::make_shared<KeyTaker>(Rect(0, 0, 50, 50), true);
    auto keeping = std::make_shared<KeyTaker>(Rect(5, 5, 20, 20));
    passing->addSubview(keeping);
    top->view()->addSubview(passing);
    ASSERT_TRUE(passing->becomeFocused());
    press('c');  // up the passing view's chain to the window, then the screen
    ASSERT_TRUE(keeping->becomeFocused());
    press('d');  // kept by the focused view
    EXPECT_EQ(keeping->log, (Calls{"down 1", "up 1"}));
    EXPECT_EQ(top->log, (Calls{"b", "wheel 0,-2", "c"}));
    EXPECT_EQ(root->log, (Calls{"a"}));
    root->dismissModalViewControllerAnimated(false);
    window->setRootViewController(nullptr);
}

}  // namespace
}  // namespace quorbit::platform
