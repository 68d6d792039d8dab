#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/ui/ViewController.h"

namespace quorbit::platform {
namespace {

using namespace quorbit::testing;

// A screen that writes every lifecycle callback, prefixed with its name, into a shared log.
class Screen : public ViewController {
  public:
    Screen(std::string name, CallLog& log) : _name(std::move(name)), _log(log) {}
    void loadView() override {
        note(".loadView");
        ViewController::loadView();
    }
    void viewDidLoad() override { note(".viewDidLoad"); }
    void viewWillAppear(bool) override { note(".willAppear"); }
    void viewDidAppear(bool) override { note(".didAppear", onDidAppear); }
    void viewWillDisappear(bool) override { note(".willDisappear"); }
    void viewDidDisappear(bool) override { note(".didDisappear", onDidDisappear); }
    void viewDidUnload() override { note(".didUnload"); }
    std::function<void()> onDidAppear, onDidDisappear;

  private:
    void note(const char* what, const std::function<void()>& then = nullptr) {
        _log(_name + what);
        if (then) then();
    }
    std::string _name;
    CallLog& _log;
};

// A window whose root screen is "root" (shown unless asked not to yet) and a child screen
// writing into the same log; takeLog hands over what was written since it was last asked.
struct Stage {
    CallLog log;
    std::shared_ptr<Screen> root = std::make_shared<Screen>("root", log);
    std::shared_ptr<Screen> child = std::make_shared<Screen>("child", log);
    std::shared_ptr<Window> window = std::make_shared<Window>();
    explicit Stage(bool visible = true) {
        window->setRootViewController(root);
        if (visible) window->makeKeyAndVisible();
    }
    Calls takeLog() { return std::exchange(log.calls, {}); }
    bool settle() {
        return runUntil([&] { return !root->isTransitioning(); });
    }
};

// The root screen's view is loaded with the window and fills it; the order in which both
// screens hear a modal presentation and its dismissal, with and without animation.
TEST(ViewController, LifecycleOfTheRootScreenAndOfAModalInOrder) {
    for (bool animated : {false, true}) {
        SCOPED_TRACE(animated ? "animated" : "at once");
        Stage stage(false);
        auto root = stage.root, child = stage.child;
        auto& window = stage.window;
        EXPECT_EQ(stage.takeLog(), (Calls{"root.loadView", "root.viewDidLoad"}));
        window->makeKeyAndVisible();
        EXPECT_EQ(root->view()->superview(), window.get());
        EXPECT_EQ(root->view()->frame(), Window::screenBounds());
        stage.takeLog();

        root->presentModalViewController(child, animated);
        EXPECT_EQ(root->isTransitioning(), animated);
        EXPECT_TRUE(!animated || root->view()->superview() == window.get()) << "covered at the end";
        ASSERT_TRUE(stage.settle());
        EXPECT_EQ(stage.takeLog(),
                  (Calls{"child.loadView", "child.viewDidLoad", "root.willDisappear",
                         "child.willAppear", "root.didDisappear", "child.didAppear"}));
        EXPECT_EQ(root->modalViewController(), child);
        EXPECT_EQ(child->view()->superview(), window.get());
        EXPECT_EQ(child->view()->frame(), window->bounds());
        EXPECT_EQ(root->view()->superview(), nullptr);

        child->dismissModalViewControllerAnimated(animated);  // asks the presenter
        EXPECT_TRUE(stage.settle());
        EXPECT_EQ(root->modalViewController(), nullptr);
        EXPECT_EQ(child->view()->superview(), nullptr);
        EXPECT_EQ(root->view()->superview(), window.get());
        EXPECT_EQ(child->view()->frame(), window->bounds()) << "slid back for the next time";
        window->setHidden(true);
        EXPECT_EQ(stage.takeLog(),
                  (Calls{"child.willDisappear", "root.willAppear", "child.didDisappear",
                         "root.didAppear", "root.willDisappear", "root.didDisappear"}));
    }
}

// What the screens rely on: a child that closes itself and, on disappearing, tells the
// parent, which may at once present again when it reappears.
TEST(ViewController, ScreensMayPresentAgainFromTheirCallbacks) {
    Stage stage(false);
    auto root = stage.root, child = stage.child;
    int restarts = 0, presents = 0;
    child->onDidDisappear = [&] { ++restarts; };
    root->onDidAppear = [&] {
        if (presents++ < 2) root->presentModalViewController(child, false);
    };
    stage.window->makeKeyAndVisible();
    EXPECT_EQ(root->modalViewController(), child);
    child->dismissModalViewControllerAnimated(false);
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(root->modalViewController(), child) << "presented again from didAppear";
    child->dismissModalViewControllerAnimated(false);
    EXPECT_EQ(restarts, 2);
    EXPECT_EQ(root->modalViewController(), nullptr);
}

// A second modal, or one during a transition, is refused; dismissing takes down what the
// modal presented in turn.
TEST(ViewController, OneModalAtATimeAndDismissingTakesDownItsModalToo) {
    Stage stage;
    auto root = stage.root, share = stage.child;
    auto mail = std::make_shared<Screen>("mail", stage.log);
    auto& window = stage.window;
    root->presentModalViewController(share, true);
    root->presentModalViewController(mail, false);    // while share slides in
    root->dismissModalViewControllerAnimated(false);  // also refused mid-transition
    ASSERT_TRUE(stage.settle());
    EXPECT_EQ(root->modalViewController(), share);
    root->presentModalViewController(mail, false);  // share is up
    EXPECT_EQ(root->modalViewController(), share);
    EXPECT_FALSE(mail->isViewLoaded());

    share->presentModalViewController(mail, false);
    EXPECT_EQ(mail->view()->superview(), window.get());
    // The mail screen dismissing itself returns to the share screen.
    mail->dismissModalViewControllerAnimated(false);
    EXPECT_EQ(share->view()->superview(), window.get());
    EXPECT_EQ(root->modalViewController(), share);

    share->presentModalViewController(mail, false);
    root->dismissModalViewControllerAnimated(false);
    EXPECT_EQ(mail->view()->superview(), nullptr);
    EXPECT_EQ(share->view()->superview(), nullptr);
    EXPECT_EQ(root->view()->superview(), window.get());
    EXPECT_EQ(stage.log.calls.back(), "root.didAppear");
}

TEST(ViewController, MemoryWarningUnloadsOnlyViewsOffScreen) {
    Stage stage;
    auto root = stage.root, child = stage.child;
    root->presentModalViewController(child, false);
    root->dismissModalViewControllerAnimated(false);
    stage.takeLog();
    ViewController::postMemoryWarning();
    EXPECT_TRUE(root->isViewLoaded());
    EXPECT_FALSE(child->isViewLoaded());
    EXPECT_EQ(stage.takeLog(), (Calls{"child.didUnload"}));
    // The next presentation builds it again.
    root->presentModalViewController(child, false);
    EXPECT_EQ(stage.takeLog().front(), "child.loadView");
    EXPECT_EQ(child->view()->superview(), stage.window.get());
    // The covered root unloads too and comes back when the child goes.
    ViewController::postMemoryWarning();
    EXPECT_FALSE(root->isViewLoaded());
    root->dismissModalViewControllerAnimated(false);
    EXPECT_TRUE(root->isViewLoaded());
    EXPECT_EQ(root->view()->superview(), stage.window.get());
}

}  // namespace
}  // namespace quorbit::platform
