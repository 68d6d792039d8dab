#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/RunLoop.h"
#include "platform/ui/Window.h"

namespace quorbit::testing {

using namespace std::chrono_literals;
using platform::Point;
using Calls = std::vector<std::string>;

// Finger gestures in window points, sent through the same entry point the host uses.
inline void touchDown(Point p, int id = 1) {
    platform::Window::dispatchTouch(platform::TouchPhase::Began, id, p);
}
inline void touchMove(Point p, int id = 1) {
    platform::Window::dispatchTouch(platform::TouchPhase::Moved, id, p);
}
inline void touchUp(Point p, int id = 1) {
    platform::Window::dispatchTouch(platform::TouchPhase::Ended, id, p);
}
inline void tap(Point p, int id = 1) {
    touchDown(p, id);
    touchUp(p, id);
}

// A drag from a to b in steps, letting the run loop turn for stepTime between moves so that
// the scroll view sees a real speed; optionally holds still before lifting.
inline void drag(Point a, Point b, int steps = 8, std::chrono::milliseconds stepTime = 10ms,
                 bool lift = true, std::chrono::milliseconds holdBeforeLift = 0ms) {
    touchDown(a);
    for (int i = 1; i <= steps; ++i) {
        double t = double(i) / steps;
        platform::RunLoop::main().runFor(stepTime);
        touchMove({a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t});
    }
    if (holdBeforeLift.count() > 0) platform::RunLoop::main().runFor(holdBeforeLift);
    if (lift) touchUp(b);
}

// Turns the main run loop until pred holds (or a generous time has passed).
template <typename Pred>
bool runUntil(Pred pred, std::chrono::milliseconds timeout = 3000ms) {
    return platform::RunLoop::main().runUntil(pred, timeout);
}

// A visible window of the default screen size, made key.
inline std::shared_ptr<platform::Window> makeWindow() {
    auto window = std::make_shared<platform::Window>(platform::Window::screenBounds());
    window->makeKeyAndVisible();
    return window;
}

// Collects the names of callbacks in the order they happen.
struct CallLog {
    Calls calls;
    void operator()(std::string name) { calls.push_back(std::move(name)); }
    void clear() { calls.clear(); }
};

}  // namespace quorbit::testing
