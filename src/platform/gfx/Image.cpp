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

}  // namespace quorbit::platform
