#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "support/HostTestSupport.h"

namespace quorbit::platform {
namespace {

using namespace quorbit::testing;

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
