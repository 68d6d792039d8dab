#include "platform/ui/DisplayLink.h"

#include <SDL2/SDL.h>

namespace quorbit::platform {
namespace {
double gRefreshOverride = 0;
}

DisplayLink::DisplayLink(std::function<void()> target) : _target(std::move(target)) {}

DisplayLink::~DisplayLink() {
    invalidate();
}

double DisplayLink::refreshRate() {
    if (gRefreshOverride > 0) return gRefreshOverride;
    if (SDL_WasInit(SDL_INIT_VIDEO)) {
        SDL_DisplayMode mode;
        if (SDL_GetCurrentDisplayMode(0, &mode) == 0 && mode.refresh_rate > 0)
            return mode.refresh_rate;
    }
    return 60.0;
}

void DisplayLink::setRefreshRate(double hz) {
    gRefreshOverride = hz;
}

void DisplayLink::setFrameInterval(int interval) {
    if (interval < 1 || interval == _frameInterval) return;
    _frameInterval = interval;
    if (_loop) schedule();
}

void DisplayLink::addToRunLoop(RunLoop& loop) {
    if (!_valid) return;
    _loop = &loop;
    schedule();
}

void DisplayLink::schedule() {
    auto period = std::chrono::duration_cast<RunLoop::Duration>(
        std::chrono::duration<double>(_frameInterval / refreshRate()));
    _timer = _loop->timer(
        period,
        [this] {
            if (_target) _target();
        },
        period);
}

void DisplayLink::invalidate() {
    _timer.reset();
    _loop = nullptr;
    _valid = false;
}

}  // namespace quorbit::platform
