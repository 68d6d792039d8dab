// One code-reading attempt as the scanner's worker makes it: a camera frame turned grey,
// upright and scaled to at most 1280 pixels, then searched, at the preview size and at
// 1920 x 1080; with a QR code in the picture and with none (the usual case).
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "codes/CodeReader.h"

namespace {

// A BGRA frame of grey noise with, when withCode, a QR code in the middle a
// third of the frame's height across.
std::vector<std::uint8_t> frame(int width, int height, bool withCode) {
    std::vector<std::uint8_t> bgra(std::size_t(width) * height * 4);
    std::mt19937 random(1);
    for (std::size_t i = 0; i < bgra.size(); i += 4)
        bgra[i] = bgra[i + 1] = bgra[i + 2] = std::uint8_t(96 + random() % 64), bgra[i + 3] = 255;
    if (!withCode) return bgra;
    int side = height / 3, x0 = (width - side) / 2, y0 = (height - side) / 2;
    ZXing::BitMatrix code = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode)
                                .encode(std::string("https://example.com/bench"), side, side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            std::uint8_t v = code.get(x * code.width() / side, y * code.height() / side) ? 0 : 255;
            std::uint8_t* p = &bgra[(std::size_t(y0 + y) * width + std::size_t(x0 + x)) * 4];
            p[0] = p[1] = p[2] = v;
        }
    return bgra;
}

void ReadAttempt(benchmark::State& state) {
    int width = int(state.range(0)), height = int(state.range(1));
    bool withCode = state.range(2) != 0;
    std::vector<std::uint8_t> bgra = frame(width, height, withCode);
    for (auto _ : state) {
        auto found =
            quorbit::codes::readCode(quorbit::codes::greyUpright(bgra.data(), width, height, 90));
        if (found.has_value() != withCode) state.SkipWithError("unexpected outcome");
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(ReadAttempt)
    ->ArgNames({"width", "height", "code"})
    ->Args({640, 480, 1})
    ->Args({640, 480, 0})
    ->Args({1920, 1080, 1})
    ->Args({1920, 1080, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
