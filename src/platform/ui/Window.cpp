#include "platform/ui/Window.h"

#include <algorithm>
#include <map>

#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/ui/ViewController.h"

namespace quorbit::platform {

namespace {

struct WindowRegistry {
    std::vector<Window*> windows;  // in order of creation
    Window* key = nullptr;
    unsigned long nextOrder = 1;
    Rect screen{0, 0, 320, 480};
    double scale = 1;
};

WindowRegistry& registry() {
    static WindowRegistry r;
    return r;
}

// A touch in progress: the view it is bound to (weakly; the view may go away under the
// finger) and where it started.
struct ActiveTouch {
    std::weak_ptr<View> view;
    Touch touch;
};

std::map<int, ActiveTouch>& activeTouches() {
    static std::map<int, ActiveTouch> touches;
    return touches;
}

void deliver(View* view, TouchPhase phase, const Touch& touch) {
    std::vector<Touch> touches{touch};
    switch (phase) {
        case TouchPhase::Began:
            view->touchesBegan(touches);
            break;
        case TouchPhase::Moved:
            view->touchesMoved(touches);
            break;
        case TouchPhase::Ended:
            view->touchesEnded(touches);
            break;
        case TouchPhase::Cancelled:
            view->touchesCancelled(touches);
            break;
    }
}

}  // namespace

Window::Window(Rect frame) : View(frame) {
    setHidden(true);
    registry().windows.push_back(this);
    _order = registry().nextOrder++;
}

Window::~Window() {
    auto& r = registry();
    r.windows.erase(std::remove(r.windows.begin(), r.windows.end(), this), r.windows.end());
    if (r.key == this) r.key = nullptr;
    markWindowDirty();
}

void Window::makeKeyAndVisible() {
    makeKeyWindow();
    setHidden(false);
}

void Window::makeKeyWindow() {
    registry().key = this;
}

Window* Window::keyWindow() {
    return registry().key;
}

std::vector<Window*> Window::windows() {
    std::vector<Window*> list = registry().windows;
    std::stable_sort(list.begin(), list.end(), [](const Window* a, const Window* b) {
        if (a->_windowLevel != b->_windowLevel) return a->_windowLevel < b->_windowLevel;
        return a->_order < b->_order;
    });
    return list;
}

void Window::setWindowLevel(double level) {
    _windowLevel = level;
    markWindowDirty();
}

void Window::setRootViewController(std::shared_ptr<ViewController> controller) {
    if (controller == _rootViewController) return;
    auto old = _rootViewController;
    bool visible = !isHidden();
    if (old) {
        if (visible && _rootAppeared) old->beginAppearance(false, false);
        if (old->isViewLoaded()) {
            auto oldView = old->view();
            if (oldView->superview() == this) oldView->removeFromSuperview();
        }
        if (visible && _rootAppeared) old->endAppearance(false, false);
    }
    _rootViewController = std::move(controller);
    _rootAppeared = false;
    if (!_rootViewController) return;
    auto view = _rootViewController->view();
    if (visible) _rootViewController->beginAppearance(true, false);
    if (view->frame().isEmpty()) view->setFrame(bounds());
    // A root screen that fills the window keeps filling it when the window is resized.
    if (view->frame() == bounds())
        view->setAutoresizingMask(View::FlexibleWidth | View::FlexibleHeight);
    addSubview(view);
    if (visible) {
        _rootViewController->endAppearance(true, false);
        _rootAppeared = true;
    }
}

void Window::didChangeHidden() {
    bool visible = !isHidden();
    if (!visible) cancelTouchesIn(this);
    if (!_rootViewController) return;
    if (visible == _rootAppeared) return;
    // The window's visibility is its root screen's appearance; a modal screen covering the
    // root hears it instead.
    ViewController* top = _rootViewController.get();
    while (top->modalViewController())
        top = top->modalViewController().get();
    top->beginAppearance(visible, false);
    top->endAppearance(visible, false);
    _rootAppeared = visible;
}

Rect Window::screenBounds() {
    return registry().screen;
}
void Window::setScreenBounds(Rect bounds) {
    registry().screen = bounds;
}
double Window::screenScale() {
    return registry().scale;
}
void Window::setScreenScale(double scale) {
    if (scale > 0) registry().scale = scale;
}

namespace {
void invalidateTree(View& view) {
    view.setNeedsLayout();
    view.setNeedsDisplay();
    for (const auto& child : view.subviews())
        invalidateTree(*child);
}
}  // namespace

void Window::resizeScreen(Rect bounds, double scale) {
    auto& r = registry();
    Rect old = r.screen;
    bool rescaled = scale > 0 && scale != r.scale;
    r.screen = bounds;
    setScreenScale(scale);
    for (Window* window : std::vector<Window*>(r.windows)) {
        if (window->frame() == old && old != bounds) window->setFrame(bounds);
        if (rescaled) invalidateTree(*window);
    }
    markWindowDirty();
    if (old != bounds || rescaled)
        NotificationCenter::defaultCenter().post(kScreenDidResizeNotification, nullptr, {});
}

std::pair<Window*, View*> Window::targetAt(Point point) {
    auto list = windows();
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        Window* window = *it;
        if (window->isHidden()) continue;
        Point local = window->convertFromWindow(point);
        if (!window->pointInside(local)) continue;
        // The topmost window under the point takes it, even when no view of it does.
        return {window, window->hitTest(local)};
    }
    return {nullptr, nullptr};
}

void Window::dispatchTouch(TouchPhase phase, int touchId, Point point) {
    auto& touches = activeTouches();
    auto now = std::chrono::steady_clock::now();

    if (phase == TouchPhase::Began) {
        // A new touch with the id of one that never ended: end the old one first.
        if (touches.count(touchId)) dispatchTouch(TouchPhase::Cancelled, touchId, point);
        auto [window, target] = targetAt(point);
        if (target) {
            Touch touch;
            touch.id = touchId;
            touch.windowLocation = touch.previousWindowLocation = touch.initialWindowLocation =
                point;
            touch.phase = TouchPhase::Began;
            touch.timestamp = now;
            touches[touchId] = {target->weak_from_this(), touch};
            for (View* v = target; v; v = v->superview()) {
                if (!v->canBecomeFocused()) continue;
                window->setFocusedView(v);
                break;
            }
            deliver(target, phase, touch);
        }
        return;
    }

    auto found = touches.find(touchId);
    if (found == touches.end()) return;
    Touch touch = found->second.touch;
    touch.previousWindowLocation = touch.windowLocation;
    touch.windowLocation = point;
    touch.phase = phase;
    touch.timestamp = now;
    found->second.touch = touch;
    std::shared_ptr<View> view = found->second.view.lock();
    if (phase == TouchPhase::Ended || phase == TouchPhase::Cancelled) touches.erase(found);
    if (!view) return;

    if (phase == TouchPhase::Moved) {
        for (View* ancestor = view->superview(); ancestor; ancestor = ancestor->superview()) {
            if (!ancestor->shouldInterceptTouch(touch)) continue;
            // The ancestor takes the touch over: the view loses it, the ancestor gets it
            // as if it had begun there.
            auto taker = ancestor->shared_from_this();
            touches[touchId].view = taker;
            Touch cancelled = touch;
            cancelled.phase = TouchPhase::Cancelled;
            deliver(view.get(), TouchPhase::Cancelled, cancelled);
            Touch began = touch;
            began.phase = TouchPhase::Began;
            began.windowLocation = began.previousWindowLocation = touch.initialWindowLocation;
            deliver(taker.get(), TouchPhase::Began, began);
            deliver(taker.get(), TouchPhase::Moved, touch);
            return;
        }
    }
    deliver(view.get(), phase, touch);
}

bool Window::dispatchSecondaryClick(Point point) {
    View* target = targetAt(point).second;
    if (!target) return false;
    auto keep = target->shared_from_this();
    for (View* v = target; v; v = v->superview())
        if (v->secondaryClick(point)) return true;
    return false;
}

void Window::cancelAllTouches() {
    std::vector<int> ids;
    for (auto& [id, active] : activeTouches())
        ids.push_back(id);
    for (int id : ids) {
        auto it = activeTouches().find(id);
        if (it == activeTouches().end()) continue;
        dispatchTouch(TouchPhase::Cancelled, id, it->second.touch.windowLocation);
    }
}

void Window::cancelTouchesIn(const Window* window) {
    std::vector<int> ids;
    for (auto& [id, active] : activeTouches()) {
        auto view = active.view.lock();
        if (!view || view->rootView() == window) ids.push_back(id);
    }
    for (int id : ids) {
        auto it = activeTouches().find(id);
        if (it == activeTouches().end()) continue;
        dispatchTouch(TouchPhase::Cancelled, id, it->second.touch.windowLocation);
    }
}

bool Window::hasActiveTouches() {
    return !activeTouches().empty();
}

View* Window::focusedView() const {
    auto view = _focused.lock();
    if (!view || view->rootView() != this) return nullptr;
    return view.get();
}

void Window::setFocusedView(View* view) {
    if (view && (view->rootView() != this || !view->canBecomeFocused())) return;
    View* old = focusedView();
    if (old == view) return;
    // Only a view held by a shared_ptr can be focused: the window must see it die.
    _focused = view ? view->weak_from_this() : std::weak_ptr<View>();
    if (old) old->didChangeFocus(false);
    if (view && focusedView() == view) view->didChangeFocus(true);
}

bool Window::dispatchKey(const KeyEvent& event, bool pressed) {
    Window* window = keyWindow();
    if (!window) return false;
    View* view = window->focusedView();
    if (!view) {
        ViewController* top = window->topViewController();
        if (!pressed || !top) return false;
        auto keep = top->shared_from_this();
        return top->handleKey(event);
    }
    auto keep = view->shared_from_this();
    if (pressed)
        view->keyDown(event);
    else
        view->keyUp(event);
    return true;
}

ViewController* Window::topViewController() const {
    ViewController* top = _rootViewController.get();
    while (top && top->modalViewController())
        top = top->modalViewController().get();
    return top;
}

void Window::keyDown(const KeyEvent& event) {
    // The end of the focused view's chain: the screen on top decides.
    if (ViewController* top = topViewController()) {
        auto keep = top->shared_from_this();
        top->handleKey(event);
    }
}

void Window::keyUp(const KeyEvent&) {}

bool Window::dispatchWheel(int right, int down) {
    Window* window = keyWindow();
    ViewController* top = window ? window->topViewController() : nullptr;
    if (!top || (right == 0 && down == 0)) return false;
    auto keep = top->shared_from_this();
    return top->handleWheel(right, down);
}

bool Window::dispatchText(const std::string& text) {
    Window* window = keyWindow();
    View* view = window ? window->focusedView() : nullptr;
    if (!view || text.empty()) return false;
    auto keep = view->shared_from_this();
    view->textInput(text);
    return true;
}

}  // namespace quorbit::platform
