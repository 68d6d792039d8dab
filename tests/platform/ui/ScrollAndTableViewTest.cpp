#include <gtest/gtest.h>

#include <cmath>

#include "UiTestSupport.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TableView.h"

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
    ::testing::AssertionResult settledAfterDeceleratingDrag() {
        bool settled =
            runUntil([this] { return !scroll->isDecelerating() && !scroll->isDragging(); });
        Calls calls = std::exchange(log.calls, {});
        if (settled && calls == Calls{"willBeginDragging", "didEndDragging(decelerate)",
                                      "willBeginDecelerating", "didEndDecelerating"})
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << settled << ::testing::PrintToString(calls);
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

// A table in a window with configurable sections (titles in the first only), counting the
// cells it makes.
struct Rows {
    std::shared_ptr<Window> window = makeWindow();
    std::vector<int> rowsPerSection;
    std::optional<std::string> header, footer;
    int cellsMade = 0, reused = 0;
    std::vector<IndexPath> selected;
    TableViewDataSource dataSource;
    TableViewDelegate delegate;
    explicit Rows(std::vector<int> rows = {2}) : rowsPerSection(std::move(rows)) {
        dataSource.numberOfSections = [this](TableView&) { return int(rowsPerSection.size()); };
        dataSource.numberOfRowsInSection = [this](TableView&, int s) { return rowsPerSection[s]; };
        dataSource.titleForHeaderInSection = [this](TableView&, int s) {
            return s ? std::nullopt : header;
        };
        dataSource.titleForFooterInSection = [this](TableView&, int s) {
            return s ? std::nullopt : footer;
        };
        dataSource.cellForRow = [this](TableView& table, IndexPath path) {
            auto cell = table.dequeueReusableCell("row");
            ++(cell ? reused : cellsMade);
            if (!cell) cell = std::make_shared<TableViewCell>(TableViewCell::Style::Default, "row");
            cell->textLabel()->setText(std::to_string(path.section) + ":" +
                                       std::to_string(path.row));
            return cell;
        };
        delegate.didSelectRow = [this](TableView& table, IndexPath path) {
            selected.push_back(path);
            table.deselectRowAtIndexPath(path, true);
        };
    }
    std::shared_ptr<TableView> attach(Rect frame,
                                      TableView::Style style = TableView::Style::Plain) {
        auto table = std::make_shared<TableView>(frame, style);
        table->setRowHeight(40);
        table->setDataSource(&dataSource);
        table->setTableDelegate(&delegate);
        window->addSubview(table);
        table->reloadData();
        return table;
    }
};

TEST(TableView, RowGeometryFollowsSectionsTitlesAndHeights) {
    using S = TableView::Style;
    // clang-format off
    struct Case { const char* name; TableView::Style style; std::vector<int> rows; bool header; IndexPath path; Rect expected; };
    const Case cases[] = {
        {"first row, plain", S::Plain, {2}, false, {0, 0}, {0, 0, 320, 40}},
        {"second row, plain", S::Plain, {2}, false, {0, 1}, {0, 40, 320, 40}},
        {"after a titled header", S::Plain, {2}, true, {0, 1}, {0, 62, 320, 40}},
        {"second section", S::Plain, {2, 3}, false, {1, 2}, {0, 160, 320, 40}},
        {"grouped, untitled", S::Grouped, {1}, false, {0, 0}, {10, 10, 300, 40}},
        {"grouped, titled", S::Grouped, {1}, true, {0, 0}, {10, 36, 300, 40}},
        // Second grouped section: 10 + 2 rows + 10 footer gap + 10 header gap.
        {"grouped, second", S::Grouped, {2, 1}, false, {1, 0}, {10, 110, 300, 40}},
        {"no such row", S::Plain, {2}, false, {0, 2}, {}},
        {"no such section", S::Plain, {2}, false, {1, 0}, {}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rows rows(c.rows);
        if (c.header) rows.header = "Facebook";
        auto table = rows.attach(Rect(0, 0, 320, 400), c.style);
        EXPECT_EQ(table->rectForRowAtIndexPath(c.path), c.expected);
        if (c.expected.isEmpty()) continue;
        EXPECT_EQ(table->indexPathForRowAtPoint({c.expected.midX(), c.expected.midY()}), c.path);
        ASSERT_NE(table->cellForRowAtIndexPath(c.path), nullptr);
        EXPECT_EQ(table->cellForRowAtIndexPath(c.path)->frame(), c.expected);
    }
}

TEST(TableView, HeaderAndFooterTitlesAreShownAndMakeRoom) {
    Rows rows({1});
    rows.header = "Facebook";
    rows.footer =
        "If you are experiencing problems with Facebook, logout and login again using the "
        "button above.";
    auto table = rows.attach(Rect(0, 0, 320, 400), TableView::Style::Grouped);
    auto* header = dynamic_cast<Label*>(table->findControl("table-header-0"));
    ASSERT_NE(header, nullptr);
    ASSERT_NE(dynamic_cast<Label*>(table->findControl("table-footer-0")), nullptr);
    EXPECT_EQ(header->text(), "Facebook");
    // The long footer wraps onto more than one line inside its area.
    Rect footerArea = table->rectForFooterInSection(0);
    EXPECT_GT(footerArea.height(), 2 * 18);
    EXPECT_GE(footerArea.minY(), table->rectForRowAtIndexPath({0, 0}).maxY());
    EXPECT_DOUBLE_EQ(table->contentSize().height, footerArea.maxY());
}

TEST(TableView, CellsAreMadeForVisibleRowsAndReusedWhileScrolling) {
    Rows rows({100});
    auto table = rows.attach(Rect(0, 0, 320, 200));
    EXPECT_EQ(rows.cellsMade, 5);  // 200 / 40
    for (int step = 1; step <= 50; ++step)
        table->setContentOffset({0, step * 30.0});
    EXPECT_LE(rows.cellsMade, 7);
    EXPECT_GT(rows.reused, 30);
    auto visible = table->indexPathsForVisibleRows();
    ASSERT_FALSE(visible.empty());
    EXPECT_EQ(visible.front(), (IndexPath{0, 37}));  // 1500 / 40
    auto* cell = table->cellForRowAtIndexPath({0, 40});
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->textLabel()->text(), "0:40");
    // Reloading with fewer rows pulls the offset back inside the content.
    rows.rowsPerSection = {3};
    table->reloadData();
    EXPECT_DOUBLE_EQ(table->contentOffset().y, 0);
    EXPECT_EQ(table->indexPathsForVisibleRows().size(), 3u);
    // A data source that gives no cell gets an empty row.
    rows.dataSource.cellForRow = [](TableView&, IndexPath) {
        return std::shared_ptr<TableViewCell>();
    };
    table->reloadData();
    ASSERT_NE(table->cellForRowAtIndexPath({0, 0}), nullptr);
    EXPECT_TRUE(table->cellForRowAtIndexPath({0, 0})->textLabel()->text().empty());
}

TEST(TableView, TapSelectsAndAnimatedDeselectFades) {
    Rows rows;
    auto table = rows.attach(Rect(0, 100, 320, 200));
    auto* cell = table->cellForRowAtIndexPath({0, 1});
    ASSERT_NE(cell, nullptr);
    // The finger highlights the row; lifting selects it and the delegate deselects it.
    touchDown({100, 100 + 60});
    EXPECT_TRUE(cell->isHighlighted());
    EXPECT_DOUBLE_EQ(cell->selectionAmount(), 1);
    EXPECT_TRUE(cell->textLabel()->isHighlighted());
    touchUp({100, 100 + 60});
    EXPECT_EQ(rows.selected, (std::vector<IndexPath>{{0, 1}}));
    EXPECT_FALSE(table->indexPathForSelectedRow().has_value());
    EXPECT_FALSE(cell->isSelected());
    EXPECT_GT(cell->selectionAmount(), 0.9) << "the colour fades rather than vanishing";
    ASSERT_TRUE(runUntil([&] { return cell->selectionAmount() == 0; }));
    RunLoop::main().runFor(30ms);
    EXPECT_FALSE(cell->textLabel()->isHighlighted());
    // A finger that drags the list selects nothing.
    rows.rowsPerSection = {20};
    table->reloadData();
    drag({100, 180}, {100, 120});
    EXPECT_EQ(rows.selected.size(), 1u);
    for (auto path : table->indexPathsForVisibleRows())
        EXPECT_FALSE(table->cellForRowAtIndexPath(path)->isHighlighted());
    // Below the last row nothing is selected.
    rows.rowsPerSection = {1};
    table->reloadData();
    tap({100, 100 + 150});
    EXPECT_EQ(rows.selected.size(), 1u);
}

TEST(TableView, SelectionPersistsAcrossReuseOnlyForItsRow) {
    Rows rows({50});
    rows.delegate.didSelectRow = [&](TableView&, IndexPath path) { rows.selected.push_back(path); };
    auto table = rows.attach(Rect(0, 0, 320, 200));
    tap({100, 20});
    ASSERT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 0}));
    table->setContentOffset({0, 800});
    for (auto path : table->indexPathsForVisibleRows())
        EXPECT_FALSE(table->cellForRowAtIndexPath(path)->isSelected());
    table->setContentOffset({0, 0});
    EXPECT_TRUE(table->cellForRowAtIndexPath({0, 0})->isSelected());
    table->deselectRowAtIndexPath({0, 0}, false);
    EXPECT_DOUBLE_EQ(table->cellForRowAtIndexPath({0, 0})->selectionAmount(), 0);
}

}  // namespace
}  // namespace quorbit::platform
