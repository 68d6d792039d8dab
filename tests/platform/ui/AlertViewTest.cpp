#include <gtest/gtest.h>

#include <algorithm>

#include "UiTestSupport.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Window.h"

namespace quorbit::platform {
namespace {

using namespace quorbit::testing;
using Calls = std::vector<std::string>;

struct AlertLog {
    CallLog log;
    AlertViewDelegate delegate;
    AlertLog() {
        delegate.clickedButtonAtIndex = [this](AlertView&, int i) {
            log("clicked " + std::to_string(i));
        };
        delegate.willDismissWithButtonIndex = [this](AlertView&, int i) {
            log("willDismiss " + std::to_string(i));
        };
        delegate.didDismissWithButtonIndex = [this](AlertView&, int i) {
            log("didDismiss " + std::to_string(i));
        };
    }
};

// Where each button sits and which index a tap there reports, found from the screen alone:
// the buttons in reading order (top to bottom, left to right) and the index each one has.
// A tap tells the delegate that index, the alert goes at once and lets itself go after.
TEST(AlertView, ButtonsSitInTheirPlacesAndATapReportsTheirOwnIndex) {
    struct Slot {
        const char* title;
        int index;
    };
    struct Case {
        std::optional<std::string> cancel;
        std::vector<std::string> others;
        bool sideBySide;
        std::vector<Slot> slots;  // in reading order
    };
    // clang-format off
    const Case cases[] = {
        {"No", {"Yes"}, true, {{"No", 0}, {"Yes", 1}}},
        {std::nullopt, {"Left", "Right"}, true, {{"Left", 0}, {"Right", 1}}},
        {"No", {"Rate It", "Later"}, false, {{"Rate It", 1}, {"Later", 2}, {"No", 0}}},
        {std::nullopt, {"One", "Two", "Three"}, false, {{"One", 0}, {"Two", 1}, {"Three", 2}}},
        {"Cancel", {}, false, {{"Cancel", 0}}},
    };
    // clang-format on
    for (const auto& c : cases) {
        for (size_t slot = 0; slot < c.slots.size(); ++slot) {
            SCOPED_TRACE(c.slots[slot].title);
            auto window = makeWindow();
            AlertLog log;
            std::weak_ptr<AlertView> weak;
            {
                auto made = AlertView::create("T", "M", &log.delegate, c.cancel, c.others);
                weak = made;
                made->show();
            }
            AlertView* alert = AlertView::visibleAlert();
            ASSERT_TRUE(alert && alert == weak.lock().get()) << "a shown alert keeps itself";
            RunLoop::main().runFor(300ms);  // let it pop in
            std::vector<Button*> buttons;
            for (const auto& view : alert->subviews()) {
                if (auto* button = dynamic_cast<Button*>(view.get())) buttons.push_back(button);
            }
            ASSERT_EQ(buttons.size(), c.slots.size());
            std::sort(buttons.begin(), buttons.end(), [](Button* a, Button* b) {
                Rect fa = a->frame(), fb = b->frame();
                return fa.minY() != fb.minY() ? fa.minY() < fb.minY() : fa.minX() < fb.minX();
            });
            for (size_t i = 1; i < buttons.size(); ++i) {
                Rect before = buttons[i - 1]->frame(), here = buttons[i]->frame();
                if (c.sideBySide) {
                    EXPECT_EQ(here.minY(), before.minY());
                    EXPECT_GE(here.minX(), before.maxX());
                } else {
                    EXPECT_GE(here.minY(), before.maxY());
                }
            }
            EXPECT_EQ(alert->cancelButtonIndex(), c.cancel ? 0 : -1);
            Button* button = buttons[slot];
            EXPECT_EQ(button->currentTitle(), c.slots[slot].title);
            EXPECT_EQ(alert->buttonTitleAtIndex(c.slots[slot].index), c.slots[slot].title);
            EXPECT_EQ(alert->buttonTitleAtIndex(int(c.slots.size())), "") << "past the last";
            EXPECT_EQ(alert->buttonAtIndex(c.slots[slot].index), button);
            Rect b = button->bounds();
            tap(button->convertToWindow({b.midX(), b.midY()}));
            EXPECT_EQ(AlertView::visibleAlert(), nullptr) << "gone from view at once";
            ASSERT_TRUE(runUntil([&] { return log.log.calls.size() == 3; }));
            std::string n = std::to_string(c.slots[slot].index);
            EXPECT_EQ(log.log.calls,
                      (Calls{"clicked " + n, "willDismiss " + n, "didDismiss " + n}));
            EXPECT_TRUE(weak.expired());
            EXPECT_EQ(Window::keyWindow(), window.get()) << "key window given back";
        }
    }
}

TEST(AlertView, ModalOverEverythingAndStacked) {
    auto window = makeWindow();
    auto button = Button::create(Button::Type::Custom, Rect(0, 0, 320, 480));
    window->addSubview(button);
    int taps = 0;
    button->addAction([&](Button&) { ++taps; });

    AlertLog first, second;
    AlertView::create("First", "", &first.delegate, "OK")->show();
    tap({5, 5});  // outside the box
    EXPECT_EQ(taps, 0);
    EXPECT_TRUE(first.log.calls.empty());

    AlertView::create("Second", "", &second.delegate, "OK")->show();
    EXPECT_EQ(AlertView::visibleAlert()->title(), "Second");
    AlertView::visibleAlert()->dismissWithClickedButtonIndex(0, false);
    EXPECT_EQ(second.log.calls, (Calls{"clicked 0", "willDismiss 0", "didDismiss 0"}));
    EXPECT_EQ(AlertView::visibleAlert()->title(), "First");
    AlertView::visibleAlert()->dismissWithClickedButtonIndex(0, false);
    EXPECT_EQ(AlertView::visibleAlert(), nullptr);
    tap({5, 5});
    EXPECT_EQ(taps, 1);
}

TEST(AlertView, DismissingTwiceOrWithABadIndexDoesNothing) {
    auto window = makeWindow();
    AlertLog log;
    auto alert = AlertView::create("T", "M", &log.delegate, "Cancel", {"OK"});
    alert->dismissWithClickedButtonIndex(0, false);  // not shown yet
    alert->show();
    alert->dismissWithClickedButtonIndex(5, false);
    alert->dismissWithClickedButtonIndex(-1, false);
    EXPECT_TRUE(log.log.calls.empty());
    EXPECT_TRUE(alert->isVisible());
    alert->dismissWithClickedButtonIndex(1, true);
    alert->dismissWithClickedButtonIndex(0, true);  // already going
    ASSERT_TRUE(runUntil([&] { return !alert->isVisible(); }));
    EXPECT_EQ(log.log.calls, (Calls{"clicked 1", "willDismiss 1", "didDismiss 1"}));
    // It may be shown again.
    alert->show();
    EXPECT_EQ(AlertView::visibleAlert(), alert.get());
    alert->dismissWithClickedButtonIndex(0, false);
}

}  // namespace
}  // namespace quorbit::platform
