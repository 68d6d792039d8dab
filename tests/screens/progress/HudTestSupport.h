#pragma once

#include <algorithm>
#include <chrono>
#include <ostream>

#include "platform/core/Geometry.h"
#include "platform/core/RunLoop.h"

namespace quorbit::platform {
// Readable geometry in test failures.
inline void PrintTo(const Rect& r, std::ostream* os) {
    *os << "(" << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height() << ")";
}
}  // namespace quorbit::platform

namespace quorbit::testing {

using namespace std::chrono_literals;

// Sets the main run loop's clock to one that moves only when told, for as long as it lives.
class ManualClock {
  public:
    using Clock = platform::RunLoop::Clock;

    ManualClock() {
        platform::RunLoop::main().setClock([this] { return _now; });
    }
    ~ManualClock() { platform::RunLoop::main().setClock({}); }
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    // Moves the clock on by d in frame-sized steps, running what falls due at each step
    // (timers, animation frames), so that animations see in-between times.
    void advance(Clock::duration d) {
        const Clock::time_point end = _now + d;
        do {
            _now = std::min(_now + Clock::duration(10ms), end);
            platform::RunLoop::main().runOnce(0ms);
        } while (_now < end);
    }

  private:
    Clock::time_point _now = Clock::now();
};

// Turns the main run loop (in real time) until pred holds or a generous time has passed.
template <typename Pred>
bool runUntil(Pred pred, std::chrono::milliseconds timeout = 3000ms) {
    return platform::RunLoop::main().runUntil(pred, timeout);
}

}  // namespace quorbit::testing
