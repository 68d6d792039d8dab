#include <gtest/gtest.h>

#include <cmath>

#include "UiTestSupport.h"
#include "platform/ui/ScrollView.h"

namespace quorbit::platform {
namespace {

using namespace quorbit::testing;
using Calls = std::vector<std::string>;

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
    bool settle() {
        return runUntil([this] { return !scroll->isDecelerating() && !scroll->isDragging(); });
    }
};

const Calls kDragWithDeceleration{"willBeginDragging", "didEndDragging(decelerate)",
                                  "willBeginDecelerating", "didEndDecelerating"};

TEST(ScrollView, SlowDragEndingBetweenPagesSettlesOnTheNearestPage) {
    struct Case {
        double startPage;
        double dx;  // finger movement; content moves the other way
        double expectedOffset;
    };
    const Case cases[] = {
        {0, -100, 0},    // less than half a page: back to page 0
        {0, -200, 320},  // more than half: on to page 1
        {1, 100, 320},   // back toward page 0 but not far enough
        {1, 190, 0},     // far enough
        {0, 150, 0},     // past the left edge: springs back
        {3, -150, 960},  // past the right edge
    };
    for (const auto& c : cases) {
        Pager pager;
        pager.scroll->setContentOffset({c.startPage * 320, 0});
        pager.scrolls = 0;
        // Slow moves, then a pause: no flick.
        drag({200, 200}, {200 + c.dx, 200}, 8, 10ms, true, 150ms);
        EXPECT_GT(pager.scrolls, 0);
        ASSERT_TRUE(pager.settle());
        EXPECT_DOUBLE_EQ(pager.scroll->contentOffset().x, c.expectedOffset)
            << "from page " << c.startPage << " by " << c.dx;
        EXPECT_EQ(pager.log.calls, kDragWithDeceleration);
    }
}

TEST(ScrollView, FlickMovesOnePageAndCaughtContentSettlesOnTheNearestPage) {
    Pager pager;
    // Fast and short: well under half a page, but thrown.
    drag({200, 200}, {140, 200}, 4, 8ms);
    ASSERT_TRUE(pager.settle());
    EXPECT_DOUBLE_EQ(pager.scroll->contentOffset().x, 320);
    // A long fast throw still moves only one page.
    pager.log.clear();
    drag({300, 200}, {20, 200}, 6, 8ms);
    ASSERT_TRUE(pager.settle());
    EXPECT_DOUBLE_EQ(pager.scroll->contentOffset().x, 640);
    EXPECT_EQ(pager.log.calls, kDragWithDeceleration);

    // Let go exactly on a page, the drag still ends decelerating, so that a watcher that pauses
    // work from willBeginDragging to didEndDecelerating always resumes.
    pager.log.clear();
    drag({300, 200}, {260, 200}, 4, 10ms, false);
    touchMove({300, 200});
    RunLoop::main().runFor(150ms);
    touchUp({300, 200});
    EXPECT_DOUBLE_EQ(pager.scroll->contentOffset().x, 640);
    ASSERT_TRUE(pager.settle());
    EXPECT_EQ(pager.log.calls, kDragWithDeceleration);

    // A touch on gliding content stops it; lifted without dragging, the content goes to the
    // nearest page as a plain animation.
    pager.log.clear();
    drag({200, 200}, {100, 200}, 4, 10ms);
    ASSERT_TRUE(pager.scroll->isDecelerating());
    RunLoop::main().runFor(50ms);
    touchDown({100, 200});
    EXPECT_FALSE(pager.scroll->isDecelerating());
    EXPECT_EQ(pager.log.calls, kDragWithDeceleration);
    double caught = pager.scroll->contentOffset().x;
    EXPECT_GT(caught, 640);
    EXPECT_LT(caught, 960);
    touchUp({100, 200});
    ASSERT_TRUE(runUntil([&] { return pager.log.calls.size() == 5; }));
    EXPECT_EQ(pager.log.calls.back(), "didEndAnimation");
    EXPECT_DOUBLE_EQ(pager.scroll->contentOffset().x, std::round(caught / 320) * 320);
}

TEST(ScrollView, WithoutPagingAFlickGlidesAndStopsInsideTheContent) {
    Pager pager(false);
    drag({300, 200}, {150, 200}, 5, 8ms);
    EXPECT_TRUE(pager.scroll->isDecelerating());
    double released = pager.scroll->contentOffset().x;
    ASSERT_TRUE(pager.settle());
    EXPECT_GT(pager.scroll->contentOffset().x, released);
    EXPECT_LE(pager.scroll->contentOffset().x, 960);
    EXPECT_EQ(pager.log.calls, kDragWithDeceleration);

    // A slow drag that rests before lifting just stops, with no deceleration.
    pager.scroll->setContentOffset({400, 0});
    pager.log.clear();
    drag({200, 200}, {150, 200}, 5, 10ms, true, 150ms);
    EXPECT_EQ(pager.log.calls, (Calls{"willBeginDragging", "didEndDragging"}));

    // Past the start edge the content follows at half speed and springs back.
    pager.log.clear();
    pager.scroll->setContentOffset({0, 0});
    drag({100, 200}, {200, 200}, 5, 10ms, false);
    EXPECT_DOUBLE_EQ(pager.scroll->contentOffset().x, -50);
    RunLoop::main().runFor(150ms);
    touchUp({200, 200});
    ASSERT_TRUE(pager.settle());
    EXPECT_DOUBLE_EQ(pager.scroll->contentOffset().x, 0);
    EXPECT_EQ(pager.log.calls, kDragWithDeceleration);

    // Disabled, or with content that fits, it does not drag.
    pager.log.clear();
    pager.scroll->setScrollEnabled(false);
    drag({200, 200}, {50, 200});
    pager.scroll->setScrollEnabled(true);
    pager.scroll->setContentSize({320, 400});
    drag({200, 200}, {50, 200});
    EXPECT_TRUE(pager.log.calls.empty());
    EXPECT_DOUBLE_EQ(pager.scroll->contentOffset().x, 0);
}

}  // namespace
}  // namespace quorbit::platform
