#pragma once

#include <cstdint>
#include <vector>

namespace quorbit::capture {

// A moving test picture that makes every filter show its effect: a colourful background
// with hard black-and-white edges that scrolls sideways, and a face-sized bright disc with a
// dark rim that travels around the frame. The front and back cameras get different scenes.
// Everything but the scroll offset and the disc position is computed once, so a frame costs
// little more than copying it. The scene scales with its size: the same frame at another size
// shows the same picture.
class SyntheticScene {
  public:
    enum class Style { Front, Back };

    SyntheticScene(Style style, int width = 640, int height = 480);

    Style style() const { return _style; }
    int width() const { return _width; }
    int height() const { return _height; }
    int discRadius() const { return _radius; }
    // Centre of the disc in the given frame.
    void discCentre(std::uint64_t frameIndex, int& x, int& y) const;
    // Writes frame frameIndex (tightly packed BGRA) into out.
    void render(std::uint64_t frameIndex, std::uint8_t* out) const;

  private:
    void fillSpans(const std::vector<int>& halfWidths, int cx, int cy, const std::uint8_t* bgra,
                   std::uint8_t* out) const;

    Style _style;
    int _width, _height, _radius, _rim;
    std::vector<std::uint8_t> _background;    // one period of the scrolling background, BGRA
    std::vector<int> _outerHalf, _innerHalf;  // disc half-width per row from its top
    std::uint8_t _discColour[4], _rimColour[4];
};

}  // namespace quorbit::capture
