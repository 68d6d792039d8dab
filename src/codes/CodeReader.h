#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorbit::codes {

// A grey picture, one byte a pixel, rows tightly packed.
struct GreyImage {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;
};

// The longest side a picture is read at.
inline constexpr int kMaxReadSide = 1280;

// A camera frame (BGRA rows, tightly packed, of the given rotation: the clockwise turn that
// shows it upright) as a grey picture turned upright and scaled down, by averaging, so that
// its longer side is at most maxSide.
GreyImage greyUpright(const std::uint8_t* bgra, int width, int height, int rotation,
                      int maxSide = kMaxReadSide);

// A code found in a picture: its bytes as stored in the code and its format's name.
struct FoundCode {
    std::string bytes;
    std::string format;
    bool operator==(const FoundCode&) const = default;
};

// Looks for one code of the formats read (QR, Micro QR, Data Matrix, Aztec, EAN-8, EAN-13,
// UPC-A, UPC-E, Code 128, Code 39) in image, at any of the four quarter turns.
std::optional<FoundCode> readCode(const GreyImage& image);

}  // namespace quorbit::codes
