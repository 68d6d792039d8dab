// Frames as devices hand them over: their conversion to BGRA, the PipeWire formats asked for
// and the blocks of PipeWire buffers read, and the V4L2 device over a fake driver.
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <spa/buffer/buffer.h>
#include <spa/param/format-utils.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <array>
#include <cmath>
#include <deque>
#include <map>

#include "FakeDevices.h"
#include "capture/FrameConverter.h"
#include "capture/PipeWireFormat.h"
#include "capture/PipeWireFrameReader.h"
#include "capture/V4L2Device.h"
#include "capture/V4L2DeviceLayer.h"

namespace quorbit::capture {
namespace {

using namespace std::chrono_literals;
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

using Offer = PipeWireFormat::Offer;
using Size = PipeWireFormat::Size;
using Choice = PipeWireFormat::Choice;

Offer raw(std::vector<std::uint32_t> formats, std::vector<Size> sizes, bool range = false) {
    return Offer{"raw", std::move(formats), std::move(sizes), range};
}

TEST(PipeWireFormat, ChoosesTheFormatAndSizeToAskFor) {
    constexpr std::uint32_t YUY2 = SPA_VIDEO_FORMAT_YUY2, NV12 = SPA_VIDEO_FORMAT_NV12,
                            I420 = SPA_VIDEO_FORMAT_I420, RGB = SPA_VIDEO_FORMAT_RGB,
                            GRAY8 = SPA_VIDEO_FORMAT_GRAY8, BGRx = SPA_VIDEO_FORMAT_BGRx;
    auto want = [](std::uint32_t format, int width, int height) {
        return std::optional(Choice{format, {width, height}});
    };
    const Offer mjpg{"mjpg", {}, {{640, 480}}, false};
    // clang-format off
    struct Case { const char* name; std::vector<Offer> offers; std::optional<Choice> expected; Size wanted = {640, 480}; bool exactly = false; /* a still */ };
    const Case cases[] = {
        {"YUY2 first", {raw({NV12, BGRx}, {{640, 480}}), raw({YUY2}, {{1280, 720}})}, want(YUY2, 1280, 720)},
        {"RGB before NV12", {raw({NV12, RGB}, {{640, 480}})}, want(RGB, 640, 480)},
        {"NV12 before I420", {raw({I420, NV12}, {{640, 480}})}, want(NV12, 640, 480)},
        {"640x480", {raw({YUY2}, {{1920, 1080}, {640, 480}, {320, 240}})}, want(YUY2, 640, 480)},
        {"else the smallest that covers it", {raw({YUY2}, {{1920, 1080}, {320, 240}, {800, 600}, {1280, 400}})}, want(YUY2, 800, 600)},
        // Covering means at least as wide and as tall: the edges count.
        {"as wide: covers", {raw({YUY2}, {{1920, 1080}, {640, 720}})}, want(YUY2, 640, 720)},
        {"as tall: covers", {raw({YUY2}, {{1920, 1080}, {800, 480}})}, want(YUY2, 800, 480)},
        {"the largest", {raw({YUY2}, {{160, 120}, {352, 288}, {320, 240}})}, want(YUY2, 352, 288)},
        {"a range holding it", {raw({NV12}, {{32, 32}, {4096, 4096}}, true)}, want(NV12, 640, 480)},
        {"a range above", {raw({NV12}, {{1280, 720}, {4096, 4096}}, true)}, want(NV12, 1280, 720)},
        {"compressed and unknown formats passed over", {mjpg, raw({GRAY8}, {{640, 480}}), raw({I420}, {{320, 240}})}, want(I420, 320, 240)},
        {"nothing convertible", {raw({GRAY8}, {{640, 480}})}, std::nullopt},
        {"no sizes", {raw({YUY2}, {})}, std::nullopt},
        {"another size wanted", {raw({YUY2}, {{640, 480}, {1920, 1080}, {1280, 720}})}, want(YUY2, 1920, 1080), {1280, 960}},
        // A still: the first format offered at its size, or none.
        {"a still", {raw({YUY2}, {{640, 480}, {1280, 720}}), raw({NV12, I420}, {{1920, 1080}})}, want(NV12, 1920, 1080), {1920, 1080}, true},
        {"a still at the live size", {raw({YUY2}, {{640, 480}})}, want(YUY2, 640, 480), {640, 480}, true},
        {"a still in a range", {raw({I420}, {{32, 32}, {2592, 1944}}, true)}, want(I420, 2592, 1944), {2592, 1944}, true},
        {"a still past a range", {raw({I420}, {{32, 32}, {2592, 1944}}, true)}, std::nullopt, {2600, 1944}, true},
        {"a still at a size not offered", {raw({YUY2}, {{1280, 720}, {3840, 2160}})}, std::nullopt, {1920, 1080}, true},
        {"a still offered compressed only", {Offer{"mjpg", {}, {{1920, 1080}}}, raw({YUY2}, {{640, 480}}), raw({GRAY8}, {{1920, 1080}})}, std::nullopt, {1920, 1080}, true},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(PipeWireFormat::choose(c.offers, c.wanted, c.exactly), c.expected) << c.name;
}

TEST(PipeWireFormat, StillsAreOfferedAtTheSizesOfConvertibleFormatsAndARangesLargest) {
    const std::vector<Offer> offers = {
        raw({SPA_VIDEO_FORMAT_YUY2}, {{640, 480}, {1280, 720}}),
        raw({SPA_VIDEO_FORMAT_GRAY8}, {{3840, 2160}}),
        Offer{"mjpg", {}, {{1920, 1080}}},
        raw({SPA_VIDEO_FORMAT_GRAY8, SPA_VIDEO_FORMAT_NV12}, {{32, 32}, {2592, 1944}}, true),
        raw({SPA_VIDEO_FORMAT_I420}, {{1280, 720}, {0, 0}}),
    };
    EXPECT_EQ(PipeWireFormat::stillSizes(offers),
              (std::vector<Size>{{640, 480}, {1280, 720}, {2592, 1944}}));
}

TEST(PipeWireFormat, ReadsANodesOffersAndAsksBack) {
    std::uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    // Formats as an enumeration (its default first), sizes as a range.
    spa_rectangle preferred = SPA_RECTANGLE(1280, 720), smallest = SPA_RECTANGLE(160, 120),
                  largest = SPA_RECTANGLE(1920, 1080);
    auto* offer = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_NV12, SPA_VIDEO_FORMAT_NV12,
                               SPA_VIDEO_FORMAT_YUY2),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&preferred, &smallest, &largest)));
    auto parsed = PipeWireFormat::parse(offer);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->formats,
              (std::vector<std::uint32_t>{SPA_VIDEO_FORMAT_NV12, SPA_VIDEO_FORMAT_YUY2}));
    EXPECT_EQ(PipeWireFormat::describe(*parsed),
              (std::vector<std::string>{"NV12 160x120-1920x1080", "YUY2 160x120-1920x1080"}));
    auto choice = PipeWireFormat::choose({*parsed});
    EXPECT_EQ(choice, (Choice{SPA_VIDEO_FORMAT_YUY2, {640, 480}}));
    // A compressed format: listed, never chosen.
    spa_rectangle size = SPA_RECTANGLE(1280, 720);
    auto* mjpg = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_mjpg), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size)));
    auto compressed = PipeWireFormat::parse(mjpg);
    ASSERT_TRUE(compressed);
    EXPECT_EQ(PipeWireFormat::describe(*compressed), std::vector<std::string>{"MJPG 1280x720"});
    EXPECT_FALSE(PipeWireFormat::choose({*compressed}));
    // What the camera asks for reads back as the choice, at one size and format.
    spa_pod_builder ask = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* asked = PipeWireFormat::build(ask, *choice);
    spa_video_info_raw info{};
    ASSERT_GE(spa_format_video_raw_parse(asked, &info), 0);
    EXPECT_EQ(std::tuple(info.format, info.size.width, info.size.height),
              std::tuple(SPA_VIDEO_FORMAT_YUY2, 640u, 480u));
    // Any frame rate, 24 a second preferred.
    const spa_pod_prop* rate = spa_pod_object_find_prop(
        reinterpret_cast<const spa_pod_object*>(asked), nullptr, SPA_FORMAT_VIDEO_framerate);
    ASSERT_TRUE(rate);
    std::uint32_t count = 0, kind = 0;
    const spa_pod* values = spa_pod_get_values(&rate->value, &count, &kind);
    ASSERT_EQ(kind, std::uint32_t(SPA_CHOICE_Range));
    ASSERT_EQ(count, 3u);
    const auto* fractions = static_cast<const spa_fraction*>(SPA_POD_BODY_CONST(values));
    EXPECT_EQ(std::pair(fractions[0].num, fractions[1].num), std::pair(24u, 0u));
}

// One block of data of a buffer, as a producer fills it: the frame at an offset, with its
// own row length.
struct Block {
    std::vector<std::uint8_t> bytes;
    spa_chunk chunk{};
    spa_data data{};
    Block(std::vector<std::uint8_t> frame, std::uint32_t offset, std::int32_t stride) {
        bytes.assign(offset, 0xAB);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
        chunk = spa_chunk{offset, std::uint32_t(frame.size()), stride, 0};
        data =
            spa_data{SPA_DATA_MemPtr, 0, -1, 0, std::uint32_t(bytes.size()), bytes.data(), &chunk};
    }
    spa_buffer buffer{0, 1, nullptr, &data};  // of this block alone
};

TEST(PipeWireFrameReader, ReadsTheChunkOfEachBlockAndRefusesBadOnes) {
    constexpr std::size_t kStride = 640 * 2 + 64;
    auto frame = randomBytes(kStride * 480, 3);
    std::vector<std::uint8_t> expected(640 * 480 * 4), out(640 * 480 * 4);
    ASSERT_TRUE(FrameConverter(Format::YUYV, 640, 480, kStride)
                    .convert(frame.data(), frame.size(), expected.data()));
    PipeWireFrameReader reader(Format::YUYV, 640, 480);
    int asked = 0;
    auto destination = [&] { return ++asked, out.data(); };
    Block block(frame, 96, std::int32_t(kStride));
    ASSERT_TRUE(reader.read(block.buffer, destination));
    EXPECT_EQ(out, expected);
    // Damaged, empty or short: no frame, and no buffer asked for.
    struct Case {
        const char* name;
        std::function<void(Block&)> spoil;
    } cases[] = {
        {"corrupted", [](Block& b) { b.chunk.flags = SPA_CHUNK_FLAG_CORRUPTED; }},
        {"no data", [](Block& b) { b.data.data = nullptr; }},
        // The last row's padding may be missing, not a byte more.
        {"short", [](Block& b) { b.chunk.size -= 65; }},
        {"past the end", [](Block& b) { b.data.maxsize -= 65; }},
    };
    for (const auto& c : cases) {
        Block spoilt(frame, 96, std::int32_t(kStride));
        c.spoil(spoilt);
        asked = 0;
        EXPECT_FALSE(reader.read(spoilt.buffer, destination)) << c.name;
        EXPECT_EQ(asked, 0) << c.name;
    }
    // Not wanted: a frame all the same.
    EXPECT_TRUE(reader.read(block.buffer, [] { return nullptr; }));
}

TEST(PipeWireFrameReader, TakesPlanesApartOrInOneBlock) {
    constexpr std::size_t kWidth = 320, kHeight = 240;
    auto luma = randomBytes(kWidth * kHeight, 4), chroma = randomBytes(kWidth * kHeight / 2, 5);
    std::vector<std::uint8_t> whole(luma);
    whole.insert(whole.end(), chroma.begin(), chroma.end());
    std::vector<std::uint8_t> one(640 * 480 * 4), apart(640 * 480 * 4, 1);
    PipeWireFrameReader reader(Format::NV12, kWidth, kHeight);
    Block single(whole, 0, std::int32_t(kWidth));
    ASSERT_TRUE(reader.read(single.buffer, [&] { return one.data(); }));
    Block lumaBlock(luma, 16, std::int32_t(kWidth)), chromaBlock(chroma, 0, std::int32_t(kWidth));
    spa_data planes[2] = {lumaBlock.data, chromaBlock.data};
    spa_buffer twoBlocks{0, 2, nullptr, planes};
    ASSERT_TRUE(reader.read(twoBlocks, [&] { return apart.data(); }));
    EXPECT_EQ(apart, one);
}

using Bytes = std::vector<std::uint8_t>;
constexpr int kW = CaptureDevice::kFrameWidth, kH = CaptureDevice::kFrameHeight;
constexpr std::uint32_t Y = V4L2_PIX_FMT_YUYV, B = V4L2_PIX_FMT_BGR24;
constexpr FrameSize kLarge{1920, 1080};

// A capture driver behind the device's calls: it answers a format request from a table,
// hands out buffers of its own memory and delivers the frames a test queues.
class FakeDriver : public V4L2Calls {
  public:
    // What a format request gets: asked, the sizes given as asked for instead of this one. A
    // listed pixel format: its discrete sizes, or a range from sizes[0] to sizes[1]. A frame:
    // its index, a buffer index of the driver's choosing.
    // clang-format off
    struct Answer { std::uint32_t fourcc; unsigned width = kW, height = kH; std::vector<FrameSize> asked = {}; };
    struct Listed { std::uint32_t fourcc; std::vector<FrameSize> sizes; bool range = false; };
    struct Frame { Bytes bytes; bool damaged = false; std::optional<unsigned> index = std::nullopt; };
    // clang-format on
    int openErrno = 0;
    std::map<std::uint32_t, Answer> formats = {{Y, {Y}}};  // what a request for a fourcc gets
    std::map<unsigned long, int> failing;                  // ioctl request -> errno
    unsigned buffersGiven = V4L2Device::kBufferCount;
    std::optional<std::int64_t> sensorRotation;  // the control's value; none: no such control
    bool hungUp = false;
    std::deque<Frame> frames;
    std::vector<Listed> listed;
    // What the device did.
    std::vector<std::uint32_t> requested;
    std::vector<unsigned> queued;
    bool open_ = false, streaming = false;
    int mapped = 0;
    int open(const char*, int) override {
        open_ = !openErrno;
        return openErrno ? fail(openErrno) : 7;
    }
    int close(int fd) override {
        EXPECT_EQ(fd, 7);
        open_ = false;
        return 0;
    }
    void* mmap(std::size_t length, int, std::int64_t offset) override {
        auto& memory = buffers.at(std::size_t(offset) / kOffsetStep);
        EXPECT_EQ(length, memory.size());
        ++mapped;
        return memory.data();
    }
    int munmap(void*, std::size_t) override { return --mapped, 0; }
    int poll(pollfd* fd, int) override {
        fd->revents = !frames.empty() ? POLLIN : hungUp ? POLLERR : 0;
        return fd->revents ? 1 : 0;
    }
    int ioctl(int fd, unsigned long request, void* argument) override {
        EXPECT_EQ(fd, 7);
        if (auto it = failing.find(request); it != failing.end()) return fail(it->second);
        auto* b = static_cast<v4l2_buffer*>(argument);
        switch (request) {
            case VIDIOC_S_FMT: {
                auto& pix = static_cast<v4l2_format*>(argument)->fmt.pix;
                requested.push_back(pix.pixelformat);
                Answer answer = formats.count(pix.pixelformat) ? formats[pix.pixelformat]
                                                               : Answer{V4L2_PIX_FMT_MJPEG};
                if (std::count(answer.asked.begin(), answer.asked.end(),
                               FrameSize{int(pix.width), int(pix.height)}))
                    answer.width = pix.width, answer.height = pix.height;
                std::tie(pix.pixelformat, pix.width, pix.height) =
                    std::tuple(answer.fourcc, answer.width, answer.height);
                pix.sizeimage = 2 * answer.width * answer.height;
                format = answer;
                return 0;
            }
            case VIDIOC_G_EXT_CTRLS: {
                auto* controls = static_cast<v4l2_ext_controls*>(argument);
                if (!sensorRotation || controls->count != 1 ||
                    controls->controls[0].id != V4L2_CID_CAMERA_SENSOR_ROTATION)
                    return fail(EINVAL);
                controls->controls[0].value = std::int32_t(*sensorRotation);
                return 0;
            }
            case VIDIOC_REQBUFS:
                static_cast<v4l2_requestbuffers*>(argument)->count = buffersGiven;
                buffers.assign(buffersGiven, Bytes(frameBytes()));
                return 0;
            case VIDIOC_QUERYBUF:
                b->length = unsigned(frameBytes());
                b->m.offset = b->index * kOffsetStep;
                return 0;
            case VIDIOC_QBUF:
                queued.push_back(b->index);
                return 0;
            case VIDIOC_DQBUF: {
                if (frames.empty() || queued.empty()) return fail(EAGAIN);
                Frame frame = std::move(frames.front());
                frames.pop_front();
                b->index = frame.index.value_or(queued.front());
                queued.erase(queued.begin());
                if (b->index < buffers.size())
                    std::memcpy(buffers[b->index].data(), frame.bytes.data(),
                                std::min(frame.bytes.size(), buffers[b->index].size()));
                b->bytesused = unsigned(frame.bytes.size());
                b->flags = frame.damaged ? V4L2_BUF_FLAG_ERROR : 0;
                return 0;
            }
            case VIDIOC_ENUM_FMT: {
                auto* d = static_cast<v4l2_fmtdesc*>(argument);
                if (d->index >= listed.size()) return fail(EINVAL);
                d->pixelformat = listed[d->index].fourcc;
                return 0;
            }
            case VIDIOC_ENUM_FRAMESIZES: {
                auto* f = static_cast<v4l2_frmsizeenum*>(argument);
                auto it = std::find_if(listed.begin(), listed.end(), [&](const Listed& l) {
                    return l.fourcc == f->pixel_format;
                });
                if (it == listed.end() || f->index >= (it->range ? 1 : it->sizes.size()))
                    return fail(EINVAL);
                auto [width, height] = it->sizes[f->index];
                f->type = it->range ? V4L2_FRMSIZE_TYPE_STEPWISE : V4L2_FRMSIZE_TYPE_DISCRETE;
                if (it->range)
                    f->stepwise = {unsigned(width),  unsigned(it->sizes[1].width),  16,
                                   unsigned(height), unsigned(it->sizes[1].height), 16};
                else
                    f->discrete = {unsigned(width), unsigned(height)};
                return 0;
            }
            case VIDIOC_STREAMON:
            case VIDIOC_STREAMOFF:
                streaming = request == VIDIOC_STREAMON;
                return 0;
        }
        return fail(ENOTTY);
    }
    // Whether the device let go of everything.
    bool released() const { return !open_ && !streaming && !mapped; }

  private:
    static constexpr unsigned kOffsetStep = 1 << 24;
    static int fail(int error) { return errno = error, -1; }
    std::size_t frameBytes() const {
        return std::size_t(format.fourcc == B ? 3 : 2) * format.width * format.height;
    }
    Answer format{Y};
    std::vector<Bytes> buffers;
};

const DeviceInfo kCamera{"/dev/video0", "Test camera", DevicePosition::Unspecified, {}, 0};

class V4L2DeviceTest : public ::testing::Test {
  protected:
    FakeDriver driver;
    V4L2Device device{kCamera, driver};
    Bytes out = Bytes(std::size_t(kW) * kH * 4);
    CaptureDevice::Destination destination = [this] { return out.data(); };
    // The first and last pixels of the last frame read.
    std::vector<int> ends() const {
        return {out[0],        out[1],        out[2],        out[3],
                out.end()[-4], out.end()[-3], out.end()[-2], out.end()[-1]};
    }
};

// Opening asks for YUYV, else BGR24; a failure says what failed in plain words, keeps the
// errno and leaves the device closed with every mapped buffer let go.
TEST(V4L2Device, OpensYuyvElseBgr24AndSaysWhatFailed) {
    constexpr auto Failed = CaptureError::DeviceFailed, NoFormat = CaptureError::NoUsableFormat;
    const std::string busy = "busy (in use by another program)";
    const std::string noFormat = "offers no frame format that can be converted";
    using std::strerror;
    // clang-format off
    // failingRequest: with requestErrno; code: none: it opens; buffers: what the driver grants
    struct Case { std::map<std::uint32_t, FakeDriver::Answer> formats;
                  std::vector<std::uint32_t> requests; int openErrno; unsigned long failingRequest;
                  int requestErrno; std::optional<CaptureError> code; std::string message = "";
                  unsigned buffers = V4L2Device::kBufferCount; };
    const Case cases[] = {
        {{{Y, {Y}}}, {Y}, 0, 0, 0, {}},
        {{{B, {B}}}, {Y, B}, 0, 0, 0, {}},
        {{{Y, {Y, 641, 480}}}, {Y, B}, 0, 0, 0, NoFormat, noFormat},  // YUYV of an odd width
        {{}, {Y, B}, 0, 0, 0, NoFormat, noFormat},
        {{{Y, {Y}}}, {}, EBUSY, 0, 0, Failed, "cannot be opened: " + busy},
        {{{Y, {Y}}}, {}, ENODEV, 0, 0, Failed, "cannot be opened: disconnected"},
        {{{Y, {Y}}}, {}, ENOENT, 0, 0, Failed, "cannot be opened: no such device"},
        {{{Y, {Y}}}, {}, EACCES, 0, 0, Failed, "cannot be opened: permission denied"},
        {{{Y, {Y}}}, {}, EIO, 0, 0, Failed, std::string("cannot be opened: ") + strerror(EIO)},
        {{{Y, {Y}}}, {}, 0, VIDIOC_S_FMT, EBUSY, Failed, "format could not be set: " + busy},
        {{{Y, {Y}}}, {Y}, 0, VIDIOC_REQBUFS, ENOMEM, Failed, std::string("buffers could not be allocated: ") + strerror(ENOMEM)},
        {{{Y, {Y}}}, {Y}, 0, VIDIOC_QBUF, EINVAL, Failed, std::string("buffer could not be queued: ") + strerror(EINVAL)},
        {{{Y, {Y}}}, {Y}, 0, VIDIOC_STREAMON, ENOSPC, Failed, std::string("streaming could not be started: ") + strerror(ENOSPC)},
        {{{Y, {Y}}}, {Y}, 0, 0, 0, CaptureError::TooFewBuffers, "too few capture buffers", 1},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        FakeDriver driver;
        driver.formats = c.formats;
        driver.openErrno = c.openErrno;
        if (c.failingRequest) driver.failing[c.failingRequest] = c.requestErrno;
        driver.buffersGiven = c.buffers;
        V4L2Device device(kCamera, driver);
        auto opened = device.open();
        EXPECT_EQ(driver.requested, c.requests);
        ASSERT_EQ(opened.ok(), !c.code);
        if (!c.code) {
            EXPECT_TRUE(driver.streaming);
            EXPECT_EQ(driver.queued.size(), V4L2Device::kBufferCount);
            continue;
        }
        EXPECT_TRUE(opened.error().is(*c.code));
        EXPECT_EQ(opened.error().localizedDescription(), c.message);
        EXPECT_EQ(opened.error().systemError(), c.openErrno ? c.openErrno : c.requestErrno);
        EXPECT_TRUE(driver.released());
    }
}

TEST_F(V4L2DeviceTest, TheRotationIsTheDriversSensorRotationElseZero) {
    const std::pair<std::optional<std::int64_t>, int> cases[] = {
        {std::nullopt, 0}, {0, 0}, {90, 90}, {180, 180}, {270, 270}, {45, 0}, {-90, 0}};
    for (const auto& [control, rotation] : cases) {
        driver.sensorRotation = control;
        ASSERT_TRUE(device.open());
        EXPECT_EQ(device.rotation(), rotation) << control.value_or(-1);
        device.close();
    }
}

TEST_F(V4L2DeviceTest, StreamsConvertedFramesAndRequeuesEveryBuffer) {
    auto notOpen = device.readFrame(0ms, destination);
    ASSERT_FALSE(notOpen);
    EXPECT_TRUE(notOpen.error().is(CaptureError::NotOpen));
    driver.formats = {{B, {B}}};
    ASSERT_TRUE(device.open());
    auto none = device.readFrame(0ms, destination);
    ASSERT_TRUE(none);
    EXPECT_FALSE(*none) << "no frame in time";
    // A BGR24 frame whose first pixel is (B 10, G 20, R 30) and whose last is (200, 100, 50).
    Bytes bgr(std::size_t(kW) * kH * 3, 0);
    bgr[0] = 10, bgr[1] = 20, bgr[2] = 30;
    bgr.end()[-3] = 200, bgr.end()[-2] = 100, bgr.end()[-1] = 50;
    driver.frames = {{bgr}, {bgr, true}, {{1, 2, 3}}};  // good, damaged, short
    auto got = device.readFrame(0ms, destination);
    ASSERT_TRUE(got);
    EXPECT_TRUE(*got);
    EXPECT_EQ(ends(), (std::vector<int>{10, 20, 30, 255, 200, 100, 50, 255}));
    for (const char* what : {"damaged", "short"}) {
        auto bad = device.readFrame(0ms, destination);
        ASSERT_TRUE(bad) << what;
        EXPECT_FALSE(*bad) << what;
    }
    EXPECT_EQ(driver.queued.size(), V4L2Device::kBufferCount) << "every buffer back in the queue";
    // A frame nobody wants is still taken off the driver and its buffer queued again.
    driver.frames.push_back({bgr});
    ASSERT_TRUE(device.readFrame(0ms, [] { return nullptr; }));
    EXPECT_EQ(driver.queued.size(), V4L2Device::kBufferCount);
    driver.frames.push_back({bgr, false, 9});
    auto unknown = device.readFrame(0ms, destination);
    ASSERT_FALSE(unknown);
    EXPECT_TRUE(unknown.error().is(CaptureError::UnknownBuffer));
    // Unplugged: the driver hangs up with no frame left to take.
    driver.hungUp = true;
    auto gone = device.readFrame(0ms, destination);
    ASSERT_FALSE(gone);
    EXPECT_TRUE(gone.error().is(CaptureError::DeviceFailed));
    EXPECT_EQ(gone.error().localizedDescription(), "capture stopped: disconnected");
    EXPECT_EQ(gone.error().systemError(), ENODEV);
    device.close();
    EXPECT_TRUE(driver.released());
}

TEST_F(V4L2DeviceTest, DiscoveryListsTheFormatsAndTheStillSizesOfThoseItConverts) {
    driver.listed = {
        {Y, {{640, 480}, {1280, 720}}},
        {V4L2_PIX_FMT_MJPEG, {{640, 480}, {1920, 1080}}},  // libv4l2 makes BGR24 of it
        {V4L2_PIX_FMT_GREY, {{3840, 2160}}},               // nothing converts it
        {V4L2_PIX_FMT_NV12, {{32, 32}, {2592, 1944}}, true},
    };
    auto offers = V4L2DeviceLayer::offersOf(
        [&](unsigned long request, void* argument) { return driver.ioctl(7, request, argument); });
    EXPECT_EQ(offers.formats,
              (std::vector<std::string>{"YUYV 640x480 1280x720", "MJPG 640x480 1920x1080",
                                        "GREY 3840x2160", "NV12 32x32-2592x1944"}));
    EXPECT_EQ(offers.stillSizes,
              (std::vector<FrameSize>{{640, 480}, {1280, 720}, {1920, 1080}, {2592, 1944}}));
}

TEST_F(V4L2DeviceTest, TakesAStillAtItsOwnSizeAndStreamsLiveFramesAgainAfterwards) {
    // YUYV at the live size only; the large size comes as BGR24 (libv4l2's, from MJPEG).
    driver.formats[B] = {B, kW, kH, {kLarge}};
    driver.sensorRotation = 90;
    auto bgr = testing::randomBytes(std::size_t(kLarge.pixels()) * 3);
    Bytes expected;  // the same pixels, as BGRA
    for (std::size_t i = 0; i < bgr.size(); i += 3)
        expected.insert(expected.end(), {bgr[i], bgr[i + 1], bgr[i + 2], 255});
    const Bytes settling(bgr.size(), 0x40);
    driver.frames = {{settling}, {settling, true}, {settling}, {bgr}, {settling}};
    auto still = device.takeStill(kLarge, 2, 0ms);
    ASSERT_TRUE(still) << still.error().localizedDescription();
    EXPECT_EQ(driver.requested, (std::vector<std::uint32_t>{Y, B}));
    EXPECT_EQ(std::tuple(still->width, still->height, still->rotation),
              std::tuple(kLarge.width, kLarge.height, 90));
    EXPECT_TRUE(still->bgra == expected) << "the third good frame, converted at full size";
    EXPECT_TRUE(driver.released());
    // Live again: YUYV at 640 x 480.
    driver.requested.clear();
    Bytes white;  // Y 235, U and V 128
    for (int i = 0; i < kW * kH / 2; ++i)
        white.insert(white.end(), {235, 128, 235, 128});
    driver.frames = {{white}};
    ASSERT_TRUE(device.open());
    EXPECT_EQ(driver.requested, std::vector<std::uint32_t>{Y});
    auto live = device.readFrame(0ms, destination);
    ASSERT_TRUE(live);
    EXPECT_TRUE(*live);
    EXPECT_EQ(ends(), std::vector<int>(8, 255));
}

TEST(V4L2Device, AStillTheDriverDoesNotGiveAtItsSizeFailsAndLeavesTheDeviceClosed) {
    // clang-format off
    struct Case { std::map<std::uint32_t, FakeDriver::Answer> formats; unsigned long failing;
                  CaptureError code; std::string message; };
    const Case cases[] = {
        {{{Y, {Y}}, {B, {B, 1280, 720}}}, 0, CaptureError::NoStill, "gives 1280 x 720 frames when asked for 1920 x 1080"},
        {{{Y, {Y, kW, kH, {kLarge}}}}, VIDIOC_S_FMT, CaptureError::DeviceFailed, std::string("format could not be set: ") + std::strerror(EINVAL)},
        {{{Y, {Y, kW, kH, {kLarge}}}}, 0, CaptureError::StillTimedOut, "no frame came from the camera"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        FakeDriver driver;
        driver.formats = c.formats;
        if (c.failing) driver.failing[c.failing] = EINVAL;
        V4L2Device device(kCamera, driver);
        auto still = device.takeStill(kLarge, 2, 0ms);
        ASSERT_FALSE(still);
        EXPECT_TRUE(still.error().is(c.code));
        EXPECT_EQ(still.error().localizedDescription(), c.message);
        EXPECT_TRUE(driver.released());
    }
}

}  // namespace
}  // namespace quorbit::capture
