#pragma once

#include <ZXing/BitMatrix.h>
#include <ZXing/CharacterSet.h>
#include <ZXing/MultiFormatWriter.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Pictures of codes made with the decoding library's own writer, as camera frames.
namespace quorbit::testing {

struct CodeFrame {
    int width = 0, height = 0;
    std::vector<std::uint8_t> bgra;  // tightly packed rows
};

// A white width x height frame with a code of format holding bytes (each byte stored as it
// is) drawn codeWidth x codeHeight at (x, y), upright.
inline CodeFrame codeFrame(ZXing::BarcodeFormat format, std::string_view bytes, int width,
                           int height, int x, int y, int codeWidth, int codeHeight) {
    std::wstring text;
    for (char c : bytes)
        text += wchar_t(std::uint8_t(c));
    ZXing::BitMatrix matrix = ZXing::MultiFormatWriter(format)
                                  .setEncoding(ZXing::CharacterSet::ISO8859_1)
                                  .setMargin(0)
                                  .encode(text, codeWidth, codeHeight);
    CodeFrame frame{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 4, 255)};
    for (int row = 0; row < codeHeight; ++row)
        for (int col = 0; col < codeWidth; ++col) {
            // The matrix may be smaller than asked (whole modules); it is scaled to fit.
            int mx = col * matrix.width() / codeWidth, my = row * matrix.height() / codeHeight;
            if (!matrix.get(mx, my)) continue;
            std::uint8_t* p =
                &frame.bgra[(std::size_t(y + row) * width + std::size_t(x + col)) * 4];
            p[0] = p[1] = p[2] = 0;
        }
    return frame;
}

// The frame a sensor mounted at rotation (clockwise degrees that turn its frames upright)
// delivers of the upright picture.
inline CodeFrame sensorFrame(const CodeFrame& upright, int rotation) {
    if (rotation == 0) return upright;
    CodeFrame sensor{upright.height, upright.width, upright.bgra};
    for (int sy = 0; sy < sensor.height; ++sy)
        for (int sx = 0; sx < sensor.width; ++sx) {
            // Turned clockwise, the sensor's (sx, sy) lands at (height - 1 - sy, sx).
            int ux = rotation == 90 ? sensor.height - 1 - sy : sy;
            int uy = rotation == 90 ? sx : sensor.width - 1 - sx;
            std::copy_n(&upright.bgra[(std::size_t(uy) * upright.width + ux) * 4], 4,
                        &sensor.bgra[(std::size_t(sy) * sensor.width + sx) * 4]);
        }
    return sensor;
}

}  // namespace quorbit::testing
