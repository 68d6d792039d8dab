#include "screens/camera/LastPictureButtonViewController.h"

#include <cmath>

#include "platform/ui/ControlNames.h"
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

void LastPictureButtonViewController::setSaving(bool saving) {
    if (!saving) {
        if (_saving) _saving->stopAnimating();
        return;
    }
    if (!_saving) {
        _saving = std::make_shared<platform::ActivityIndicator>(
            platform::ActivityIndicator::Style::White);
        _saving->setControlName(controls::kSaving);
        _saving->setHidesWhenStopped(true);
        _saving->setUserInteractionEnabled(false);
        addSubview(_saving);
        layoutSubviews();
    }
    _saving->startAnimating();
}

void LastPictureButtonViewController::layoutSubviews() {
    Button::layoutSubviews();
    if (!_saving) return;
    _saving->sizeToFit();
    platform::Rect frame = _saving->frame();
    frame.origin = {std::floor(bounds().midX() - frame.width() / 2),
                    std::floor(bounds().midY() - frame.height() / 2)};
    _saving->setFrame(frame);
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
