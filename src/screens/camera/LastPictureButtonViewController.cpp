#include "screens/camera/LastPictureButtonViewController.h"

#include <cmath>

#include "platform/ui/ControlNames.h"
#include "screens/camera/ControlArt.h"

namespace quorbit::camera_screen {

LastPictureButtonViewController::LastPictureButtonViewController(platform::Rect frame)
    : Button(frame, Type::Custom) {
    setOpaque(false);
    // Lifted on the thumbnail (with a button's slop), as any button's action.
    addAction([this](platform::Button&) {
        if (_delegate && !_longPressDone) _delegate->showSharingWindow();
    });
}

void LastPictureButtonViewController::setImage(std::shared_ptr<const platform::Image> image) {
    _image = std::move(image);
    _clip.clear();
    setNeedsDisplay();
}

void LastPictureButtonViewController::setClip(std::filesystem::path clip) {
    _clip = std::move(clip);
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

namespace {
// A finger that moves further than this (points) is no long press.
constexpr double kLongPressSlop = 10;
}  // namespace

void LastPictureButtonViewController::touchesBegan(const std::vector<platform::Touch>& touches) {
    _longPressDone = false;
    _longPressTimer = platform::RunLoop::main().timer(kLongPress, [this] { longPressed(); });
    Button::touchesBegan(touches);
}

void LastPictureButtonViewController::touchesMoved(const std::vector<platform::Touch>& touches) {
    for (const auto& touch : touches)
        if (std::hypot(touch.windowLocation.x - touch.initialWindowLocation.x,
                       touch.windowLocation.y - touch.initialWindowLocation.y) > kLongPressSlop)
            _longPressTimer.reset();
    Button::touchesMoved(touches);
}

void LastPictureButtonViewController::touchesEnded(const std::vector<platform::Touch>& touches) {
    _longPressTimer.reset();
    Button::touchesEnded(touches);
    _longPressDone = false;
}

void LastPictureButtonViewController::touchesCancelled(
    const std::vector<platform::Touch>& touches) {
    _longPressTimer.reset();
    _longPressDone = false;
    Button::touchesCancelled(touches);
}

void LastPictureButtonViewController::longPressed() {
    _longPressTimer.reset();
    _longPressDone = true;
    setHighlighted(false);
    if (_delegate) _delegate->showAlbum();
}

bool LastPictureButtonViewController::secondaryClick(platform::Point) {
    if (!isUserInteractionEnabled()) return false;
    if (_delegate) _delegate->showAlbum();
    return true;
}

void LastPictureButtonViewController::draw(platform::Canvas& canvas) {
    auto state =
        isHighlighted() ? ControlArt::ControlState::Pressed : ControlArt::ControlState::Normal;
    ControlArt::drawThumbnail(canvas, bounds(), _image.get(), state, !_clip.empty());
}

}  // namespace quorbit::camera_screen
