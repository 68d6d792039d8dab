#include "codes/CodeReader.h"

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <algorithm>

namespace quorbit::codes {

GreyImage greyUpright(const std::uint8_t* bgra, int width, int height, int rotation, int maxSide) {
    GreyImage image;
    if (!bgra || width <= 0 || height <= 0) return image;
    // Scaled first, at the sensor's orientation: each output pixel averages the box of
    // source pixels it covers.
    int longSide = std::max(width, height);
    int outWidth = width, outHeight = height;
    if (longSide > maxSide) {
        outWidth = std::max(1, int(std::int64_t(width) * maxSide / longSide));
        outHeight = std::max(1, int(std::int64_t(height) * maxSide / longSide));
    }
    auto scaled = std::vector<std::uint8_t>(std::size_t(outWidth) * std::size_t(outHeight));
    auto rowSum = std::vector<std::uint32_t>(std::size_t(outWidth));
    auto counts = std::vector<std::uint32_t>(std::size_t(outWidth));
    for (int oy = 0; oy < outHeight; ++oy) {
        int y0 = int(std::int64_t(oy) * height / outHeight);
        int y1 = std::max(y0 + 1, int(std::int64_t(oy + 1) * height / outHeight));
        std::fill(rowSum.begin(), rowSum.end(), 0);
        std::fill(counts.begin(), counts.end(), 0);
        for (int y = y0; y < y1; ++y) {
            const std::uint8_t* row = bgra + std::size_t(y) * std::size_t(width) * 4;
            int ox = 0;
            int nextEdge = int(std::int64_t(1) * width / outWidth);
            for (int x = 0; x < width; ++x) {
                while (ox + 1 < outWidth && x >= nextEdge) {
                    ++ox;
                    nextEdge = int(std::int64_t(ox + 1) * width / outWidth);
                }
                const std::uint8_t* p = row + std::size_t(x) * 4;
                // Rec. 601 luma, in 1/1024ths.
                rowSum[std::size_t(ox)] += (117u * p[0] + 601u * p[1] + 306u * p[2]) >> 10;
                ++counts[std::size_t(ox)];
            }
        }
        for (int ox = 0; ox < outWidth; ++ox)
            scaled[std::size_t(oy) * std::size_t(outWidth) + std::size_t(ox)] =
                std::uint8_t(rowSum[std::size_t(ox)] / std::max(1u, counts[std::size_t(ox)]));
    }
    // Then turned upright: a clockwise quarter turn puts the sensor's bottom-left corner at
    // the top left.
    rotation = ((rotation % 360) + 360) % 360;
    bool sideways = rotation == 90 || rotation == 270;
    image.width = sideways ? outHeight : outWidth;
    image.height = sideways ? outWidth : outHeight;
    image.pixels.resize(scaled.size());
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            int sx = x, sy = y;
            if (rotation == 90) {
                sx = y, sy = outHeight - 1 - x;
            } else if (rotation == 180) {
                sx = outWidth - 1 - x, sy = outHeight - 1 - y;
            } else if (rotation == 270) {
                sx = outWidth - 1 - y, sy = x;
            }
            image.pixels[std::size_t(y) * std::size_t(image.width) + std::size_t(x)] =
                scaled[std::size_t(sy) * std::size_t(outWidth) + std::size_t(sx)];
        }
    return image;
}

std::optional<FoundCode> readCode(const GreyImage& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() < std::size_t(image.width) * std::size_t(image.height))
        return std::nullopt;
    using ZXing::BarcodeFormat;
    ZXing::DecodeHints hints;
    hints.setFormats(BarcodeFormat::QRCode | BarcodeFormat::MicroQRCode |
                     BarcodeFormat::DataMatrix | BarcodeFormat::Aztec | BarcodeFormat::EAN8 |
                     BarcodeFormat::EAN13 | BarcodeFormat::UPCA | BarcodeFormat::UPCE |
                     BarcodeFormat::Code128 | BarcodeFormat::Code39);
    // One plain search: trying harder and at every quarter turn cost four times as long on a
    // frame with no code (the usual frame); the scanner turns every second attempt instead.
    hints.setTryHarder(false);
    hints.setTryRotate(false);
    ZXing::ImageView view(image.pixels.data(), image.width, image.height, ZXing::ImageFormat::Lum);
    ZXing::Result result = ZXing::ReadBarcode(view, hints);
    if (!result.isValid()) return std::nullopt;
    const ZXing::ByteArray& bytes = result.bytes();
    return FoundCode{std::string(bytes.begin(), bytes.end()), ZXing::ToString(result.format())};
}

}  // namespace quorbit::codes
