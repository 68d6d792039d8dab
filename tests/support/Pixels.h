#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

// Comparing pixels of RGB(A) pictures read back from GL or decoded from files.
namespace quorbit::testing {

struct Rgb {
    int r = 0, g = 0, b = 0;
};

// The largest difference of the red, green and blue channels of two pixels.
inline int colourDistance(const std::uint8_t* a, Rgb b) {
    return std::max({std::abs(a[0] - b.r), std::abs(a[1] - b.g), std::abs(a[2] - b.b)});
}
inline int colourDistance(const std::uint8_t* a, const std::uint8_t* b) {
    return colourDistance(a, Rgb{b[0], b[1], b[2]});
}
// Whether a pixel is `want` give or take `slack` in every channel.
inline bool near(const std::uint8_t* p, Rgb want, int slack = 2) {
    return colourDistance(p, want) <= slack;
}
// Whether a pixel is a grey (its channels within `slack` of one another).
inline bool isGrey(const std::uint8_t* p, int slack = 1) {
    return std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) <= slack;
}

}  // namespace quorbit::testing
