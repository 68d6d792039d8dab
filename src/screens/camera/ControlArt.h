#pragma once

#include "platform/core/Geometry.h"
#include "platform/gfx/Canvas.h"
#include "platform/gfx/Image.h"

namespace quorbit::camera_screen {

// The artwork of the camera screen's controls: flat light glyphs on a dark bar, drawn as
// paths so that they are sharp at every scale. Everything is drawn in points into a
// rectangle of the canvas; the canvas's own scale gives the pixels.
namespace ControlArt {

enum class Glyph {
    Shutter,       // the large round shutter button (fills its rectangle)
    Filters,       // three overlapping lenses: opens the filter picker
    SwitchCamera,  // a camera with turning arrows: front / back
    Settings,      // a gear
    TimerOff,      // a stopwatch struck through
    Timer3,        // a stopwatch and "3"
    Timer10,       // a stopwatch and "10"
    FlashOff,      // a lightning bolt struck through
    FlashOn,       // a lightning bolt, lit
    Photo,         // a picture frame: the empty last-photo thumbnail
    Record,        // the shutter in video mode: a ring around a red disc
    Stop,          // the shutter while recording: a ring around a red square
};
inline constexpr Glyph kAllGlyphs[] = {
    Glyph::Shutter,  Glyph::Filters, Glyph::SwitchCamera, Glyph::Settings,
    Glyph::TimerOff, Glyph::Timer3,  Glyph::Timer10,      Glyph::FlashOff,
    Glyph::FlashOn,  Glyph::Photo,   Glyph::Record,       Glyph::Stop,
};

enum class ControlState { Normal, Pressed, Disabled };

// The colours the art uses.
inline constexpr platform::Color kBarTop{0.13, 0.13, 0.15, 1};
inline constexpr platform::Color kBarBottom{0.05, 0.05, 0.06, 1};
inline constexpr platform::Color kGlyph{0.96, 0.96, 0.97, 1};
inline constexpr platform::Color kAccent{1.0, 0.80, 0.16, 1};  // a timer or the flash that is on

// The control bar's background filling rect: a dark gradient under a faint top edge.
void drawBar(platform::Canvas& canvas, platform::Rect rect);

// glyph centred in rect, as large as fits its square (a 24-point glyph wants a 24-point
// square; the shutter fills the square it is given).
void drawGlyph(platform::Canvas& canvas, Glyph glyph, platform::Rect rect,
               ControlState state = ControlState::Normal);

// The last-photo thumbnail in rect: photo (null or empty: none yet) cropped to fill a rounded
// square under a light edge, or the Photo glyph on a dark square.
// The mark of a clip: a white triangle on a dark disc of radius about centre.
void drawPlayMark(platform::Canvas& canvas, platform::Point centre, double radius);

// A clip's thumbnail (clip true) carries a play mark in its middle.
void drawThumbnail(platform::Canvas& canvas, platform::Rect rect, const platform::Image* photo,
                   ControlState state = ControlState::Normal, bool clip = false);

// glyph drawn into a transparent picture of size points at scale pixels per point, for views
// that show pictures.
platform::Image renderGlyph(Glyph glyph, platform::Size size, double scale,
                            ControlState state = ControlState::Normal);

}  // namespace ControlArt
}  // namespace quorbit::camera_screen
