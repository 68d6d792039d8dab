#include "platform/ui/TableView.h"

#include <algorithm>
#include <cmath>

#include "platform/core/Log.h"
#include "platform/ui/Label.h"

namespace quorbit::platform {

namespace {

constexpr double kPlainTitleHeight = 22;
constexpr double kGroupedInset = 10;
constexpr double kGroupedGap = 10;
constexpr double kGroupedHeaderHeight = 36;
const Color kGroupedBackground{0.77, 0.80, 0.85, 1};
const Color kGroupedTitleColor{0.30, 0.34, 0.42, 1};

Canvas& measuringCanvas() {
    static Canvas canvas(1, 1);
    return canvas;
}

}  // namespace

TableView::TableView(Rect frame, Style style)
    : ScrollView(frame),
      _style(style),
      _sectionHeaderHeight(style == Style::Plain ? kPlainTitleHeight : kGroupedHeaderHeight),
      _sectionFooterHeight(style == Style::Plain ? kPlainTitleHeight : kGroupedGap) {
    setAlwaysBounceVertical(true);
    setBackgroundColor(style == Style::Plain ? Color::white() : kGroupedBackground);
}

TableView::~TableView() = default;

void TableView::setDataSource(TableViewDataSource* dataSource) {
    _dataSource = dataSource;
    _geometryValid = false;
    setNeedsLayout();
}

void TableView::setTableDelegate(TableViewDelegate* delegate) {
    _tableDelegate = delegate;
    setDelegate(delegate);
    _geometryValid = false;
    setNeedsLayout();
}

void TableView::setRowHeight(double height) {
    _rowHeight = std::max(height, 1.0);
    _geometryValid = false;
    setNeedsLayout();
}

double TableView::cellInset() const {
    return _style == Style::Grouped ? kGroupedInset : 0;
}

void TableView::computeGeometry() {
    _sections.clear();
    int sections = 0;
    if (_dataSource) {
        sections = _dataSource->numberOfSections ? _dataSource->numberOfSections(*this) : 1;
    }
    double width = bounds().width() - 2 * cellInset();
    double y = 0;
    for (int s = 0; s < std::max(sections, 0); ++s) {
        SectionGeometry g;
        if (_dataSource->titleForHeaderInSection)
            g.header = _dataSource->titleForHeaderInSection(*this, s);
        if (_dataSource->titleForFooterInSection)
            g.footer = _dataSource->titleForFooterInSection(*this, s);
        if (g.header && g.header->empty()) g.header.reset();
        if (g.footer && g.footer->empty()) g.footer.reset();

        g.headerTop = y;
        if (_style == Style::Plain) {
            g.headerHeight = g.header ? _sectionHeaderHeight : 0;
        } else {
            g.headerHeight = g.header ? _sectionHeaderHeight : kGroupedGap;
        }
        y += g.headerHeight;
        g.rowsTop = y;
        int rows =
            _dataSource->numberOfRowsInSection ? _dataSource->numberOfRowsInSection(*this, s) : 0;
        for (int r = 0; r < std::max(rows, 0); ++r) {
            double h = _rowHeight;
            if (_tableDelegate && _tableDelegate->heightForRow) {
                h = std::max(0.0, _tableDelegate->heightForRow(*this, IndexPath{s, r}));
            }
            g.rowTops.push_back(y);
            g.rowHeights.push_back(h);
            y += h;
        }
        g.footerTop = y;
        if (_style == Style::Plain) {
            g.footerHeight = g.footer ? _sectionFooterHeight : 0;
        } else if (g.footer) {
            Size text = measuringCanvas().measureText(*g.footer, Font::system(15), width - 20);
            g.footerHeight = std::ceil(text.height) + 2 * kGroupedGap;
        } else {
            g.footerHeight = kGroupedGap;
        }
        y += g.footerHeight;
        _sections.push_back(std::move(g));
    }
    _geometryValid = true;
    _geometryWidth = bounds().width();
    setContentSize({bounds().width(), y});
}

void TableView::ensureGeometry() {
    if (!_geometryValid || _geometryWidth != bounds().width()) computeGeometry();
}

int TableView::numberOfSections() {
    ensureGeometry();
    return static_cast<int>(_sections.size());
}

int TableView::numberOfRowsInSection(int section) {
    ensureGeometry();
    if (section < 0 || section >= static_cast<int>(_sections.size())) return 0;
    return static_cast<int>(_sections[section].rowTops.size());
}

bool TableView::validRow(IndexPath path) {
    return path.row >= 0 && path.row < numberOfRowsInSection(path.section);
}

Rect TableView::rectForRowAtIndexPath(IndexPath path) {
    if (!validRow(path)) return {};
    const auto& g = _sections[path.section];
    return {cellInset(), g.rowTops[path.row], bounds().width() - 2 * cellInset(),
            g.rowHeights[path.row]};
}

Rect TableView::rectForHeaderInSection(int section) {
    ensureGeometry();
    if (section < 0 || section >= static_cast<int>(_sections.size())) return {};
    const auto& g = _sections[section];
    return {0, g.headerTop, bounds().width(), g.headerHeight};
}

Rect TableView::rectForFooterInSection(int section) {
    ensureGeometry();
    if (section < 0 || section >= static_cast<int>(_sections.size())) return {};
    const auto& g = _sections[section];
    return {0, g.footerTop, bounds().width(), g.footerHeight};
}

std::optional<IndexPath> TableView::indexPathForRowAtPoint(Point p) {
    ensureGeometry();
    for (size_t s = 0; s < _sections.size(); ++s) {
        const auto& g = _sections[s];
        if (g.rowTops.empty() || p.y < g.rowsTop || p.y >= g.footerTop) continue;
        auto it = std::upper_bound(g.rowTops.begin(), g.rowTops.end(), p.y);
        int row = static_cast<int>(it - g.rowTops.begin()) - 1;
        if (row < 0) continue;
        if (p.x < cellInset() || p.x >= bounds().width() - cellInset()) return std::nullopt;
        return IndexPath{static_cast<int>(s), row};
    }
    return std::nullopt;
}

TableViewCell* TableView::cellForRowAtIndexPath(IndexPath path) {
    auto it = _visibleCells.find(path);
    return it == _visibleCells.end() ? nullptr : it->second.get();
}

std::vector<IndexPath> TableView::indexPathsForVisibleRows() {
    layoutIfNeeded();
    std::vector<IndexPath> paths;
    for (auto& [path, cell] : _visibleCells)
        paths.push_back(path);
    return paths;
}

std::shared_ptr<TableViewCell> TableView::dequeueReusableCell(const std::string& identifier) {
    auto it = _reusableCells.find(identifier);
    if (it == _reusableCells.end() || it->second.empty()) return nullptr;
    auto cell = std::move(it->second.back());
    it->second.pop_back();
    cell->prepareForReuse();
    return cell;
}

void TableView::enqueue(std::shared_ptr<TableViewCell> cell) {
    cell->removeFromSuperview();
    if (cell->reuseIdentifier().empty()) return;
    _reusableCells[cell->reuseIdentifier()].push_back(std::move(cell));
}

TableViewCell::GroupPosition TableView::groupPositionFor(IndexPath path) {
    if (_style == Style::Plain) return TableViewCell::GroupPosition::None;
    int rows = numberOfRowsInSection(path.section);
    if (rows == 1) return TableViewCell::GroupPosition::Single;
    if (path.row == 0) return TableViewCell::GroupPosition::Top;
    if (path.row == rows - 1) return TableViewCell::GroupPosition::Bottom;
    return TableViewCell::GroupPosition::Middle;
}

void TableView::reloadData() {
    for (auto& [path, cell] : _visibleCells)
        enqueue(cell);
    _visibleCells.clear();
    _selected.reset();
    _highlighted.reset();
    _geometryValid = false;
    computeGeometry();
    // Keep the offset inside the new content.
    setContentOffset(
        {contentOffset().x, std::clamp(contentOffset().y, 0.0, maximumContentOffset().y)});
    layoutTitles();
    layoutCells();
}

void TableView::layoutSubviews() {
    bool widthChanged = _geometryWidth != bounds().width();
    ensureGeometry();
    if (widthChanged || _titleViews.empty()) layoutTitles();
    layoutCells();
}

void TableView::offsetDidChange() {
    layoutCells();
}

void TableView::layoutTitles() {
    for (auto& view : _titleViews)
        view->removeFromSuperview();
    _titleViews.clear();
    double width = bounds().width();
    for (size_t s = 0; s < _sections.size(); ++s) {
        const auto& g = _sections[s];
        for (bool header : {true, false}) {
            const auto& title = header ? g.header : g.footer;
            if (!title) continue;
            Rect area = header ? Rect(0, g.headerTop, width, g.headerHeight)
                               : Rect(0, g.footerTop, width, g.footerHeight);
            auto label = std::make_shared<Label>();
            label->setText(*title);
            std::shared_ptr<View> titleView = label;
            if (_style == Style::Plain) {
                // A bar across the table with the title inset from its left edge.
                titleView = std::make_shared<View>(area);
                titleView->setBackgroundColor(Color{0.56, 0.62, 0.69, 0.95});
                titleView->setUserInteractionEnabled(false);
                label->setFrame(Rect(10, 0, std::max(0.0, width - 20), area.height()));
                label->setFont(Font::boldSystem(17));
                label->setTextColor(Color::white());
                label->setShadow(Color{0, 0, 0, 0.3}, {0, 1});
                titleView->addSubview(label);
            } else if (header) {
                label->setFrame(
                    Rect(kGroupedInset + 10, area.minY() + 8, width - 40, area.height() - 12));
                label->setFont(Font::boldSystem(17));
                label->setTextColor(kGroupedTitleColor);
                label->setShadow(Color::white(), {0, 1});
            } else {
                label->setFrame(Rect(kGroupedInset + 10, area.minY() + kGroupedGap / 2, width - 40,
                                     area.height() - kGroupedGap));
                label->setFont(Font::system(15));
                label->setTextColor(kGroupedTitleColor);
                label->setShadow(Color::white(), {0, 1});
                label->setTextAlignment(TextAlignment::Center);
                label->setNumberOfLines(0);
            }
            label->setControlName(header ? "table-header-" + std::to_string(s)
                                         : "table-footer-" + std::to_string(s));
            addSubview(titleView);
            _titleViews.push_back(titleView);
        }
    }
}

void TableView::layoutCells() {
    ensureGeometry();
    Rect visible = bounds();
    std::map<IndexPath, std::shared_ptr<TableViewCell>> keep;
    std::vector<std::shared_ptr<TableViewCell>> leaving;
    for (auto& [path, cell] : _visibleCells) {
        Rect r = validRow(path) ? rectForRowAtIndexPath(path) : Rect{};
        if (!r.isEmpty() && r.maxY() > visible.minY() && r.minY() < visible.maxY()) {
            keep[path] = cell;
        } else {
            leaving.push_back(cell);
        }
    }
    // Cells that scrolled away go to the reuse pool before new ones are asked for.
    for (auto& cell : leaving)
        enqueue(cell);
    _visibleCells = std::move(keep);
    if (!_dataSource || !_dataSource->cellForRow) return;
    for (size_t s = 0; s < _sections.size(); ++s) {
        const auto& g = _sections[s];
        for (size_t r = 0; r < g.rowTops.size(); ++r) {
            double top = g.rowTops[r], bottom = top + g.rowHeights[r];
            if (bottom <= visible.minY() || top >= visible.maxY() || g.rowHeights[r] <= 0) {
                continue;
            }
            IndexPath path{static_cast<int>(s), static_cast<int>(r)};
            auto& slot = _visibleCells[path];
            if (!slot) {
                auto cell = _dataSource->cellForRow(*this, path);
                if (!cell) {
                    Log::error(
                        format("table: the data source gave no cell for row %d of section "
                               "%d; showing an empty row",
                               path.row, path.section));
                    cell = std::make_shared<TableViewCell>();
                }
                cell->setSelected(_selected == path, false);
                cell->setHighlighted(_highlighted == path, false);
                slot = cell;
                // Below the section titles.
                insertSubview(cell, 0);
            }
            slot->setGroupPosition(groupPositionFor(path));
            slot->setFrame(rectForRowAtIndexPath(path));
            slot->layoutIfNeeded();
        }
    }
}

void TableView::highlightRow(std::optional<IndexPath> path) {
    if (path == _highlighted) return;
    if (_highlighted) {
        if (auto* cell = cellForRowAtIndexPath(*_highlighted)) cell->setHighlighted(false);
    }
    _highlighted = path;
    if (path) {
        if (auto* cell = cellForRowAtIndexPath(*path)) cell->setHighlighted(true);
    }
}

void TableView::selectRowAtIndexPath(std::optional<IndexPath> path, bool animated) {
    if (path && !validRow(*path)) path.reset();
    if (_selected && _selected != path) {
        if (auto* cell = cellForRowAtIndexPath(*_selected)) cell->setSelected(false, animated);
    }
    _selected = path;
    if (path) {
        if (auto* cell = cellForRowAtIndexPath(*path)) cell->setSelected(true, animated);
    }
}

void TableView::deselectRowAtIndexPath(IndexPath path, bool animated) {
    if (_selected != path) return;
    _selected.reset();
    if (auto* cell = cellForRowAtIndexPath(path)) cell->setSelected(false, animated);
}

void TableView::scrollToRowAtIndexPath(IndexPath path, bool animated) {
    Rect r = rectForRowAtIndexPath(path);
    if (r.isEmpty()) return;
    double y = contentOffset().y;
    if (r.minY() < y) {
        y = r.minY();
    } else if (r.maxY() > y + bounds().height()) {
        y = r.maxY() - bounds().height();
    }
    setContentOffset({contentOffset().x, std::clamp(y, 0.0, maximumContentOffset().y)}, animated);
}

void TableView::contentTouchBegan(const Touch& touch) {
    if (!_allowsSelection || isDecelerating()) return;
    highlightRow(indexPathForRowAtPoint(touch.locationIn(this)));
}

void TableView::contentTouchCancelled() {
    highlightRow(std::nullopt);
}

void TableView::contentTouchEnded(const Touch& touch) {
    auto path = _highlighted;
    highlightRow(std::nullopt);
    if (!path || !_allowsSelection) return;
    if (indexPathForRowAtPoint(touch.locationIn(this)) != path) return;
    auto previous = _selected;
    selectRowAtIndexPath(path, false);
    if (previous && previous != path && _tableDelegate && _tableDelegate->didDeselectRow) {
        _tableDelegate->didDeselectRow(*this, *previous);
    }
    if (_tableDelegate && _tableDelegate->didSelectRow) _tableDelegate->didSelectRow(*this, *path);
}

}  // namespace quorbit::platform
