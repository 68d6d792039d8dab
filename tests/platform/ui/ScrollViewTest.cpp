#include <gtest/gtest.h>

#include <cmath>

#include "UiTestSupport.h"
#include "platform/ui/ScrollView.h"

namespace quorbit::platform {
namespace {

using namespace quorbit::testing;

// A window with a 320-point-wide scroll view over four pages, and a delegate that logs.
struct Pager {
    std::shared_ptr<Window> window = makeWindow();
    std::shared_ptr<ScrollView> scroll = std::make_shared<ScrollView>(Rect(0, 0, 320, 400));
    ScrollViewDelegate delegate;
    CallLog log;
    int scrolls = 0;

    explicit Pager(bool paging = true) {
        scroll->setContentSize({4 * 320, 400});
        scroll->setPagingEnabled(paging);
        window->addSubview(scroll);
        delegate.didScroll = [this](ScrollView&) { ++scrolls; };
        delegate.willBeginDragging = [this](ScrollView&) { log("willBeginDragging"); };
        delegate.didEndDragging = [this](ScrollView&, bool decelerate) {
            log(decelerate ? "didEndDragging(decelerate)" : "didEndDragging");
        };
        delegate.willBeginDecelerating = [this](ScrollView&) { log("willBeginDecelerating"); };
        delegate.didEndDecelerating = [this](ScrollView&) { log("didEndDecelerating"); };
        delegate.didEndScrollingAnimation = [this](ScrollView&) { log("didEndAnimation"); };
        scroll->setDelegate(&delegate);
    }
    double x() const { return scroll->contentOffset().x; }
    // Lets the content come to rest, then says whether the log holds just one drag that
    // ended decelerating.
    bool settledAfterDeceleratingDrag() {
        bool settled =
            runUntil([this] { return !scroll->isDecelerating() && !scroll->isDragging(); });
        bool logged = log.calls == Calls{"willBeginDragging", "didEndDragging(decelerate)",
                                         "willBeginDecelerating", "didEndDecelerating"};
        log.clear();
        return settled && logged;
    }
};

TEST(ScrollView, SlowDragEndingBetweenPagesSettlesOnTheNearestPage) {
    // clang-format off
    struct Case { double startPage, dx /* finger movement; content moves the other way */, expectedOffset; };
    const Case cases[] = {
        {0, -100, 0},    // less than half a page: back to page 0
        {0, -200, 320},  // more than half: on to page 1
        {1, 100, 320},   // back toward page 0 but not far enough
        {1, 190, 0},     // far enough
        {0, 150, 0},     // past the left edge: springs back
        {3, -150, 960},  // past the right edge
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "from page " << c.startPage << " by " << c.dx);
        Pager pager;
        pager.scroll->setContentOffset({c.startPage * 320, 0});
        pager.scrolls = 0;
        drag({200, 200}, {200 + c.dx, 200}, 8, 10ms, true, 150ms);  // slow, then a pause
        EXPECT_GT(pager.scrolls, 0);
        EXPECT_TRUE(pager.settledAfterDeceleratingDrag());
        EXPECT_DOUBLE_EQ(pager.x(), c.expectedOffset);
    }
}

TEST(ScrollView, FlickMovesOnePageAndCaughtContentSettlesOnTheNearestPage) {
    Pager pager;
    drag({200, 200}, {140, 200}, 4, 8ms);  // fast and short: under half a page, but thrown
    EXPECT_TRUE(pager.settledAfterDeceleratingDrag());
    EXPECT_DOUBLE_EQ(pager.x(), 320);
    drag({300, 200}, {20, 200}, 6, 8ms);  // a long fast throw still moves only one page
    EXPECT_TRUE(pager.settledAfterDeceleratingDrag());
    EXPECT_DOUBLE_EQ(pager.x(), 640);

    // Let go exactly on a page, the drag still ends decelerating, so that a watcher that pauses
    // work from willBeginDragging to didEndDecelerating always resumes.
    drag({300, 200}, {260, 200}, 4, 10ms, false);
    touchMove({300, 200});
    RunLoop::main().runFor(150ms);
    touchUp({300, 200});
    EXPECT_DOUBLE_EQ(pager.x(), 640);
    EXPECT_TRUE(pager.settledAfterDeceleratingDrag());

    // A touch on gliding content stops it; lifted without dragging, the content goes to the
    // nearest page as a plain animation.
    drag({200, 200}, {100, 200}, 4, 10ms);
    ASSERT_TRUE(pager.scroll->isDecelerating());
    RunLoop::main().runFor(50ms);
    touchDown({100, 200});
    EXPECT_FALSE(pager.scroll->isDecelerating());
    double caught = pager.x();
    EXPECT_TRUE(caught > 640 && caught < 960) << caught;
    EXPECT_TRUE(pager.settledAfterDeceleratingDrag());
    touchUp({100, 200});
    ASSERT_TRUE(runUntil([&] { return !pager.log.calls.empty(); }));
    EXPECT_EQ(pager.log.calls, Calls{"didEndAnimation"});
    EXPECT_DOUBLE_EQ(pager.x(), std::round(caught / 320) * 320);
}

TEST(ScrollView, WithoutPagingAFlickGlidesAndStopsInsideTheContent) {
    Pager pager(false);
    drag({300, 200}, {150, 200}, 5, 8ms);
    EXPECT_TRUE(pager.scroll->isDecelerating());
    double released = pager.x();
    EXPECT_TRUE(pager.settledAfterDeceleratingDrag());
    EXPECT_TRUE(pager.x() > released && pager.x() <= 960) << released << " " << pager.x();

    // A slow drag that rests before lifting just stops, with no deceleration.
    pager.scroll->setContentOffset({400, 0});
    drag({200, 200}, {150, 200}, 5, 10ms, true, 150ms);
    EXPECT_EQ(pager.log.calls, (Calls{"willBeginDragging", "didEndDragging"}));

    // Past the start edge the content follows at half speed and springs back.
    pager.log.clear();
    pager.scroll->setContentOffset({0, 0});
    drag({100, 200}, {200, 200}, 5, 10ms, false);
    EXPECT_DOUBLE_EQ(pager.x(), -50);
    RunLoop::main().runFor(150ms);
    touchUp({200, 200});
    EXPECT_TRUE(pager.settledAfterDeceleratingDrag());
    EXPECT_DOUBLE_EQ(pager.x(), 0);

    // Disabled, or with content that fits, it does not drag.
    pager.scroll->setScrollEnabled(false);
    drag({200, 200}, {50, 200});
    pager.scroll->setScrollEnabled(true);
    pager.scroll->setContentSize({320, 400});
    drag({200, 200}, {50, 200});
    EXPECT_TRUE(pager.log.calls.empty());
    EXPECT_DOUBLE_EQ(pager.x(), 0);
}

}  // namespace
}  // namespace quorbit::platform
