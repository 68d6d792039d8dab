#include "capture/SyntheticScene.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace quorbit::capture {
namespace {

// Hue in [0, 1) at full saturation and the given value, as B, G, R.
void hueToBgr(double hue, double value, std::uint8_t* out) {
    double h = (hue - std::floor(hue)) * 6;
    int sector = int(h) % 6;
    double f = h - std::floor(h);
    double rgb[6][3] = {{1, f, 0},     {1 - f, 1, 0}, {0, 1, f},
                        {0, 1 - f, 1}, {f, 0, 1},     {1, 0, 1 - f}};
    out[2] = std::uint8_t(std::lround(rgb[sector][0] * value * 255));
    out[1] = std::uint8_t(std::lround(rgb[sector][1] * value * 255));
    out[0] = std::uint8_t(std::lround(rgb[sector][2] * value * 255));
}

std::vector<int> halfWidths(int radius) {
    std::vector<int> rows(std::size_t(2 * radius + 1));
    for (int dy = -radius; dy <= radius; ++dy)
        rows[std::size_t(dy + radius)] = int(std::sqrt(double(radius * radius - dy * dy)));
    return rows;
}

// Frames for one trip of the disc around the frame and one scroll of the background.
constexpr double kDiscPeriodX = 96, kDiscPeriodY = 68;
constexpr int kScrollPerFrame = 4;

}  // namespace

SyntheticScene::SyntheticScene(Style style, int width, int height)
    : _style(style), _width(width), _height(height) {
    _radius = std::max(4, height * 5 / 24);  // 100 pixels at 480 rows
    _rim = std::max(2, _radius / 20);
    _outerHalf = halfWidths(_radius);
    _innerHalf = halfWidths(_radius - _rim);

    const std::uint8_t front[4] = {170, 205, 250, 255}, back[4] = {210, 250, 255, 255};
    const std::uint8_t rim[4] = {30, 30, 40, 255};
    std::memcpy(_discColour, style == Style::Front ? front : back, 4);
    std::memcpy(_rimColour, rim, 4);

    _background.resize(std::size_t(width) * std::size_t(height) * 4);
    int band = std::max(1, height / 8), stripe = std::max(1, width / 40);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p =
                &_background[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4];
            p[3] = 255;
            if (style == Style::Front) {
                // Rainbow across, darker downwards; a band of black and white stripes below.
                if (y >= height - band) {
                    std::memset(p, (x / stripe) % 2 ? 255 : 0, 3);
                } else {
                    hueToBgr(double(x) / width, 1.0 - 0.6 * y / height, p);
                }
            } else {
                // Checkerboard of coloured squares whose hue turns along the diagonal; a
                // band of grey steps at the top.
                int cell = std::max(1, height / 12);
                if (y < band) {
                    std::memset(p, (x * 8 / width) * 255 / 7, 3);
                } else {
                    bool dark = ((x / cell) + (y / cell)) % 2;
                    hueToBgr(double(x + y) / (width + height), dark ? 0.35 : 0.95, p);
                }
            }
        }
    }
}

void SyntheticScene::discCentre(std::uint64_t frameIndex, int& x, int& y) const {
    double t = double(frameIndex % 16320);  // a common multiple of both periods
    double sx = std::sin(2 * std::numbers::pi * t / kDiscPeriodX);
    double sy = std::sin(2 * std::numbers::pi * t / kDiscPeriodY);
    if (_style == Style::Back) sx = -sx;
    int margin = std::max(1, _height / 60);  // 8 pixels at 480 rows
    x = _width / 2 + int(sx * std::max(0, _width / 2 - _radius - margin));
    y = _height / 2 + int(sy * std::max(0, _height / 2 - _radius - margin));
}

void SyntheticScene::render(std::uint64_t frameIndex, std::uint8_t* out) const {
    std::size_t rowBytes = std::size_t(_width) * 4;
    // kScrollPerFrame pixels a frame at 640 columns, as much of the width at any other size.
    std::uint64_t shift = frameIndex * kScrollPerFrame % 640 * std::uint64_t(_width) / 640;
    // The front scene moves right, the back one left.
    std::size_t offset = _style == Style::Front ? std::size_t(_width) - shift : shift;
    offset %= std::size_t(_width);
    std::size_t head = (std::size_t(_width) - offset) * 4, tail = offset * 4;
    for (int y = 0; y < _height; ++y) {
        const std::uint8_t* source = _background.data() + rowBytes * std::size_t(y);
        std::uint8_t* row = out + rowBytes * std::size_t(y);
        std::memcpy(row, source + tail, head);
        std::memcpy(row + head, source, tail);
    }
    int cx, cy;
    discCentre(frameIndex, cx, cy);
    fillSpans(_outerHalf, cx, cy, _rimColour, out);
    fillSpans(_innerHalf, cx, cy, _discColour, out);
}

void SyntheticScene::fillSpans(const std::vector<int>& halfWidths, int cx, int cy,
                               const std::uint8_t* bgra, std::uint8_t* out) const {
    std::uint32_t pixel;
    std::memcpy(&pixel, bgra, 4);
    int radius = int(halfWidths.size() / 2);
    for (int dy = -radius; dy <= radius; ++dy) {
        int y = cy + dy;
        if (y < 0 || y >= _height) continue;
        int half = halfWidths[std::size_t(dy + radius)];
        int x0 = std::max(0, cx - half), x1 = std::min(_width - 1, cx + half);
        std::uint8_t* p =
            out + (std::size_t(y) * std::size_t(_width) + std::size_t(std::max(x0, 0))) * 4;
        for (int x = x0; x <= x1; ++x, p += 4)
            std::memcpy(p, &pixel, 4);
    }
}

}  // namespace quorbit::capture
