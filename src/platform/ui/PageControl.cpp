#include "platform/ui/PageControl.h"

#include <algorithm>
#include <cmath>

#include "platform/gfx/Canvas.h"

namespace quorbit::platform {

namespace {
constexpr double kDotDiameter = 7;
constexpr double kDotSpacing = 16;  // centre to centre
}  // namespace

PageControl::PageControl(Rect frame) : View(frame) {
    setOpaque(false);
}

void PageControl::setNumberOfPages(int pages) {
    _numberOfPages = std::max(pages, 0);
    _currentPage = std::clamp(_currentPage, 0, std::max(_numberOfPages - 1, 0));
    setNeedsDisplay();
}

void PageControl::setCurrentPage(int page) {
    page = std::clamp(page, 0, std::max(_numberOfPages - 1, 0));
    if (page == _currentPage) return;
    _currentPage = page;
    setNeedsDisplay();
}

void PageControl::setHidesForSinglePage(bool on) {
    _hidesForSinglePage = on;
    setNeedsDisplay();
}

Point PageControl::dotCenter(int page) const {
    Rect b = bounds();
    double width = (_numberOfPages - 1) * kDotSpacing;
    return {std::floor(b.midX() - width / 2) + page * kDotSpacing + 0.5,
            std::floor(b.midY()) + 0.5};
}

void PageControl::touchesBegan(const std::vector<Touch>&) {}

void PageControl::touchesEnded(const std::vector<Touch>& touches) {
    if (touches.empty() || _numberOfPages == 0) return;
    Point p = touches.front().locationIn(this);
    if (!bounds().contains(p)) return;
    int page = p.x < dotCenter(_currentPage).x ? _currentPage - 1 : _currentPage + 1;
    if (page < 0 || page >= _numberOfPages) return;
    setCurrentPage(page);
    if (_valueChanged) _valueChanged(*this);
}

void PageControl::draw(Canvas& canvas) {
    if (_numberOfPages == 0 || (_hidesForSinglePage && _numberOfPages == 1)) return;
    for (int page = 0; page < _numberOfPages; ++page) {
        Point c = dotCenter(page);
        canvas.beginPath();
        canvas.arc(c, kDotDiameter / 2, 0, 2 * M_PI);
        canvas.fill(page == _currentPage ? Color::white() : Color{1, 1, 1, 0.35});
    }
}

}  // namespace quorbit::platform
