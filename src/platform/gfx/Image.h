#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorbit::platform {

// A bitmap of RGBA pixels, 8 bits a channel, rows top first and tightly packed, alpha not
// premultiplied.
class Image {
  public:
    Image() = default;
    Image(int width, int height)
        : _width(width), _height(height), _pixels(std::size_t(width) * std::size_t(height) * 4) {}
    Image(int width, int height, std::vector<std::uint8_t> rgba)
        : _width(width), _height(height), _pixels(std::move(rgba)) {}

    int width() const { return _width; }
    int height() const { return _height; }
    bool empty() const { return _width <= 0 || _height <= 0; }
    std::uint8_t* data() { return _pixels.data(); }
    const std::uint8_t* data() const { return _pixels.data(); }
    std::vector<std::uint8_t>& pixels() { return _pixels; }
    const std::vector<std::uint8_t>& pixels() const { return _pixels; }
    std::uint8_t* pixel(int x, int y) {
        return _pixels.data() + (std::size_t(y) * std::size_t(_width) + std::size_t(x)) * 4;
    }
    const std::uint8_t* pixel(int x, int y) const {
        return _pixels.data() + (std::size_t(y) * std::size_t(_width) + std::size_t(x)) * 4;
    }

    // A copy scaled (bilinear) to cover width x height and cropped about its centre.
    Image scaledToCover(int width, int height) const;
    // A copy whose longer side is at most maxSide, the aspect ratio kept (each pixel the mean
    // of the pixels it covers); a picture already small enough is copied as it is.
    Image scaledToFit(int maxSide) const;
    // The picture turned and mirrored the way an Exif orientation (1 to 8) says it is to be
    // seen; 1, or a value out of range, copies it as it is.
    Image orientedForExif(int orientation) const;

  private:
    int _width = 0, _height = 0;
    std::vector<std::uint8_t> _pixels;
};

}  // namespace quorbit::platform
