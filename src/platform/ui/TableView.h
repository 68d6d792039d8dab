#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/IndexPath.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TableViewCell.h"

namespace quorbit::platform {

class TableView;

// Where a table gets its rows. numberOfRowsInSection and cellForRow are required; the rest
// are optional (an empty member: one section, no titles).
struct TableViewDataSource {
    std::function<int(TableView&, int section)> numberOfRowsInSection;
    std::function<std::shared_ptr<TableViewCell>(TableView&, IndexPath)> cellForRow;
    std::function<int(TableView&)> numberOfSections;
    std::function<std::optional<std::string>(TableView&, int section)> titleForHeaderInSection;
    std::function<std::optional<std::string>(TableView&, int section)> titleForFooterInSection;
};

// What a table tells its delegate; it also hears the scroll callbacks.
struct TableViewDelegate : ScrollViewDelegate {
    std::function<double(TableView&, IndexPath)> heightForRow;
    std::function<void(TableView&, IndexPath)> didSelectRow;
    std::function<void(TableView&, IndexPath)> didDeselectRow;
};

// A vertically scrolling list of rows in sections, with optional header and footer titles.
// Cells are asked for lazily for the rows on screen; cells that scroll away are kept per
// reuse identifier and handed out again by dequeueReusableCell.
class TableView : public ScrollView {
  public:
    enum class Style { Plain, Grouped };

    explicit TableView(Rect frame = {}, Style style = Style::Plain);
    ~TableView() override;

    Style style() const { return _style; }
    TableViewDataSource* dataSource() const { return _dataSource; }
    void setDataSource(TableViewDataSource* dataSource);
    TableViewDelegate* tableDelegate() const { return _tableDelegate; }
    // Also makes it the scroll view's delegate.
    void setTableDelegate(TableViewDelegate* delegate);

    double rowHeight() const { return _rowHeight; }
    void setRowHeight(double height);
    double sectionHeaderHeight() const { return _sectionHeaderHeight; }
    double sectionFooterHeight() const { return _sectionFooterHeight; }
    bool allowsSelection() const { return _allowsSelection; }
    void setAllowsSelection(bool on) { _allowsSelection = on; }

    // Asks the data source again for everything.
    void reloadData();
    int numberOfSections();
    int numberOfRowsInSection(int section);
    // A row's rectangle in the table's content (bounds) coordinates; empty for no such row.
    Rect rectForRowAtIndexPath(IndexPath path);
    Rect rectForHeaderInSection(int section);
    Rect rectForFooterInSection(int section);
    std::optional<IndexPath> indexPathForRowAtPoint(Point p);
    // The cell on screen for a row, or null.
    TableViewCell* cellForRowAtIndexPath(IndexPath path);
    std::vector<IndexPath> indexPathsForVisibleRows();
    std::shared_ptr<TableViewCell> dequeueReusableCell(const std::string& identifier);

    std::optional<IndexPath> indexPathForSelectedRow() const { return _selected; }
    void selectRowAtIndexPath(std::optional<IndexPath> path, bool animated);
    void deselectRowAtIndexPath(IndexPath path, bool animated);
    void scrollToRowAtIndexPath(IndexPath path, bool animated);

    void layoutSubviews() override;

  protected:
    void contentTouchBegan(const Touch& touch) override;
    void contentTouchCancelled() override;
    void contentTouchEnded(const Touch& touch) override;
    void offsetDidChange() override;

  private:
    struct SectionGeometry {
        double headerTop = 0, headerHeight = 0;
        double rowsTop = 0;
        std::vector<double> rowTops, rowHeights;
        double footerTop = 0, footerHeight = 0;
        std::optional<std::string> header, footer;
    };
    void computeGeometry();
    void ensureGeometry();
    void layoutCells();
    void layoutTitles();
    void enqueue(std::shared_ptr<TableViewCell> cell);
    TableViewCell::GroupPosition groupPositionFor(IndexPath path);
    double cellInset() const;
    void highlightRow(std::optional<IndexPath> path);
    bool validRow(IndexPath path);

    Style _style;
    TableViewDataSource* _dataSource = nullptr;
    TableViewDelegate* _tableDelegate = nullptr;
    double _rowHeight = 44;
    double _sectionHeaderHeight;
    double _sectionFooterHeight;
    bool _allowsSelection = true;

    bool _geometryValid = false;
    std::vector<SectionGeometry> _sections;
    std::map<IndexPath, std::shared_ptr<TableViewCell>> _visibleCells;
    std::map<std::string, std::vector<std::shared_ptr<TableViewCell>>> _reusableCells;
    std::vector<std::shared_ptr<View>> _titleViews;
    double _geometryWidth = -1;
    std::optional<IndexPath> _selected;
    std::optional<IndexPath> _highlighted;
};

}  // namespace quorbit::platform
