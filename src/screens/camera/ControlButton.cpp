#include "screens/camera/ControlButton.h"

#include <algorithm>

namespace quorbit::camera_screen {

ControlButton::ControlButton(ControlArt::Glyph glyph, platform::Rect frame, double glyphSize)
    : Button(frame, Type::Custom), _glyph(glyph), _glyphSize(std::max(0.0, glyphSize)) {
    setOpaque(false);
}

void ControlButton::setGlyph(ControlArt::Glyph glyph) {
    if (glyph == _glyph) return;
    _glyph = glyph;
    setNeedsDisplay();
}

void ControlButton::setGlyphSize(double points) {
    _glyphSize = std::max(0.0, points);
    setNeedsDisplay();
}

platform::Rect ControlButton::glyphRect() const {
    platform::Rect b = bounds();
    double side = std::min(b.width(), b.height());
    if (_glyphSize > 0) side = std::min(side, _glyphSize);
    return {b.midX() - side / 2, b.midY() - side / 2, side, side};
}

void ControlButton::draw(platform::Canvas& canvas) {
    Button::draw(canvas);  // a title or pictures, when given any
    auto state = !isEnabled()      ? ControlArt::ControlState::Disabled
                 : isHighlighted() ? ControlArt::ControlState::Pressed
                                   : ControlArt::ControlState::Normal;
    ControlArt::drawGlyph(canvas, _glyph, glyphRect(), state);
}

}  // namespace quorbit::camera_screen
