#include "screens/camera/ControlBarView.h"

#include "screens/camera/ControlArt.h"

namespace quorbit::camera_screen {

ControlBarView::ControlBarView(platform::Rect frame) : View(frame) {
    setOpaque(true);
}

void ControlBarView::draw(platform::Canvas& canvas) {
    ControlArt::drawBar(canvas, bounds());
}

}  // namespace quorbit::camera_screen
