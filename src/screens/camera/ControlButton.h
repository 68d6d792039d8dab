#pragma once

#include "platform/ui/Button.h"
#include "screens/camera/ControlArt.h"

namespace quorbit::camera_screen {

// A button showing one of the control glyphs, drawn at the screen's own scale and dimmed while
// it is pressed or disabled. The glyph takes glyphSize points in the middle of the button (the
// whole of its shorter side when 0), so the touch area can be larger than the picture.
class ControlButton : public platform::Button {
  public:
    explicit ControlButton(ControlArt::Glyph glyph, platform::Rect frame = {},
                           double glyphSize = 0);

    ControlArt::Glyph glyph() const { return _glyph; }
    void setGlyph(ControlArt::Glyph glyph);
    double glyphSize() const { return _glyphSize; }
    void setGlyphSize(double points);
    // The glyph's square in the bounds.
    platform::Rect glyphRect() const;

    void draw(platform::Canvas& canvas) override;

  private:
    ControlArt::Glyph _glyph;
    double _glyphSize;
};

}  // namespace quorbit::camera_screen
