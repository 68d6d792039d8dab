#include "screens/camera/LastPictureButtonViewController.h"

#include "screens/camera/ControlArt.h"

namespace quorbit::camera_screen {

LastPictureButtonViewController::LastPictureButtonViewController(platform::Rect frame)
    : Button(frame, Type::Custom) {
    setOpaque(false);
}

void LastPictureButtonViewController::setImage(std::shared_ptr<const platform::Image> image) {
    _image = std::move(image);
    setNeedsDisplay();
}

void LastPictureButtonViewController::touchesEnded(const std::vector<platform::Touch>& touches) {
    if (_delegate) _delegate->showSharingWindow();
    Button::touchesEnded(touches);
}

void LastPictureButtonViewController::draw(platform::Canvas& canvas) {
    auto state =
        isHighlighted() ? ControlArt::ControlState::Pressed : ControlArt::ControlState::Normal;
    ControlArt::drawThumbnail(canvas, bounds(), _image.get(), state);
}

}  // namespace quorbit::camera_screen
