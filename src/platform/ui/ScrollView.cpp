#include "platform/ui/ScrollView.h"

#include <algorithm>
#include <cmath>

namespace quorbit::platform {

namespace {

using Clock = RunLoop::Clock;
constexpr auto kFrameInterval = std::chrono::microseconds(16667);
// Seconds a flick keeps the content gliding (time constant of the slow-down).
constexpr double kDecelerationTime = 0.35;
// Below this speed (points per second) a released drag simply stops.
constexpr double kMinimumFlickSpeed = 60;
constexpr double kPageSettleTime = 0.3;
constexpr double kAnimatedScrollTime = 0.3;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

ScrollView::ScrollView(Rect frame) : View(frame) {
    setClipsToBounds(true);
}

ScrollView::~ScrollView() = default;

void ScrollView::setContentSize(Size size) {
    _contentSize = {std::max(size.width, 0.0), std::max(size.height, 0.0)};
    setNeedsLayout();
}

Point ScrollView::maximumContentOffset() const {
    return {std::max(0.0, _contentSize.width - bounds().width()),
            std::max(0.0, _contentSize.height - bounds().height())};
}

bool ScrollView::canScrollHorizontally() const {
    return _scrollEnabled && (_contentSize.width > bounds().width() || _alwaysBounceHorizontal);
}

bool ScrollView::canScrollVertically() const {
    return _scrollEnabled && (_contentSize.height > bounds().height() || _alwaysBounceVertical);
}

Point ScrollView::clampOffset(Point p) const {
    Point max = maximumContentOffset();
    return {std::clamp(p.x, 0.0, max.x), std::clamp(p.y, 0.0, max.y)};
}

void ScrollView::setContentOffset(Point offset) {
    setContentOffset(offset, false);
}

void ScrollView::setContentOffset(Point offset, bool animated) {
    stopMotion();
    if (animated && offset != contentOffset()) {
        startMotion(offset, kAnimatedScrollTime, false);
    } else {
        applyOffset(offset);
    }
}

void ScrollView::applyOffset(Point offset) {
    if (offset == contentOffset()) return;
    Rect b = bounds();
    setBounds(Rect(offset, b.size));
    if (_delegate && _delegate->didScroll) _delegate->didScroll(*this);
    offsetDidChange();
}

// Past an edge the content follows the finger at half speed (or not at all without bounce).
Point ScrollView::rubberBand(Point p) const {
    Point max = maximumContentOffset();
    auto band = [this](double v, double hi) {
        if (v < 0) return _bounces ? v / 2 : 0.0;
        if (v > hi) return _bounces ? hi + (v - hi) / 2 : hi;
        return v;
    };
    return {band(p.x, max.x), band(p.y, max.y)};
}

bool ScrollView::shouldInterceptTouch(const Touch& touch) {
    if (!_scrollEnabled || _trackingTouch || isHidden() || !isUserInteractionEnabled()) {
        return false;
    }
    double dx = touch.windowLocation.x - touch.initialWindowLocation.x;
    double dy = touch.windowLocation.y - touch.initialWindowLocation.y;
    return (canScrollHorizontally() && std::abs(dx) > kDragThreshold) ||
           (canScrollVertically() && std::abs(dy) > kDragThreshold);
}

void ScrollView::touchesBegan(const std::vector<Touch>& touches) {
    if (touches.empty() || _trackingTouch) return;
    const Touch& touch = touches.front();
    // A finger on moving content catches it.
    stopMotion();
    _trackingTouch = touch.id;
    _touchStart = touch.windowLocation;
    _lastTouch = touch.windowLocation;
    _lastTouchTime = touch.timestamp;
    _velocity = {};
    _offsetAtStart = contentOffset();
    contentTouchBegan(touch);
}

void ScrollView::touchesMoved(const std::vector<Touch>& touches) {
    for (const Touch& touch : touches) {
        if (touch.id != _trackingTouch) continue;
        if (!_dragging) {
            double dx = touch.windowLocation.x - _touchStart.x;
            double dy = touch.windowLocation.y - _touchStart.y;
            bool moved = (canScrollHorizontally() && std::abs(dx) > kDragThreshold) ||
                         (canScrollVertically() && std::abs(dy) > kDragThreshold);
            if (!moved) continue;
            _dragging = true;
            contentTouchCancelled();
            if (_delegate && _delegate->willBeginDragging) _delegate->willBeginDragging(*this);
        }
        dragTo(touch);
    }
}

void ScrollView::dragTo(const Touch& touch) {
    Point delta{canScrollHorizontally() ? touch.windowLocation.x - _touchStart.x : 0,
                canScrollVertically() ? touch.windowLocation.y - _touchStart.y : 0};
    Point before = contentOffset();
    applyOffset(rubberBand({_offsetAtStart.x - delta.x, _offsetAtStart.y - delta.y}));
    // Velocity of the content, smoothed over the last few moves.
    double dt = seconds(touch.timestamp - _lastTouchTime);
    if (dt > 0.0005) {
        Point now = contentOffset();
        Point instant{(now.x - before.x) / dt, (now.y - before.y) / dt};
        double keep = dt > 0.1 ? 0 : 0.3;
        _velocity = {_velocity.x * keep + instant.x * (1 - keep),
                     _velocity.y * keep + instant.y * (1 - keep)};
    }
    _lastTouch = touch.windowLocation;
    _lastTouchTime = touch.timestamp;
}

void ScrollView::touchesEnded(const std::vector<Touch>& touches) {
    for (const Touch& touch : touches) {
        if (touch.id != _trackingTouch) continue;
        _trackingTouch.reset();
        if (_dragging) {
            // A finger that rested before lifting throws nothing.
            if (seconds(touch.timestamp - _lastTouchTime) > 0.1) _velocity = {};
            endDrag(false);
        } else {
            contentTouchEnded(touch);
            // Content caught mid-way (past an edge, or between pages) goes to rest.
            _offsetAtStart = contentOffset();
            _velocity = {};
            Point rest =
                _pagingEnabled ? pagedTarget(contentOffset()) : clampOffset(contentOffset());
            if (rest != contentOffset()) startMotion(rest, kPageSettleTime, false);
        }
        return;
    }
}

void ScrollView::touchesCancelled(const std::vector<Touch>& touches) {
    for (const Touch& touch : touches) {
        if (touch.id != _trackingTouch) continue;
        _trackingTouch.reset();
        if (_dragging) {
            _velocity = {};
            endDrag(true);
        } else {
            contentTouchCancelled();
        }
        return;
    }
}

Point ScrollView::pagedTarget(Point offset) const {
    Point max = maximumContentOffset();
    auto axis = [](double now, double start, double velocity, double page, double max) {
        if (page <= 0) return now;
        // Project the flick a little ahead, then take the nearest page, at most one page
        // from where the drag began.
        double projected = now + velocity * 0.15;
        double startPage = std::round(start / page);
        double target = std::round(projected / page);
        target = std::clamp(target, startPage - 1, startPage + 1);
        return std::clamp(target * page, 0.0, max);
    };
    return {canScrollHorizontally()
                ? axis(offset.x, _offsetAtStart.x, _velocity.x, bounds().width(), max.x)
                : offset.x,
            canScrollVertically()
                ? axis(offset.y, _offsetAtStart.y, _velocity.y, bounds().height(), max.y)
                : offset.y};
}

void ScrollView::endDrag(bool cancelled) {
    (void)cancelled;
    _dragging = false;
    Point now = contentOffset();
    Point target;
    double duration;
    if (_pagingEnabled) {
        // Always settle through a deceleration, even onto the page already showing, so
        // that the end of every drag is reported by didEndDecelerating.
        target = pagedTarget(now);
        duration = kPageSettleTime;
    } else {
        double speed = std::hypot(_velocity.x, _velocity.y);
        Point clamped = clampOffset(now);
        if (clamped == now && speed < kMinimumFlickSpeed) {
            if (_delegate && _delegate->didEndDragging) _delegate->didEndDragging(*this, false);
            return;
        }
        target = clampOffset(
            {now.x + _velocity.x * kDecelerationTime, now.y + _velocity.y * kDecelerationTime});
        if (clamped != now) target = clamped;  // spring back inside the edges
        duration = clamped != now ? kPageSettleTime : kDecelerationTime * 3;
    }
    if (_delegate && _delegate->didEndDragging) _delegate->didEndDragging(*this, true);
    _decelerating = true;
    if (_delegate && _delegate->willBeginDecelerating) _delegate->willBeginDecelerating(*this);
    startMotion(target, duration, true);
}

void ScrollView::startMotion(Point target, double duration, bool deceleration) {
    _motionFrom = contentOffset();
    _motionTo = target;
    _motionStart = Clock::now();
    _motionDuration = duration;
    _motionIsDeceleration = deceleration;
    _decelerating = deceleration;
    if (!_motionTimer) {
        _motionTimer = RunLoop::main().timer(
            kFrameInterval, [this] { motionStep(); }, kFrameInterval);
    }
}

void ScrollView::motionStep() {
    double t = _motionDuration > 0 ? seconds(Clock::now() - _motionStart) / _motionDuration : 1;
    bool done = t >= 1;
    t = std::min(t, 1.0);
    double eased = 1 - std::pow(1 - t, 3);  // fast start, gentle stop
    Point p{_motionFrom.x + (_motionTo.x - _motionFrom.x) * eased,
            _motionFrom.y + (_motionTo.y - _motionFrom.y) * eased};
    if (done) {
        _motionTimer.reset();
        p = _motionTo;
    }
    auto keepAlive = weak_from_this().lock();  // a delegate may let go of the view
    applyOffset(p);
    if (!done) return;
    if (_motionIsDeceleration) {
        _decelerating = false;
        if (_delegate && _delegate->didEndDecelerating) _delegate->didEndDecelerating(*this);
    } else if (_delegate && _delegate->didEndScrollingAnimation) {
        _delegate->didEndScrollingAnimation(*this);
    }
}

void ScrollView::stopMotion() {
    if (!_motionTimer) return;
    _motionTimer.reset();
    if (_motionIsDeceleration) {
        _decelerating = false;
        if (_delegate && _delegate->didEndDecelerating) _delegate->didEndDecelerating(*this);
    }
}

}  // namespace quorbit::platform
