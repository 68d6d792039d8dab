#pragma once

#include <chrono>
#include <functional>
#include <optional>

#include "platform/core/RunLoop.h"
#include "platform/ui/View.h"

namespace quorbit::platform {

class ScrollView;

// What a scroll view tells the object that watches it; an empty member is not called.
struct ScrollViewDelegate {
    std::function<void(ScrollView&)> didScroll;
    std::function<void(ScrollView&)> willBeginDragging;
    // decelerate: the view keeps moving after the finger lifted.
    std::function<void(ScrollView&, bool decelerate)> didEndDragging;
    std::function<void(ScrollView&)> willBeginDecelerating;
    std::function<void(ScrollView&)> didEndDecelerating;
    // An animated setContentOffset finished.
    std::function<void(ScrollView&)> didEndScrollingAnimation;
};

// A view that shows a window onto a larger content area; the content offset is the bounds
// origin. A finger that moves more than a few points becomes a drag, even when it began on
// a control inside; lifting the finger lets the content glide to rest (or, with paging, to
// the nearest page in the direction of the flick) and springs back inside the edges.
//
// Callbacks of a drag: willBeginDragging, didScroll for each move, didEndDragging(decelerate);
// then, when it moves on, willBeginDecelerating, didScroll..., didEndDecelerating. With paging
// a drag always ends through deceleration, even when it was let go exactly on a page, so
// every willBeginDragging is followed by a didEndDecelerating.
class ScrollView : public View {
  public:
    // Points a finger must travel before a touch becomes a drag.
    static constexpr double kDragThreshold = 10;

    explicit ScrollView(Rect frame = {});
    ~ScrollView() override;

    Size contentSize() const { return _contentSize; }
    void setContentSize(Size size);
    Point contentOffset() const { return bounds().origin; }
    void setContentOffset(Point offset);
    void setContentOffset(Point offset, bool animated);

    bool isPagingEnabled() const { return _pagingEnabled; }
    void setPagingEnabled(bool on) { _pagingEnabled = on; }
    bool isScrollEnabled() const { return _scrollEnabled; }
    void setScrollEnabled(bool on) { _scrollEnabled = on; }
    bool bounces() const { return _bounces; }
    void setBounces(bool on) { _bounces = on; }
    // Scroll only along an axis with room to move.
    bool alwaysBounceVertical() const { return _alwaysBounceVertical; }
    void setAlwaysBounceVertical(bool on) { _alwaysBounceVertical = on; }
    bool alwaysBounceHorizontal() const { return _alwaysBounceHorizontal; }
    void setAlwaysBounceHorizontal(bool on) { _alwaysBounceHorizontal = on; }

    bool isDragging() const { return _dragging; }
    bool isDecelerating() const { return _decelerating; }
    bool isTracking() const { return _trackingTouch.has_value(); }

    ScrollViewDelegate* delegate() const { return _delegate; }
    void setDelegate(ScrollViewDelegate* delegate) { _delegate = delegate; }

    // The largest offset the content allows (0 where the content is smaller than the view).
    Point maximumContentOffset() const;

    void touchesBegan(const std::vector<Touch>& touches) override;
    void touchesMoved(const std::vector<Touch>& touches) override;
    void touchesEnded(const std::vector<Touch>& touches) override;
    void touchesCancelled(const std::vector<Touch>& touches) override;
    bool shouldInterceptTouch(const Touch& touch) override;

  protected:
    // Hooks for subclasses (TableView): a touch went down on the content; it stopped being a
    // tap (it became a drag or was cancelled); it was lifted without dragging (a tap).
    virtual void contentTouchBegan(const Touch&) {}
    virtual void contentTouchCancelled() {}
    virtual void contentTouchEnded(const Touch&) {}
    // Called whenever the offset changes, after didScroll.
    virtual void offsetDidChange() {}

  private:
    void dragTo(const Touch& touch);
    void endDrag(bool cancelled);
    void startMotion(Point target, double duration, bool deceleration);
    // Stops a running motion where it is; a stopped deceleration still reports its end.
    void stopMotion();
    void motionStep();
    void applyOffset(Point offset);
    Point pagedTarget(Point offset) const;
    Point rubberBand(Point offset) const;
    bool canScrollHorizontally() const;
    bool canScrollVertically() const;
    Point clampOffset(Point offset) const;

    Size _contentSize;
    bool _pagingEnabled = false;
    bool _scrollEnabled = true;
    bool _bounces = true;
    bool _alwaysBounceVertical = false;
    bool _alwaysBounceHorizontal = false;
    bool _dragging = false;
    bool _decelerating = false;
    ScrollViewDelegate* _delegate = nullptr;

    std::optional<int> _trackingTouch;
    Point _touchStart;
    Point _offsetAtStart;
    Point _lastTouch;
    RunLoop::Clock::time_point _lastTouchTime{};
    Point _velocity;  // points per second, of the content offset

    RunLoopHandle _motionTimer;
    Point _motionFrom, _motionTo;
    RunLoop::Clock::time_point _motionStart;
    double _motionDuration = 0;
    bool _motionIsDeceleration = false;
};

}  // namespace quorbit::platform
