#include "capture/FrameConverter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>

#include "FakeDevices.h"

namespace quorbit::capture {
namespace {

using Format = FrameConverter::Format;
using testing::randomBytes;

// Every pixel of a converted frame against the floating-point BT.601 formula (limited
// range), given where each pixel's Y, U and V lie: within 1, opaque.
void expectBt601(const std::vector<std::uint8_t>& out, int width, int height,
                 const std::function<std::array<int, 3>(std::size_t x, std::size_t y)>& yuv) {
    long worst = 0;
    for (std::size_t y = 0; y < std::size_t(height); ++y) {
        for (std::size_t x = 0; x < std::size_t(width); ++x) {
            auto [luma, u, v] = yuv(x, y);
            double l = 1.164383 * (luma - 16), cb = u - 128.0, cr = v - 128.0;
            double bgr[3] = {l + 2.017232 * cb, l - 0.391762 * cb - 0.812968 * cr,
                             l + 1.596027 * cr};
            const std::uint8_t* got = &out[(y * std::size_t(width) + x) * 4];
            for (std::size_t ch = 0; ch < 3; ++ch)
                worst =
                    std::max(worst, std::abs(got[ch] - std::clamp(std::lround(bgr[ch]), 0L, 255L)));
            ASSERT_EQ(got[3], 255);
        }
    }
    EXPECT_LE(worst, 1);
}

TEST(FrameConverter, PacksEachFormatIntoBgra) {
    const std::uint8_t source[4] = {10, 20, 30, 40};
    std::pair<Format, std::array<int, 4>> cases[] = {
        {Format::BGR24, {10, 20, 30, 255}},  {Format::RGB24, {30, 20, 10, 255}},
        {Format::BGRA32, {10, 20, 30, 40}},  {Format::RGBA32, {30, 20, 10, 40}},
        {Format::BGRX32, {10, 20, 30, 255}}, {Format::RGBX32, {30, 20, 10, 255}}};
    for (const auto& [format, bgra] : cases) {
        std::uint8_t out[4];
        ASSERT_TRUE(FrameConverter(format, 1, 1, 0, 1, 1).convert(source, 4, out));
        EXPECT_EQ((std::array<int, 4>{out[0], out[1], out[2], out[3]}), bgra) << int(format);
    }
}

TEST(FrameConverter, DecodesPlanarYuvWhetherPlanesLieApartOrInOneBlock) {
    // Odd sizes: the last chroma column and row cover one pixel each. Rows are padded.
    constexpr int kWidth = 37, kHeight = 23;
    constexpr std::size_t kStride = 48, kChromaWidth = 19, kChromaHeight = 12;
    for (Format format : {Format::NV12, Format::I420}) {
        SCOPED_TRACE(int(format));
        bool nv12 = format == Format::NV12;
        std::size_t chromaStride = nv12 ? kStride : kStride / 2;
        auto luma = randomBytes(kStride * kHeight, 1);
        auto u = randomBytes(kStride * kChromaHeight + 1, 2),
             v = randomBytes(chromaStride * kChromaHeight, 3);
        std::vector<std::uint8_t> chroma(chromaStride *
                                         kChromaHeight);  // NV12: U and V interleaved
        for (std::size_t i = 0; nv12 && i < chroma.size() / 2; ++i)
            chroma[2 * i] = u[i], chroma[2 * i + 1] = v[i];
        // Where a chroma sample lies in u and v (NV12: half the interleaved row's stride).
        auto at = [&](std::size_t x, std::size_t y) {
            return y * (nv12 ? kStride / 2 : chromaStride) + x;
        };

        FrameConverter converter(format, kWidth, kHeight, kStride, kWidth, kHeight);
        ASSERT_TRUE(converter.valid());
        FrameConverter::Plane planes[3] = {
            {luma.data(), luma.size(), kStride},
            {nv12 ? chroma.data() : u.data(), nv12 ? chroma.size() : u.size(), chromaStride},
            {v.data(), v.size(), chromaStride}};
        std::vector<std::uint8_t> apart(std::size_t(kWidth * kHeight * 4));
        ASSERT_TRUE(converter.convert(planes, apart.data()));
        expectBt601(apart, kWidth, kHeight, [&](std::size_t x, std::size_t y) {
            return std::array<int, 3>{luma[y * kStride + x], u[at(x / 2, y / 2)],
                                      v[at(x / 2, y / 2)]};
        });

        // The same frame as one block: the planes one after the other.
        std::vector<std::uint8_t> block(luma);
        if (nv12) {
            block.insert(block.end(), chroma.begin(), chroma.end());
        } else {
            block.insert(block.end(), u.begin(), u.begin() + long(chromaStride * kChromaHeight));
            block.insert(block.end(), v.begin(), v.end());
        }
        std::size_t lastRowPadding = chromaStride - (nv12 ? 2 * kChromaWidth : kChromaWidth);
        EXPECT_EQ(converter.requiredBytes(), block.size() - lastRowPadding);
        std::vector<std::uint8_t> single(apart.size(), 0x55);
        EXPECT_FALSE(converter.convert(block.data(), converter.requiredBytes() - 1, single.data()));
        EXPECT_EQ(std::count(single.begin(), single.end(), 0x55), long(single.size()));
        ASSERT_TRUE(converter.convert(block.data(), converter.requiredBytes(), single.data()));
        EXPECT_EQ(single, apart);

        // A plane too short for its rows is refused.
        planes[1].size = planes[1].bytesPerRow * (kChromaHeight - 1);
        EXPECT_FALSE(converter.convert(planes, single.data()));
    }
}

// A pair of YUYV pixels shares its U and V. The width is no multiple of 8, so rows end in
// single pairs.
TEST(FrameConverter, DecodesYuyvAsBt601SkipsRowPaddingAndRefusesShortFrames) {
    constexpr std::size_t kWidth = 646, kPixels = kWidth * 480;
    for (Format format : {Format::YUYV, Format::BGR24}) {
        SCOPED_TRACE(int(format));
        const std::size_t packed = kWidth * std::size_t(FrameConverter::bytesPerPixel(format));
        const std::size_t stride = packed + 72;
        auto tight = randomBytes(packed * 480);
        std::vector<std::uint8_t> padded(stride * 480, 0xEE);
        for (std::size_t row = 0; row < 480; ++row)
            std::copy_n(&tight[row * packed], packed, &padded[row * stride]);

        std::vector<std::uint8_t> expected(kPixels * 4), out(kPixels * 4, 0x55);
        ASSERT_TRUE(FrameConverter(format, int(kWidth), 480, 0, int(kWidth), 480)
                        .convert(tight.data(), tight.size(), expected.data()));
        if (format == Format::YUYV)
            expectBt601(expected, kWidth, 480, [&](std::size_t x, std::size_t y) {
                const std::uint8_t* pair = &tight[(y * kWidth + (x & ~std::size_t(1))) * 2];
                return std::array<int, 3>{pair[(x & 1) * 2], pair[1], pair[3]};
            });
        FrameConverter converter(format, int(kWidth), 480, stride, int(kWidth), 480);
        // The last row's padding may be missing; any less is refused, out left alone.
        EXPECT_EQ(converter.requiredBytes(), stride * 479 + packed);
        EXPECT_FALSE(converter.convert(padded.data(), converter.requiredBytes() - 1, out.data()));
        EXPECT_EQ(std::count(out.begin(), out.end(), 0x55), long(out.size()));
        ASSERT_TRUE(converter.convert(padded.data(), converter.requiredBytes(), out.data()));
        EXPECT_EQ(out, expected);
    }
    EXPECT_FALSE(FrameConverter(Format::YUYV, 641, 480).valid());
    EXPECT_FALSE(FrameConverter(Format::BGR24, 640, 480, 640 * 3 - 1).valid());
    EXPECT_FALSE(FrameConverter(Format::BGR24, 0, 480).valid());
}

TEST(FrameConverter, ScalesOtherSizesToCoverTheFrame) {
    struct Case {
        int width, height;
        int x0, x1, y0, y1;  // source columns and rows that reach the output's edges
    } cases[] = {
        {320, 240, 0, 319, 0, 239},      // doubled
        {1280, 720, 160, 1119, 0, 719},  // wider: cropped left and right
        {640, 960, 0, 639, 240, 719},    // taller: cropped top and bottom
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        // Each source pixel holds its position: B, G = x; R, A = y (low, high bytes).
        std::vector<std::uint8_t> source;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                source.insert(source.end(), {std::uint8_t(x), std::uint8_t(x >> 8), std::uint8_t(y),
                                             std::uint8_t(y >> 8)});
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
        // Columns and rows advance alike: the aspect ratio is kept.
        EXPECT_NEAR((at(639, 0).first - at(0, 0).first) / 639.0,
                    (at(0, 479).second - at(0, 0).second) / 479.0, 0.01);
    }
    // YUYV doubled: each output pixel is the decoded source pixel under it.
    auto yuyv = randomBytes(320 * 240 * 2);
    std::vector<std::uint8_t> small(320 * 240 * 4), big(640 * 480 * 4);
    ASSERT_TRUE(FrameConverter(Format::YUYV, 320, 240, 0, 320, 240)
                    .convert(yuyv.data(), yuyv.size(), small.data()));
    ASSERT_TRUE(
        FrameConverter(Format::YUYV, 320, 240).convert(yuyv.data(), yuyv.size(), big.data()));
    for (std::size_t y = 0; y < 480; ++y)
        for (std::size_t x = 0; x < 640; ++x)
            ASSERT_EQ(std::memcmp(&big[(y * 640 + x) * 4], &small[(y / 2 * 320 + x / 2) * 4], 4), 0)
                << x << "," << y;
}

}  // namespace
}  // namespace quorbit::capture
