#pragma once

#include <functional>

#include "platform/ui/View.h"

namespace quorbit::platform {

// A row of dots, one per page, the current one lit. A tap left or right of the current dot
// moves one page that way and runs the value-changed action.
class PageControl : public View {
  public:
    explicit PageControl(Rect frame = {});

    int numberOfPages() const { return _numberOfPages; }
    void setNumberOfPages(int pages);
    // Always within 0 ..< numberOfPages (0 when there are none).
    int currentPage() const { return _currentPage; }
    void setCurrentPage(int page);
    bool hidesForSinglePage() const { return _hidesForSinglePage; }
    void setHidesForSinglePage(bool on);
    void setValueChangedAction(std::function<void(PageControl&)> action) {
        _valueChanged = std::move(action);
    }

    // The centre of a page's dot, in bounds coordinates.
    Point dotCenter(int page) const;

    void touchesBegan(const std::vector<Touch>& touches) override;
    void touchesMoved(const std::vector<Touch>&) override {}
    void touchesEnded(const std::vector<Touch>& touches) override;
    void touchesCancelled(const std::vector<Touch>&) override {}

    bool draws() const override { return true; }
    void draw(Canvas& canvas) override;

  private:
    int _numberOfPages = 0;
    int _currentPage = 0;
    bool _hidesForSinglePage = false;
    std::function<void(PageControl&)> _valueChanged;
};

}  // namespace quorbit::platform
