#include "platform/gfx/Image.h"

#include <algorithm>
#include <cmath>

namespace quorbit::platform {

Image Image::scaledToCover(int width, int height) const {
    Image out(width, height);
    if (empty() || width <= 0 || height <= 0) return out;
    double scale = std::max(double(width) / _width, double(height) / _height);
    // Source position of destination pixel centre (x + 0.5) is offset + (x + 0.5) / scale.
    double offsetX = (_width - width / scale) / 2, offsetY = (_height - height / scale) / 2;
    for (int y = 0; y < height; ++y) {
        double sy = offsetY + (y + 0.5) / scale - 0.5;
        int y0 = std::clamp(int(std::floor(sy)), 0, _height - 1);
        int y1 = std::min(y0 + 1, _height - 1);
        double fy = std::clamp(sy - std::floor(sy), 0.0, 1.0);
        if (sy < 0) fy = 0;
        for (int x = 0; x < width; ++x) {
            double sx = offsetX + (x + 0.5) / scale - 0.5;
            int x0 = std::clamp(int(std::floor(sx)), 0, _width - 1);
            int x1 = std::min(x0 + 1, _width - 1);
            double fx = std::clamp(sx - std::floor(sx), 0.0, 1.0);
            if (sx < 0) fx = 0;
            const auto* p00 = pixel(x0, y0);
            const auto* p10 = pixel(x1, y0);
            const auto* p01 = pixel(x0, y1);
            const auto* p11 = pixel(x1, y1);
            auto* d = out.pixel(x, y);
            for (int c = 0; c < 4; ++c) {
                double top = p00[c] + (p10[c] - p00[c]) * fx;
                double bottom = p01[c] + (p11[c] - p01[c]) * fx;
                d[c] = static_cast<std::uint8_t>(std::lround(top + (bottom - top) * fy));
            }
        }
    }
    return out;
}

Image Image::scaledToFit(int maxSide) const {
    if (empty() || maxSide <= 0 || std::max(_width, _height) <= maxSide) return *this;
    double scale = double(maxSide) / std::max(_width, _height);
    int width = std::max(1, int(std::lround(_width * scale)));
    int height = std::max(1, int(std::lround(_height * scale)));
    Image out(width, height);
    for (int y = 0; y < height; ++y) {
        int y0 = int(std::size_t(y) * std::size_t(_height) / std::size_t(height));
        int y1 =
            std::max(y0 + 1, int(std::size_t(y + 1) * std::size_t(_height) / std::size_t(height)));
        for (int x = 0; x < width; ++x) {
            int x0 = int(std::size_t(x) * std::size_t(_width) / std::size_t(width));
            int x1 = std::max(x0 + 1,
                              int(std::size_t(x + 1) * std::size_t(_width) / std::size_t(width)));
            unsigned long sum[4] = {0, 0, 0, 0};
            for (int sy = y0; sy < y1; ++sy)
                for (int sx = x0; sx < x1; ++sx)
                    for (int c = 0; c < 4; ++c)
                        sum[c] += pixel(sx, sy)[c];
            unsigned long count = static_cast<unsigned long>((y1 - y0) * (x1 - x0));
            auto* d = out.pixel(x, y);
            for (int c = 0; c < 4; ++c)
                d[c] = static_cast<std::uint8_t>((sum[c] + count / 2) / count);
        }
    }
    return out;
}

Image Image::orientedForExif(int orientation) const {
    if (empty() || orientation < 2 || orientation > 8) return *this;
    // 5 to 8 swap the sides; for each output pixel, the stored pixel it shows.
    bool swapped = orientation >= 5;
    int width = swapped ? _height : _width, height = swapped ? _width : _height;
    Image out(width, height);
    for (int oy = 0; oy < height; ++oy)
        for (int ox = 0; ox < width; ++ox) {
            int ix = ox, iy = oy;
            switch (orientation) {
                case 2:
                    ix = _width - 1 - ox;
                    break;  // mirrored left to right
                case 3:
                    ix = _width - 1 - ox, iy = _height - 1 - oy;
                    break;  // half a turn
                case 4:
                    iy = _height - 1 - oy;
                    break;  // mirrored top to bottom
                case 5:
                    ix = oy, iy = ox;
                    break;  // about the main diagonal
                case 6:
                    ix = oy, iy = _height - 1 - ox;
                    break;  // a quarter turn clockwise
                case 7:
                    ix = _width - 1 - oy, iy = _height - 1 - ox;
                    break;  // other diagonal
                case 8:
                    ix = _width - 1 - oy, iy = ox;
                    break;  // a quarter turn counter-clockwise
            }
            const std::uint8_t* from = pixel(ix, iy);
            std::uint8_t* to = out.pixel(ox, oy);
            to[0] = from[0], to[1] = from[1], to[2] = from[2], to[3] = from[3];
        }
    return out;
}

}  // namespace quorbit::platform
