#include <gtest/gtest.h>

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

// Where a button of the visible alert is on screen, in window points.
Point buttonCentre(AlertView& alert, int index) {
    Button* button = alert.buttonAtIndex(index);
    EXPECT_NE(button, nullptr);
    if (!button) return {};
    Rect b = button->bounds();
    return button->convertToWindow({b.midX(), b.midY()});
}

TEST(AlertView, ButtonIndexesPutTheCancelButtonFirst) {
    struct Case {
        std::optional<std::string> cancel;
        std::vector<std::string> others;
        int cancelIndex;
        std::vector<std::string> titles;
    };
    const Case cases[] = {
        {"Cancel", {}, 0, {"Cancel"}},
        {"No", {"Rate It", "Later"}, 0, {"No", "Rate It", "Later"}},
        {std::nullopt, {"OK"}, -1, {"OK"}},
        {std::nullopt, {}, -1, {}},
    };
    for (const auto& c : cases) {
        auto alert = AlertView::create("T", "M", nullptr, c.cancel, c.others);
        EXPECT_EQ(alert->cancelButtonIndex(), c.cancelIndex);
        ASSERT_EQ(alert->numberOfButtons(), int(c.titles.size()));
        for (int i = 0; i < alert->numberOfButtons(); ++i) {
            EXPECT_EQ(alert->buttonTitleAtIndex(i), c.titles[size_t(i)]);
        }
        EXPECT_EQ(alert->buttonTitleAtIndex(alert->numberOfButtons()), "");
    }
}

TEST(AlertView, TappingAButtonTellsTheDelegateItsIndexThenGoesAway) {
    for (int index : {0, 1, 2}) {
        auto window = makeWindow();
        AlertLog log;
        std::weak_ptr<AlertView> weak;
        {
            auto alert = AlertView::create("Rate Flurio", "Enjoying it?", &log.delegate,
                                           "No thanks", {"Rate It Now", "Remind Me Later"});
            weak = alert;
            alert->show();
        }
        ASSERT_FALSE(weak.expired()) << "a shown alert keeps itself alive";
        AlertView* alert = AlertView::visibleAlert();
        ASSERT_EQ(alert, weak.lock().get());
        EXPECT_EQ(alert->title(), "Rate Flurio");
        EXPECT_EQ(alert->message(), "Enjoying it?");
        RunLoop::main().runFor(300ms);  // let it pop in

        tap(buttonCentre(*alert, index));
        EXPECT_EQ(AlertView::visibleAlert(), nullptr) << "gone from view at once";
        ASSERT_TRUE(runUntil([&] { return log.log.calls.size() == 3; }));
        std::string n = std::to_string(index);
        EXPECT_EQ(log.log.calls, (Calls{"clicked " + n, "willDismiss " + n, "didDismiss " + n}));
        EXPECT_TRUE(weak.expired());
        EXPECT_EQ(Window::keyWindow(), window.get()) << "key window given back";
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
