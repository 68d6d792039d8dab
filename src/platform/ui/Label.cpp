#include "platform/ui/Label.h"

#include <cmath>

namespace quorbit::platform {

namespace {

// Text measuring needs a Cairo context but no pixels of its own.
Canvas& measuringCanvas() {
    static Canvas canvas(1, 1);
    return canvas;
}

}  // namespace

Label::Label(Rect frame) : View(frame) {
    setOpaque(false);
    setUserInteractionEnabled(false);
}

void Label::setText(std::string text) {
    if (text == _text) return;
    _text = std::move(text);
    setNeedsDisplay();
}

void Label::setFont(Font font) {
    _font = std::move(font);
    setNeedsDisplay();
}

void Label::setTextColor(Color color) {
    _textColor = color;
    setNeedsDisplay();
}

void Label::setHighlightedTextColor(Color color) {
    _highlightedTextColor = color;
    if (_highlighted) setNeedsDisplay();
}

void Label::setHighlighted(bool highlighted) {
    if (highlighted == _highlighted) return;
    _highlighted = highlighted;
    setNeedsDisplay();
}

void Label::setTextAlignment(TextAlignment alignment) {
    _textAlignment = alignment;
    setNeedsDisplay();
}

void Label::setNumberOfLines(int lines) {
    _numberOfLines = std::max(lines, 0);
    setNeedsDisplay();
}

void Label::setShadow(std::optional<Color> color, Size offset) {
    _shadowColor = color;
    _shadowOffset = offset;
    setNeedsDisplay();
}

Size Label::sizeThatFits() {
    Size size = measuringCanvas().measureText(_text, _font);
    return {std::ceil(size.width), std::ceil(size.height)};
}

void Label::sizeToFit() {
    Size size = sizeThatFits();
    setFrame(Rect(frame().origin, size));
}

void Label::draw(Canvas& canvas) {
    Color color = _highlighted ? _highlightedTextColor : _textColor;
    Rect rect = bounds();
    if (_shadowColor) {
        canvas.drawText(_text, rect.offsetBy(_shadowOffset.width, _shadowOffset.height), _font,
                        *_shadowColor, _textAlignment, _numberOfLines);
    }
    canvas.drawText(_text, rect, _font, color, _textAlignment, _numberOfLines);
}

}  // namespace quorbit::platform
