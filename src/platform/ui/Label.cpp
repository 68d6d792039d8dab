#include "platform/ui/Label.h"

#include <algorithm>
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

void Label::setMinimumScaleFactor(double factor) {
    _minimumScaleFactor = std::clamp(factor, 0.1, 1.0);
    setNeedsDisplay();
}

Label::Fit Label::fitted() {
    if (_numberOfLines != 1 || _minimumScaleFactor >= 1 || _text.empty())
        return {_font, _numberOfLines};
    double width = measuringCanvas().measureText(_text, _font).width;
    double room = bounds().width();
    if (width <= room || width <= 0) return {_font, 1};
    Font font = _font;
    const double smallest = _font.size * _minimumScaleFactor;
    // Half-point steps: text a hair too wide for one size fits the next.
    font.size = std::floor(2 * _font.size * room / width) / 2;
    if (font.size >= smallest) return {font, 1};
    // Two lines, as large as the height lets them be with some room around them (a line
    // takes about 1.2 of the size), and smaller while they need more room than that.
    constexpr double kTwoLines = 2.8;
    if (bounds().height() >= kTwoLines * smallest) {
        font.size =
            std::clamp(std::floor(2 * bounds().height() / kTwoLines) / 2, smallest, _font.size);
        while (font.size > smallest &&
               measuringCanvas().measureText(_text, font, room).height > bounds().height())
            font.size = std::max(smallest, font.size - 0.5);
        return {font, 2};
    }
    font.size = smallest;
    return {font, 1};
}

void Label::setShadow(std::optional<Color> color, Size offset) {
    _shadowColor = color;
    _shadowOffset = offset;
    setNeedsDisplay();
}

Size Label::sizeThatFits() {
    return textSize(_text, _font);
}

Size Label::textSize(const std::string& text, const Font& font) {
    Size size = measuringCanvas().measureText(text, font);
    return {std::ceil(size.width), std::ceil(size.height)};
}

void Label::sizeToFit() {
    Size size = sizeThatFits();
    setFrame(Rect(frame().origin, size));
}

void Label::draw(Canvas& canvas) {
    Color color = _highlighted ? _highlightedTextColor : _textColor;
    Rect rect = bounds();
    auto [font, lines] = fitted();
    if (_shadowColor) {
        canvas.drawText(_text, rect.offsetBy(_shadowOffset.width, _shadowOffset.height), font,
                        *_shadowColor, _textAlignment, lines);
    }
    canvas.drawText(_text, rect, font, color, _textAlignment, lines);
}

}  // namespace quorbit::platform
