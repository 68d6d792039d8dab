#pragma once

#include "platform/ui/View.h"

namespace quorbit::camera_screen {

// The camera screen's control bar: the dark bar the controls sit on.
class ControlBarView : public platform::View {
  public:
    explicit ControlBarView(platform::Rect frame = {});

    bool draws() const override { return true; }
    void draw(platform::Canvas& canvas) override;
};

}  // namespace quorbit::camera_screen
