#pragma once

#include <string>

#include "platform/gfx/Canvas.h"
#include "platform/ui/View.h"

namespace quorbit::platform {

// A line (or a few lines) of text.
class Label : public View {
  public:
    explicit Label(Rect frame = {});

    const std::string& text() const { return _text; }
    void setText(std::string text);
    const Font& font() const { return _font; }
    void setFont(Font font);
    Color textColor() const { return _textColor; }
    void setTextColor(Color color);
    // Colour used while the enclosing cell or button is highlighted.
    Color highlightedTextColor() const { return _highlightedTextColor; }
    void setHighlightedTextColor(Color color);
    bool isHighlighted() const { return _highlighted; }
    void setHighlighted(bool highlighted);
    TextAlignment textAlignment() const { return _textAlignment; }
    void setTextAlignment(TextAlignment alignment);
    // 1 draws one line ending in an ellipsis; 0 or more than 1 wraps words (0: no limit).
    int numberOfLines() const { return _numberOfLines; }
    void setNumberOfLines(int lines);
    // On one line, text wider than the label is drawn in a smaller font, down to this share
    // of the font's size; text too wide even then takes two lines where the label is tall
    // enough for them, and is cut with an ellipsis only after that. 1 (the default) never
    // shrinks.
    double minimumScaleFactor() const { return _minimumScaleFactor; }
    void setMinimumScaleFactor(double factor);
    // The font and the lines the text is drawn in at the label's present size.
    struct Fit {
        Font font;
        int lines;
    };
    Fit fitted();
    // A drop shadow under the text, offset in points; none when the colour is empty.
    void setShadow(std::optional<Color> color, Size offset);

    // The size the text needs on one line.
    Size sizeThatFits();
    static Size textSize(const std::string& text, const Font& font);
    void sizeToFit();

    bool draws() const override { return true; }
    void draw(Canvas& canvas) override;

  private:
    std::string _text;
    Font _font = Font::system(17);
    Color _textColor = Color::black();
    Color _highlightedTextColor = Color::white();
    bool _highlighted = false;
    TextAlignment _textAlignment = TextAlignment::Left;
    int _numberOfLines = 1;
    double _minimumScaleFactor = 1;
    std::optional<Color> _shadowColor;
    Size _shadowOffset{0, -1};
};

}  // namespace quorbit::platform
