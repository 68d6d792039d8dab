#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/ui/ViewController.h"

namespace quorbit::platform {
namespace {

using namespace quorbit::testing;
using Calls = std::vector<std::string>;

// A screen that writes every lifecycle callback, prefixed with its name, into a shared log.
class Screen : public ViewController {
  public:
    Screen(std::string name, CallLog& log) : _name(std::move(name)), _log(log) {}
    void loadView() override {
        _log(_name + ".loadView");
        ViewController::loadView();
    }
    void viewDidLoad() override { _log(_name + ".viewDidLoad"); }
    void viewWillAppear(bool) override { _log(_name + ".willAppear"); }
    void viewDidAppear(bool) override {
        _log(_name + ".didAppear");
        if (onDidAppear) onDidAppear();
    }
    void viewWillDisappear(bool) override { _log(_name + ".willDisappear"); }
    void viewDidDisappear(bool) override {
        _log(_name + ".didDisappear");
        if (onDidDisappear) onDidDisappear();
    }
    void viewDidUnload() override { _log(_name + ".didUnload"); }
    std::function<void()> onDidAppear, onDidDisappear;

  private:
    std::string _name;
    CallLog& _log;
};

// A window whose root screen is "root" (shown unless asked not to yet); the screens made by
// screen() write into the same log.
struct Stage {
    CallLog log;
    std::shared_ptr<Screen> root = std::make_shared<Screen>("root", log);
    std::shared_ptr<Window> window = std::make_shared<Window>();
    explicit Stage(bool visible = true) {
        window->setRootViewController(root);
        if (visible) window->makeKeyAndVisible();
    }
    std::shared_ptr<Screen> screen(const char* name) { return std::make_shared<Screen>(name, log); }
};

// The root screen's view is loaded with the window and fills it; the order in which both
// screens hear a modal presentation and its dismissal, with and without animation.
TEST(ViewController, LifecycleOfTheRootScreenAndOfAModalInOrder) {
    for (bool animated : {false, true}) {
        Stage stage(false);
        auto root = stage.root, child = stage.screen("child");
        auto& window = stage.window;
        EXPECT_EQ(stage.log.calls, (Calls{"root.loadView", "root.viewDidLoad"}));
        window->makeKeyAndVisible();
        EXPECT_EQ(root->view()->superview(), window.get());
        EXPECT_EQ(root->view()->frame(), Window::screenBounds());
        stage.log.clear();

        root->presentModalViewController(child, animated);
        if (animated) {
            EXPECT_TRUE(root->isTransitioning());
            EXPECT_EQ(root->view()->superview(), window.get()) << "covered only at the end";
        }
        ASSERT_TRUE(runUntil([&] { return !root->isTransitioning(); }));
        EXPECT_EQ(stage.log.calls,
                  (Calls{"child.loadView", "child.viewDidLoad", "root.willDisappear",
                         "child.willAppear", "root.didDisappear", "child.didAppear"}))
            << "animated " << animated;
        EXPECT_EQ(root->modalViewController(), child);
        EXPECT_EQ(child->view()->superview(), window.get());
        EXPECT_EQ(child->view()->frame(), window->bounds());
        EXPECT_EQ(root->view()->superview(), nullptr);

        stage.log.clear();
        child->dismissModalViewControllerAnimated(animated);  // asks the presenter
        EXPECT_TRUE(runUntil([&] { return !root->isTransitioning(); }));
        EXPECT_EQ(root->modalViewController(), nullptr);
        EXPECT_EQ(child->view()->superview(), nullptr);
        EXPECT_EQ(root->view()->superview(), window.get());
        EXPECT_EQ(child->view()->frame(), window->bounds()) << "slid back for the next time";
        window->setHidden(true);
        EXPECT_EQ(stage.log.calls,
                  (Calls{"child.willDisappear", "root.willAppear", "child.didDisappear",
                         "root.didAppear", "root.willDisappear", "root.didDisappear"}))
            << "animated " << animated;
    }
}

// What the screens rely on: a child that closes itself and, on disappearing, tells the
// parent, which may at once present again when it reappears.
TEST(ViewController, ScreensMayPresentAgainFromTheirCallbacks) {
    Stage stage(false);
    auto root = stage.root, child = stage.screen("child");
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
    auto root = stage.root, share = stage.screen("share"), mail = stage.screen("mail");
    auto& window = stage.window;
    root->presentModalViewController(share, true);
    root->presentModalViewController(mail, false);    // while share slides in
    root->dismissModalViewControllerAnimated(false);  // also refused mid-transition
    ASSERT_TRUE(runUntil([&] { return !root->isTransitioning(); }));
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
    auto root = stage.root, child = stage.screen("child");
    root->presentModalViewController(child, false);
    root->dismissModalViewControllerAnimated(false);
    stage.log.clear();

    ViewController::postMemoryWarning();
    EXPECT_TRUE(root->isViewLoaded());
    EXPECT_FALSE(child->isViewLoaded());
    EXPECT_EQ(stage.log.calls, (Calls{"child.didUnload"}));

    // The next presentation builds it again.
    stage.log.clear();
    root->presentModalViewController(child, false);
    EXPECT_EQ(stage.log.calls.front(), "child.loadView");
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
