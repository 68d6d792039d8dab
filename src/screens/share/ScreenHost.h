#pragma once

namespace quorbit::share {

// What the share screen and the settings screen ask of the screen that presents them (the
// camera screen): to be told when they have gone, so that it takes frames and touches back.
class ScreenHost {
  public:
    virtual ~ScreenHost() = default;
    // Called once the child screen has disappeared.
    virtual void restart() = 0;
};

}  // namespace quorbit::share
