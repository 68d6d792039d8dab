#pragma once

#include <algorithm>

#include "platform/core/RunLoop.h"

// A clock for the main run loop that moves only when the test says, so that timers and
// animations can be checked at exact moments.
namespace quorbit::testing {

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
    // (timers, animation frames) so that animations see in-between times; at the end, work
    // that the last timers posted runs too.
    void advance(Clock::duration d) {
        const Clock::time_point end = _now + d;
        do {
            _now = std::min(_now + Clock::duration(std::chrono::milliseconds(10)), end);
            platform::RunLoop::main().runOnce(Clock::duration::zero());
        } while (_now < end);
        for (int i = 0; i < 2; ++i)
            platform::RunLoop::main().runOnce(Clock::duration::zero());
    }

  private:
    Clock::time_point _now = Clock::now();
};

}  // namespace quorbit::testing
