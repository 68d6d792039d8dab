#include <gtest/gtest.h>
#include <spa/buffer/buffer.h>
#include <spa/param/format-utils.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <tuple>

#include "FakeDevices.h"
#include "capture/PipeWireFormat.h"
#include "capture/PipeWireFrameReader.h"

namespace quorbit::capture {
namespace {

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
        {"YUY2 first", {raw({NV12, BGRx}, {{640, 480}}), raw({YUY2}, {{1280, 720}})},
         want(YUY2, 1280, 720)},
        {"RGB before NV12", {raw({NV12, RGB}, {{640, 480}})}, want(RGB, 640, 480)},
        {"NV12 before I420", {raw({I420, NV12}, {{640, 480}})}, want(NV12, 640, 480)},
        {"640x480", {raw({YUY2}, {{1920, 1080}, {640, 480}, {320, 240}})}, want(YUY2, 640, 480)},
        {"else the smallest that covers it",
         {raw({YUY2}, {{1920, 1080}, {320, 240}, {800, 600}, {1280, 400}})}, want(YUY2, 800, 600)},
        // Covering means at least as wide and as tall: the edges count.
        {"as wide: covers", {raw({YUY2}, {{1920, 1080}, {640, 720}})}, want(YUY2, 640, 720)},
        {"as tall: covers", {raw({YUY2}, {{1920, 1080}, {800, 480}})}, want(YUY2, 800, 480)},
        {"the largest", {raw({YUY2}, {{160, 120}, {352, 288}, {320, 240}})}, want(YUY2, 352, 288)},
        {"a range holding it", {raw({NV12}, {{32, 32}, {4096, 4096}}, true)}, want(NV12, 640, 480)},
        {"a range above", {raw({NV12}, {{1280, 720}, {4096, 4096}}, true)}, want(NV12, 1280, 720)},
        {"compressed and unknown formats passed over",
         {mjpg, raw({GRAY8}, {{640, 480}}), raw({I420}, {{320, 240}})}, want(I420, 320, 240)},
        {"nothing convertible", {raw({GRAY8}, {{640, 480}})}, std::nullopt},
        {"no sizes", {raw({YUY2}, {})}, std::nullopt},
        {"another size wanted", {raw({YUY2}, {{640, 480}, {1920, 1080}, {1280, 720}})},
         want(YUY2, 1920, 1080), {1280, 960}},
        // A still: the first format offered at its size, or none.
        {"a still", {raw({YUY2}, {{640, 480}, {1280, 720}}), raw({NV12, I420}, {{1920, 1080}})},
         want(NV12, 1920, 1080), {1920, 1080}, true},
        {"a still at the live size", {raw({YUY2}, {{640, 480}})}, want(YUY2, 640, 480),
         {640, 480}, true},
        {"a still in a range", {raw({I420}, {{32, 32}, {2592, 1944}}, true)},
         want(I420, 2592, 1944), {2592, 1944}, true},
        {"a still past a range", {raw({I420}, {{32, 32}, {2592, 1944}}, true)}, std::nullopt,
         {2600, 1944}, true},
        {"a still at a size not offered", {raw({YUY2}, {{1280, 720}, {3840, 2160}})},
         std::nullopt, {1920, 1080}, true},
        {"a still offered compressed only", {Offer{"mjpg", {}, {{1920, 1080}}},
         raw({YUY2}, {{640, 480}}), raw({GRAY8}, {{1920, 1080}})}, std::nullopt, {1920, 1080},
         true},
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

using Format = FrameConverter::Format;
using testing::randomBytes;

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

}  // namespace
}  // namespace quorbit::capture
