#include "capture/PipeWireFrameReader.h"

#include <gtest/gtest.h>
#include <spa/buffer/buffer.h>

#include "FakeDevices.h"

namespace quorbit::capture {
namespace {

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
        data.type = SPA_DATA_MemPtr;
        data.maxsize = std::uint32_t(bytes.size());
        data.data = bytes.data();
        data.chunk = &chunk;
    }
};

TEST(PipeWireFrameReader, ReadsTheChunkOfEachBlockAndRefusesBadOnes) {
    constexpr std::size_t kStride = 640 * 2 + 64;
    auto frame = randomBytes(kStride * 480, 3);
    std::vector<std::uint8_t> expected(640 * 480 * 4), out(640 * 480 * 4);
    ASSERT_TRUE(FrameConverter(Format::YUYV, 640, 480, kStride)
                    .convert(frame.data(), frame.size(), expected.data()));
    PipeWireFrameReader reader(Format::YUYV, 640, 480);
    int asked = 0;
    auto destination = [&] {
        ++asked;
        return out.data();
    };
    Block block(frame, 96, std::int32_t(kStride));
    spa_buffer buffer{0, 1, nullptr, &block.data};
    ASSERT_TRUE(reader.read(buffer, destination));
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
        spa_buffer bad{0, 1, nullptr, &spoilt.data};
        asked = 0;
        EXPECT_FALSE(reader.read(bad, destination)) << c.name;
        EXPECT_EQ(asked, 0) << c.name;
    }
    // Not wanted: a frame all the same.
    EXPECT_TRUE(reader.read(buffer, [] { return nullptr; }));
}

TEST(PipeWireFrameReader, TakesPlanesApartOrInOneBlock) {
    constexpr std::size_t kWidth = 320, kHeight = 240;
    auto luma = randomBytes(kWidth * kHeight, 4), chroma = randomBytes(kWidth * kHeight / 2, 5);
    std::vector<std::uint8_t> whole(luma);
    whole.insert(whole.end(), chroma.begin(), chroma.end());
    std::vector<std::uint8_t> one(640 * 480 * 4), apart(640 * 480 * 4, 1);
    PipeWireFrameReader reader(Format::NV12, kWidth, kHeight);

    Block single(whole, 0, std::int32_t(kWidth));
    spa_buffer oneBlock{0, 1, nullptr, &single.data};
    ASSERT_TRUE(reader.read(oneBlock, [&] { return one.data(); }));

    Block lumaBlock(luma, 16, std::int32_t(kWidth)), chromaBlock(chroma, 0, std::int32_t(kWidth));
    spa_data planes[2] = {lumaBlock.data, chromaBlock.data};
    spa_buffer twoBlocks{0, 2, nullptr, planes};
    ASSERT_TRUE(reader.read(twoBlocks, [&] { return apart.data(); }));
    EXPECT_EQ(apart, one);
}

}  // namespace
}  // namespace quorbit::capture
