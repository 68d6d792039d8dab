#include "platform/ui/View.h"

#include <algorithm>

#include "platform/gl/GLLayer.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Window.h"

namespace quorbit::platform {

void View::markWindowDirty() {
    platform::markWindowDirty();
}

bool View::takeWindowDirty() {
    return platform::takeWindowDirty();
}

Point Touch::locationIn(const View* view) const {
    return view ? view->convertFromWindow(windowLocation) : windowLocation;
}

View::View(Rect frame) : _frame(frame), _bounds(0, 0, frame.width(), frame.height()) {}

View::~View() {
    for (auto& child : _subviews)
        child->_superview = nullptr;
}

void View::setFrame(Rect frame) {
    if (Animation::intercept(this, Animation::Property::Frame, _frame, frame)) return;
    Size oldSize = _bounds.size;
    _frame = frame;
    _bounds.size = frame.size;
    if (oldSize != frame.size) {
        setNeedsLayout();
        setNeedsDisplay();
        resizeSubviews(oldSize);
    }
    markWindowDirty();
}

void View::setBounds(Rect bounds) {
    Size oldSize = _bounds.size;
    _bounds = bounds;
    if (oldSize != bounds.size) {
        _frame = Rect(_frame.midX() - bounds.width() / 2, _frame.midY() - bounds.height() / 2,
                      bounds.width(), bounds.height());
        setNeedsLayout();
        setNeedsDisplay();
        resizeSubviews(oldSize);
    }
    markWindowDirty();
}

void View::setCenter(Point c) {
    Rect moved(c.x - _frame.width() / 2, c.y - _frame.height() / 2, _frame.width(),
               _frame.height());
    if (Animation::intercept(this, Animation::Property::Frame, _frame, moved)) return;
    _frame = moved;
    markWindowDirty();
}

void View::setTransform(const AffineTransform& transform) {
    if (Animation::intercept(this, Animation::Property::Transform, _transform, transform)) return;
    _transform = transform;
    markWindowDirty();
}

void View::setContentScaleFactor(double scale) {
    if (scale <= 0 || scale == _contentScaleFactor) return;
    _contentScaleFactor = scale;
    setNeedsDisplay();
    setNeedsLayout();
}

void View::resizeSubviews(Size oldSize) {
    if (!_autoresizesSubviews) return;
    double dw = _bounds.width() - oldSize.width, dh = _bounds.height() - oldSize.height;
    for (auto& child : _subviews) {
        unsigned mask = child->_autoresizingMask;
        if (mask == None) continue;
        Rect f = child->_frame;
        auto share = [](double delta, bool a, bool b, bool c, double wa, double wb, double wc,
                        double& da, double& db) {
            // Distribute delta over the flexible parts in proportion to their sizes.
            double total = (a ? wa : 0) + (b ? wb : 0) + (c ? wc : 0);
            int count = int(a) + int(b) + int(c);
            if (count == 0) return;
            auto part = [&](bool on, double w) {
                if (!on) return 0.0;
                return total > 0 ? delta * w / total : delta / count;
            };
            da = part(a, wa);
            db = part(b, wb);
        };
        double dLeft = 0, dWidth = 0;
        share(dw, mask & FlexibleLeftMargin, mask & FlexibleWidth, mask & FlexibleRightMargin,
              f.minX(), f.width(), oldSize.width - f.maxX(), dLeft, dWidth);
        double dTop = 0, dHeight = 0;
        share(dh, mask & FlexibleTopMargin, mask & FlexibleHeight, mask & FlexibleBottomMargin,
              f.minY(), f.height(), oldSize.height - f.maxY(), dTop, dHeight);
        child->setFrame(
            Rect(f.minX() + dLeft, f.minY() + dTop, f.width() + dWidth, f.height() + dHeight));
    }
}

void View::addSubview(std::shared_ptr<View> view) {
    if (!view) return;
    insertSubview(std::move(view), _subviews.size());
}

void View::insertSubview(std::shared_ptr<View> view, size_t index) {
    if (!view || view.get() == this) return;
    if (view->_superview == this) {
        auto it = std::find(_subviews.begin(), _subviews.end(), view);
        _subviews.erase(it);
    } else if (view->_superview) {
        view->removeFromSuperview();
    }
    index = std::min(index, _subviews.size());
    view->_superview = this;
    _subviews.insert(_subviews.begin() + static_cast<long>(index), view);
    view->didMoveToSuperview();
    markWindowDirty();
}

void View::removeFromSuperview() {
    View* parent = _superview;
    if (!parent) return;
    auto self = shared_from_this();  // keep alive while the parent lets go
    parent->willRemoveSubview(this);
    auto it = std::find(parent->_subviews.begin(), parent->_subviews.end(), self);
    if (it != parent->_subviews.end()) parent->_subviews.erase(it);
    _superview = nullptr;
    didMoveToSuperview();
    markWindowDirty();
}

void View::bringSubviewToFront(View* view) {
    auto it = std::find_if(_subviews.begin(), _subviews.end(),
                           [view](const auto& v) { return v.get() == view; });
    if (it == _subviews.end()) return;
    auto keep = *it;
    _subviews.erase(it);
    _subviews.push_back(keep);
    markWindowDirty();
}

bool View::isDescendantOf(const View* ancestor) const {
    for (const View* v = this; v; v = v->_superview) {
        if (v == ancestor) return true;
    }
    return false;
}

View* View::rootView() {
    View* v = this;
    while (v->_superview)
        v = v->_superview;
    return v;
}

// A view's transform applies about its centre; its bounds origin shifts what it shows.
Point View::convertToWindow(Point p) const {
    for (const View* v = this; v; v = v->_superview) {
        Point local{p.x - v->_bounds.minX() - v->_bounds.width() / 2,
                    p.y - v->_bounds.minY() - v->_bounds.height() / 2};
        Point t = v->_transform.apply(local);
        p = {t.x + v->_frame.midX(), t.y + v->_frame.midY()};
    }
    return p;
}

Point View::convertFromWindow(Point p) const {
    std::vector<const View*> chain;
    for (const View* v = this; v; v = v->_superview)
        chain.push_back(v);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const View* v = *it;
        Point centred{p.x - v->_frame.midX(), p.y - v->_frame.midY()};
        Point t = v->_transform.inverted().apply(centred);
        p = {t.x + v->_bounds.width() / 2 + v->_bounds.minX(),
             t.y + v->_bounds.height() / 2 + v->_bounds.minY()};
    }
    return p;
}

void View::setHidden(bool hidden) {
    if (_hidden == hidden) return;
    _hidden = hidden;
    markWindowDirty();
    didChangeHidden();
}

void View::setAlpha(double alpha) {
    alpha = std::clamp(alpha, 0.0, 1.0);
    if (Animation::intercept(this, Animation::Property::Alpha, _alpha, alpha)) return;
    if (_alpha == alpha) return;
    _alpha = alpha;
    markWindowDirty();
}

void View::setBackgroundColor(std::optional<Color> color) {
    _backgroundColor = color;
    markWindowDirty();
}

void View::setClipsToBounds(bool clips) {
    _clipsToBounds = clips;
    markWindowDirty();
}

bool View::pointInside(Point p) const {
    return _bounds.contains(p);
}

View* View::hitTest(Point p) {
    if (_hidden || !_userInteractionEnabled || _alpha < 0.01) return nullptr;
    if (!pointInside(p)) return nullptr;
    for (auto it = _subviews.rbegin(); it != _subviews.rend(); ++it) {
        View* child = it->get();
        Point inChild = child->convertFromWindow(convertToWindow(p));
        if (View* hit = child->hitTest(inChild)) return hit;
    }
    return this;
}

void View::touchesBegan(const std::vector<Touch>& touches) {
    if (_superview) _superview->touchesBegan(touches);
}
void View::touchesMoved(const std::vector<Touch>& touches) {
    if (_superview) _superview->touchesMoved(touches);
}
void View::touchesEnded(const std::vector<Touch>& touches) {
    if (_superview) _superview->touchesEnded(touches);
}
void View::touchesCancelled(const std::vector<Touch>& touches) {
    if (_superview) _superview->touchesCancelled(touches);
}

bool View::isFocused() const {
    auto* window = dynamic_cast<Window*>(const_cast<View*>(this)->rootView());
    return window && window->focusedView() == this;
}

bool View::becomeFocused() {
    auto* window = dynamic_cast<Window*>(rootView());
    if (!window || !canBecomeFocused()) return false;
    window->setFocusedView(this);
    return true;
}

void View::resignFocused() {
    if (!isFocused()) return;
    static_cast<Window*>(rootView())->setFocusedView(nullptr);
}

void View::keyDown(const KeyEvent& event) {
    if (_superview) _superview->keyDown(event);
}
void View::keyUp(const KeyEvent& event) {
    if (_superview) _superview->keyUp(event);
}
void View::textInput(const std::string& text) {
    if (_superview) _superview->textInput(text);
}

void View::draw(Canvas&) {}

void View::setNeedsDisplay() {
    _needsDisplay = true;
    markWindowDirty();
}

void View::setNeedsLayout() {
    _needsLayout = true;
    markWindowDirty();
}

void View::layoutIfNeeded() {
    if (_needsLayout) {
        _needsLayout = false;
        layoutSubviews();
    }
    for (auto& child : std::vector<std::shared_ptr<View>>(_subviews))
        child->layoutIfNeeded();
}

View* View::findControl(const std::string& name) {
    if (_controlName == name) return this;
    for (auto& child : _subviews) {
        if (View* found = child->findControl(name)) return found;
    }
    return nullptr;
}

}  // namespace quorbit::platform
