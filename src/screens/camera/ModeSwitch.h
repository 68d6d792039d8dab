#pragma once

#include "platform/ui/Button.h"

namespace quorbit::camera_screen {

// The camera screen's choice between photos and video: "Photo" and "Video" side by side on a
// dark pill, the chosen one in the accent colour. A tap sends the button's actions (the
// screen switches the mode); the title is the chosen mode's word.
class ModeSwitch : public platform::Button {
  public:
    explicit ModeSwitch(platform::Rect frame = {});

    bool video() const { return _video; }
    void setVideo(bool video);
    // The size the two words need.
    platform::Size preferredSize() const;

    void draw(platform::Canvas& canvas) override;

  private:
    bool _video = false;
};

}  // namespace quorbit::camera_screen
