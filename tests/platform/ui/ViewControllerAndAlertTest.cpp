#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/ViewController.h"
#include "support/HostTestSupport.h"

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

// A delegate that writes what the alert tells it into log.
AlertViewDelegate loggingDelegate(CallLog& log) {
    auto note = [&log](const char* what) {
        return [&log, what](AlertView&, int i) { log(what + std::to_string(i)); };
    };
    return {note("clicked "), nullptr, nullptr, note("willDismiss "), note("didDismiss ")};
}

Calls dismissedWith(int i) {
    std::string n = std::to_string(i);
    return {"clicked " + n, "willDismiss " + n, "didDismiss " + n};
}

// The buttons in reading order (top to bottom, left to right) with the index each one has. A
// tap tells the delegate that index, the alert goes at once and lets itself go after.
TEST(AlertView, ButtonsSitInTheirPlacesAndATapReportsTheirOwnIndex) {
    // clang-format off
    struct Slot { const char* title; int index; };
    struct Case { std::optional<std::string> cancel; std::vector<std::string> others; bool sideBySide; std::vector<Slot> slots; };
    const Case cases[] = {
        {"No", {"Yes"}, true, {{"No", 0}, {"Yes", 1}}},
        {std::nullopt, {"Left", "Right"}, true, {{"Left", 0}, {"Right", 1}}},
        {"No", {"Rate It", "Later"}, false, {{"Rate It", 1}, {"Later", 2}, {"No", 0}}},
        {std::nullopt, {"One", "Two", "Three"}, false, {{"One", 0}, {"Two", 1}, {"Three", 2}}},
        {"Cancel", {}, false, {{"Cancel", 0}}},
    };
    // clang-format on
    for (const auto& c : cases) {
        for (const Slot& tapped : c.slots) {
            auto window = makeWindow();
            CallLog log;
            AlertViewDelegate delegate = loggingDelegate(log);
            auto made = AlertView::create("T", "M", &delegate, c.cancel, c.others);
            made->show();
            std::weak_ptr<AlertView> weak = std::exchange(made, nullptr);
            AlertView* alert = AlertView::visibleAlert();
            ASSERT_TRUE(alert && alert == weak.lock().get()) << "a shown alert keeps itself";
            RunLoop::main().runFor(300ms);  // let it pop in
            EXPECT_EQ(alert->cancelButtonIndex(), c.cancel ? 0 : -1);
            EXPECT_EQ(alert->buttonTitleAtIndex(int(c.slots.size())), "") << "past the last";
            for (size_t i = 0; i < c.slots.size(); ++i) {
                Button* button = alert->buttonAtIndex(c.slots[i].index);
                ASSERT_NE(button, nullptr);
                EXPECT_EQ(button->currentTitle(), c.slots[i].title);
                EXPECT_EQ(alert->buttonTitleAtIndex(c.slots[i].index), c.slots[i].title);
                if (i == 0) continue;
                Rect before = alert->buttonAtIndex(c.slots[i - 1].index)->frame(),
                     here = button->frame();
                EXPECT_TRUE(c.sideBySide
                                ? here.minY() == before.minY() && here.minX() >= before.maxX()
                                : here.minY() >= before.maxY())
                    << c.slots[i].title;
            }
            Button* button = alert->buttonAtIndex(tapped.index);
            Rect b = button->bounds();
            tap(button->convertToWindow({b.midX(), b.midY()}));
            EXPECT_EQ(AlertView::visibleAlert(), nullptr) << "gone from view at once";
            ASSERT_TRUE(runUntil([&] { return log.calls.size() == 3; }));
            EXPECT_EQ(log.calls, dismissedWith(tapped.index)) << tapped.title;
            EXPECT_TRUE(weak.expired());
            EXPECT_EQ(Window::keyWindow(), window.get()) << "key window given back";
        }
    }
}

// Alerts swallow touches outside their box and every key, and stack. Escape is the cancel
// button where there is one (a held key's repeats are no new press); a dismissal before the
// alert is shown, with a bad index or once it is going does nothing; it may be shown again.
TEST(AlertView, ModalForTouchesAndKeysStackedAndDismissedOnce) {
    auto window = makeWindow();
    auto screen = std::make_shared<KeyScreen>();
    window->setRootViewController(screen);
    auto button = Button::create(Button::Type::Custom, Rect(0, 0, 320, 480));
    window->addSubview(button);
    int taps = 0;
    button->addAction([&](Button&) { ++taps; });
    KeyEvent escape{KeyEvent::Key::Escape}, held{KeyEvent::Key::Escape},
        a{KeyEvent::Key::Character, 'a'};
    held.repeat = true;
    CallLog first, second;
    AlertViewDelegate firstDelegate = loggingDelegate(first),
                      secondDelegate = loggingDelegate(second);
    auto alert = AlertView::create("First", "", &firstDelegate, std::nullopt, {"Yes", "No"});
    alert->dismissWithClickedButtonIndex(0, false);  // not shown yet
    alert->show();
    tap({5, 5});  // outside the box
    EXPECT_EQ(taps, 0);
    AlertView::create("Second", "", &secondDelegate, "OK")->show();
    EXPECT_EQ(AlertView::visibleAlert()->title(), "Second");
    Window::dispatchKey(held, true);
    EXPECT_TRUE(second.calls.empty());
    Window::dispatchKey(escape, true);
    ASSERT_TRUE(runUntil([&] { return second.calls.size() == 3; }));
    EXPECT_EQ(second.calls, dismissedWith(0));
    EXPECT_EQ(AlertView::visibleAlert(), alert.get());
    Window::dispatchKey(escape, true);  // no cancel button: nothing to press
    Window::dispatchKey(a, true);
    alert->dismissWithClickedButtonIndex(2, false);
    alert->dismissWithClickedButtonIndex(-1, false);
    EXPECT_TRUE(first.calls.empty());
    EXPECT_TRUE(alert->isVisible());
    alert->dismissWithClickedButtonIndex(1, true);
    alert->dismissWithClickedButtonIndex(0, true);  // already going
    ASSERT_TRUE(runUntil([&] { return !alert->isVisible(); }));
    EXPECT_EQ(first.calls, dismissedWith(1));
    EXPECT_TRUE(screen->log.empty()) << "the alerts kept every key";
    EXPECT_EQ(AlertView::visibleAlert(), nullptr);
    tap({5, 5});
    EXPECT_EQ(taps, 1);
    alert->show();
    EXPECT_EQ(AlertView::visibleAlert(), alert.get());
    alert->dismissWithClickedButtonIndex(0, false);
    window->setRootViewController(nullptr);
}

}  // namespace
}  // namespace quorbit::platform
