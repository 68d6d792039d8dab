// Per-frame costs of capture: converting a driver's frame to BGRA on the capture thread,
// a frame's way from a V4L2 or a PipeWire buffer into the mailbox, drawing the synthetic
// scene, and handing a frame to the delegate on the main thread.
#include <benchmark/benchmark.h>
#include <spa/buffer/buffer.h>

#include <chrono>
#include <random>
#include <vector>

#include "capture/FrameConverter.h"
#include "capture/FrameMailbox.h"
#include "capture/PipeWireFrameReader.h"
#include "capture/SyntheticScene.h"

namespace {

using quorbit::capture::FrameConverter;

void convert(benchmark::State& state, FrameConverter::Format format) {
    std::size_t bytes = 640 * 480 * std::size_t(FrameConverter::bytesPerPixel(format));
    std::vector<std::uint8_t> source(bytes), out(640 * 480 * 4);
    std::mt19937 random(1);
    for (auto& byte : source)
        byte = std::uint8_t(random());
    FrameConverter converter(format, 640, 480);
    for (auto _ : state) {
        converter.convert(source.data(), source.size(), out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
void YuyvToBgra(benchmark::State& state) {
    convert(state, FrameConverter::Format::YUYV);
}
void Bgr24ToBgra(benchmark::State& state) {
    convert(state, FrameConverter::Format::BGR24);
}
BENCHMARK(YuyvToBgra)->Unit(benchmark::kMillisecond);
BENCHMARK(Bgr24ToBgra)->Unit(benchmark::kMillisecond);

// The capture side of one frame, from the buffer a camera filled to the BGRA frame in the
// mailbox: reserve the slot, convert into it, publish. V4L2: what the V4L2 device does with
// a dequeued buffer (its bytes, one converter). PipeWire: what the PipeWire device does with
// a node's buffer (PipeWireFrameReader on its data and chunk). Both 640 x 480 YUYV, rows
// padded as drivers do; delivery on the main thread is not timed.
void ToMailbox(benchmark::State& state, bool pipeWire) {
    constexpr std::size_t kStride = 640 * 2 + 64;
    std::vector<std::uint8_t> frame(kStride * 480);
    std::mt19937 random(2);
    for (auto& byte : frame)
        byte = std::uint8_t(random());
    FrameConverter converter(FrameConverter::Format::YUYV, 640, 480, kStride);
    quorbit::capture::PipeWireFrameReader reader(FrameConverter::Format::YUYV, 640, 480);
    spa_chunk chunk{0, std::uint32_t(frame.size()), std::int32_t(kStride), 0};
    spa_data data{};
    data.type = SPA_DATA_MemFd;
    data.maxsize = std::uint32_t(frame.size());
    data.data = frame.data();
    data.chunk = &chunk;
    spa_buffer buffer{0, 1, nullptr, &data};

    quorbit::platform::RunLoop loop;
    auto now = std::chrono::steady_clock::time_point{};
    auto mailbox = quorbit::capture::FrameMailbox::create(loop, [&] { return now; });
    std::uint64_t epoch = mailbox->advanceEpoch();
    for (auto _ : state) {
        now += std::chrono::milliseconds(50);
        auto start = std::chrono::steady_clock::now();
        bool reserved = false;
        auto destination = [&] {
            std::uint8_t* slot = mailbox->reserve(epoch);
            reserved = slot != nullptr;
            return slot;
        };
        bool usable;
        if (pipeWire) {
            usable = reader.read(buffer, destination);
        } else {
            std::uint8_t* out = destination();
            usable = out && converter.convert(frame.data(), frame.size(), out);
        }
        if (usable && reserved)
            mailbox->publish();
        else if (reserved)
            mailbox->cancel();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        loop.runOnce(std::chrono::milliseconds(0));
    }
    if (mailbox->delivered() != std::uint64_t(state.iterations()))
        state.SkipWithError("frames lost");
}
void V4L2BufferToMailbox(benchmark::State& state) {
    ToMailbox(state, false);
}
void PipeWireBufferToMailbox(benchmark::State& state) {
    ToMailbox(state, true);
}
BENCHMARK(V4L2BufferToMailbox)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(PipeWireBufferToMailbox)->UseManualTime()->Unit(benchmark::kMicrosecond);

void SyntheticFrame(benchmark::State& state) {
    quorbit::capture::SyntheticScene scene(quorbit::capture::SyntheticScene::Style::Front);
    std::vector<std::uint8_t> out(640 * 480 * 4);
    std::uint64_t index = 0;
    for (auto _ : state) {
        scene.render(index++, out.data());
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(SyntheticFrame)->Unit(benchmark::kMillisecond);

// Main-thread side of one delivery: the posted task runs, the delegate locks the frame,
// reads it and unlocks it. The capture side (reserve, publish) is not timed.
class Reader : public quorbit::capture::CameraDelegate {
  public:
    void processNewCameraFrame(quorbit::capture::PixelBuffer& frame) override {
        frame.lockBaseAddress(0);
        benchmark::DoNotOptimize(frame.baseAddress()[frame.width() * 4 * 240]);
        frame.unlockBaseAddress(0);
    }
    void cameraHasConnected() override {}
};

void Delivery(benchmark::State& state) {
    quorbit::platform::RunLoop loop;
    auto now = std::chrono::steady_clock::time_point{};
    auto mailbox = quorbit::capture::FrameMailbox::create(loop, [&] { return now; });
    Reader reader;
    mailbox->setDelegate(&reader);
    std::uint64_t epoch = mailbox->advanceEpoch();
    for (auto _ : state) {
        now += std::chrono::milliseconds(50);
        if (mailbox->reserve(epoch)) mailbox->publish();
        auto start = std::chrono::steady_clock::now();
        loop.runOnce(std::chrono::milliseconds(0));
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    if (mailbox->delivered() != std::uint64_t(state.iterations()))
        state.SkipWithError("frames lost");
}
BENCHMARK(Delivery)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
