#pragma once

#include <functional>

#include "platform/core/RunLoop.h"

namespace quorbit::platform {

// A timer synchronised with the display's refresh: calls its target once every
// frameInterval refreshes while it is added to a run loop, until invalidated.
class DisplayLink {
  public:
    explicit DisplayLink(std::function<void()> target);
    ~DisplayLink();
    DisplayLink(const DisplayLink&) = delete;
    DisplayLink& operator=(const DisplayLink&) = delete;

    int frameInterval() const { return _frameInterval; }
    // Values below 1 are ignored.
    void setFrameInterval(int interval);
    void addToRunLoop(RunLoop& loop);
    void invalidate();
    bool isValid() const { return _valid; }
    bool isScheduled() const { return _loop != nullptr; }

    // The display's refresh rate in Hz (60 when the display does not say).
    static double refreshRate();
    // Replaces the refresh rate (tests, or a host that knows better); 0 restores the default.
    static void setRefreshRate(double hz);

  private:
    void schedule();

    std::function<void()> _target;
    int _frameInterval = 1;
    RunLoop* _loop = nullptr;
    RunLoopHandle _timer;
    bool _valid = true;
};

}  // namespace quorbit::platform
