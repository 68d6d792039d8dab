#pragma once

#include "platform/ui/ProgressView.h"

namespace quorbit::hud {

// A round progress dial: a faint white disc with a white rim, filled by a white pie that
// grows clockwise from twelve o'clock as progress goes from 0 to 1.
class RoundProgressView : public platform::ProgressView {
  public:
    static constexpr double kDefaultSize = 37;

    // The default size, kDefaultSize square at the origin.
    RoundProgressView();
    explicit RoundProgressView(platform::Rect frame);

    void draw(platform::Canvas& canvas) override;
};

}  // namespace quorbit::hud
