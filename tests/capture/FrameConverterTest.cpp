#include "capture/FrameConverter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace quorbit::capture {
namespace {

using Format = FrameConverter::Format;

// BT.601 limited range in floating point, B, G, R.
std::array<int, 3> referenceBgr(int y, int u, int v) {
    double c = 1.164383 * (y - 16), d = u - 128.0, e = v - 128.0;
    auto clamp = [](double x) { return int(std::clamp(std::lround(x), 0L, 255L)); };
    return {clamp(c + 2.017232 * d), clamp(c - 0.391762 * d - 0.812968 * e),
            clamp(c + 1.596027 * e)};
}

TEST(FrameConverter, DecodesYuyvAsBt601LimitedRange) {
    // Anchors: black, white, mid grey, and a saturated red that clips.
    struct Anchor {
        std::uint8_t y, u, v;
        int b, g, r;
    } anchors[] = {{16, 128, 128, 0, 0, 0},
                   {235, 128, 128, 255, 255, 255},
                   {126, 128, 128, 128, 128, 128},
                   {82, 90, 240, 0, 0, 255}};
    for (const auto& a : anchors) {
        std::uint8_t yuyv[4] = {a.y, a.u, a.y, a.v}, out[8];
        FrameConverter converter(Format::YUYV, 2, 1, 0, 2, 1);
        ASSERT_TRUE(converter.convert(yuyv, 4, out));
        for (int i : {0, 4}) {
            EXPECT_NEAR(out[i + 0], a.b, 1);
            EXPECT_NEAR(out[i + 1], a.g, 1);
            EXPECT_NEAR(out[i + 2], a.r, 1);
            EXPECT_EQ(out[i + 3], 255);
        }
    }

    // Every pixel of a random frame against the reference; a pair shares its U and V.
    std::mt19937 random(7);
    std::vector<std::uint8_t> yuyv(640 * 480 * 2), out(640 * 480 * 4);
    for (auto& byte : yuyv)
        byte = std::uint8_t(random());
    FrameConverter converter(Format::YUYV, 640, 480);
    ASSERT_TRUE(converter.convert(yuyv.data(), yuyv.size(), out.data()));
    int worst = 0;
    for (std::size_t pixel = 0; pixel < 640 * 480; ++pixel) {
        const std::uint8_t* pair = &yuyv[(pixel & ~std::size_t(1)) * 2];
        auto expected = referenceBgr(yuyv[pixel * 2], pair[1], pair[3]);
        for (int ch = 0; ch < 3; ++ch)
            worst = std::max(
                worst, std::abs(out[pixel * 4 + std::size_t(ch)] - expected[std::size_t(ch)]));
        ASSERT_EQ(out[pixel * 4 + 3], 255);
    }
    EXPECT_LE(worst, 1);
}

TEST(FrameConverter, PacksEachFormatIntoBgra) {
    const std::uint8_t source[4] = {10, 20, 30, 40};
    struct Case {
        Format format;
        std::array<int, 4> bgra;
    } cases[] = {
        {Format::BGR24, {10, 20, 30, 255}},
        {Format::RGB24, {30, 20, 10, 255}},
        {Format::BGRA32, {10, 20, 30, 40}},
        {Format::RGBA32, {30, 20, 10, 40}},
    };
    for (const auto& c : cases) {
        std::uint8_t out[4];
        ASSERT_TRUE(FrameConverter(c.format, 1, 1, 0, 1, 1).convert(source, 4, out));
        EXPECT_EQ((std::array<int, 4>{out[0], out[1], out[2], out[3]}), c.bgra) << int(c.format);
    }
}

TEST(FrameConverter, SkipsRowPaddingAndRefusesShortFrames) {
    std::mt19937 random(3);
    for (Format format : {Format::YUYV, Format::BGR24}) {
        SCOPED_TRACE(int(format));
        const std::size_t packed = 640 * std::size_t(FrameConverter::bytesPerPixel(format));
        const std::size_t stride = packed + 72;
        std::vector<std::uint8_t> tight(packed * 480), padded(stride * 480, 0xEE);
        for (auto& byte : tight)
            byte = std::uint8_t(random());
        for (std::size_t row = 0; row < 480; ++row)
            std::copy_n(&tight[row * packed], packed, &padded[row * stride]);

        std::vector<std::uint8_t> expected(640 * 480 * 4), out(640 * 480 * 4, 0x55);
        ASSERT_TRUE(
            FrameConverter(format, 640, 480).convert(tight.data(), tight.size(), expected.data()));
        FrameConverter converter(format, 640, 480, stride);
        // The last row's padding may be missing; any less is refused untouched.
        EXPECT_EQ(converter.requiredBytes(), stride * 479 + packed);
        EXPECT_FALSE(converter.convert(padded.data(), converter.requiredBytes() - 1, out.data()));
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::uint8_t b) { return b == 0x55; }));
        ASSERT_TRUE(converter.convert(padded.data(), converter.requiredBytes(), out.data()));
        EXPECT_EQ(out, expected);
    }
    // Layouts that cannot be read.
    EXPECT_FALSE(FrameConverter(Format::YUYV, 641, 480).valid());
    EXPECT_FALSE(FrameConverter(Format::BGR24, 640, 480, 640 * 3 - 1).valid());
    EXPECT_FALSE(FrameConverter(Format::BGR24, 0, 480).valid());
}

TEST(FrameConverter, ScalesOtherSizesToCoverTheFrame) {
    // Each source pixel holds its own position: B, G = x; R, A = y (low, high bytes).
    struct Case {
        int width, height;
        int x0, x1, y0, y1;  // source columns and rows that must reach the output's edges
    } cases[] = {
        {320, 240, 0, 319, 0, 239},      // doubled
        {1280, 720, 160, 1119, 0, 719},  // wider: cropped left and right
        {640, 960, 0, 639, 240, 719},    // taller: cropped top and bottom
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        std::vector<std::uint8_t> source(std::size_t(c.width) * std::size_t(c.height) * 4);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                std::uint8_t* p =
                    &source[(std::size_t(y) * std::size_t(c.width) + std::size_t(x)) * 4];
                p[0] = std::uint8_t(x), p[1] = std::uint8_t(x >> 8), p[2] = std::uint8_t(y),
                p[3] = std::uint8_t(y >> 8);
            }
        std::vector<std::uint8_t> out(640 * 480 * 4);
        ASSERT_TRUE(FrameConverter(Format::BGRA32, c.width, c.height)
                        .convert(source.data(), source.size(), out.data()));
        auto at = [&](int x, int y) {
            const std::uint8_t* p = &out[(std::size_t(y) * 640 + std::size_t(x)) * 4];
            return std::make_pair(p[0] | p[1] << 8, p[2] | p[3] << 8);
        };
        EXPECT_NEAR(at(0, 0).first, c.x0, 1);
        EXPECT_NEAR(at(639, 0).first, c.x1, 1);
        EXPECT_NEAR(at(0, 0).second, c.y0, 1);
        EXPECT_NEAR(at(0, 479).second, c.y1, 1);
        // Columns and rows advance evenly: the aspect ratio is kept.
        double scaleX = (at(639, 0).first - at(0, 0).first) / 639.0;
        double scaleY = (at(0, 479).second - at(0, 0).second) / 479.0;
        EXPECT_NEAR(scaleX, scaleY, 0.01);
    }
}

}  // namespace
}  // namespace quorbit::capture
