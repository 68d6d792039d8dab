// From the shutter to the photo's file on disk, for the screen-size photo (the 320 x 427 live
// surface read back and written) and for full-size stills from the synthetic camera (the
// still taken by the capture thread and turned there, drawn through a look offscreen, read
// back, encoded and written), side by side in one run. Each reports how far the process's
// peak resident memory rose above the idle application (camera running, nothing taken) while
// the photo was made: the peak is reset (clear_refs) before each photo.
//
//   bench_stills [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>

#include "../BenchSupport.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "capture/Camera.h"
#include "capture/CameraSource.h"
#include "gpu/FilterCatalogue.h"
#include "gpu/FrameDrawing.h"
#include "gpu/GLView.h"
#include "gpu/StillRendering.h"
#include "platform/core/Log.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/PhotoAlbum.h"

namespace {

using namespace quorbit;
using namespace std::chrono_literals;

using bench::context;

// VmRSS or VmHWM of this process, in MiB.
double statusMiB(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0) return std::stod(line.substr(std::strlen(field) + 1)) / 1024;
    return 0;
}

void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

std::filesystem::path albumFolder() {
    static std::filesystem::path folder = [] {
        auto path = std::filesystem::temp_directory_path() / "quorbit-bench-stills";
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

void clearAlbum() {
    for (auto& entry : std::filesystem::directory_iterator(albumFolder()))
        std::filesystem::remove(entry.path());
}

// Writes image through the album and runs the loop until the file is on disk.
bool write(platform::PhotoAlbum& album, platform::Image image, int quality) {
    std::optional<bool> written;
    platform::PhotoDetails details;
    details.jpegQuality = quality;
    album.writeImageToSavedPhotosAlbum(
        std::move(image), platform::ImageOrientation::Up,
        [&](const auto& result) { written = result.ok(); }, details);
    platform::RunLoop::main().runUntil([&] { return written.has_value(); }, 60s);
    return written.value_or(false);
}

// The look the photos go through: Thermal (slot 6), one of the busier programs.
gpu::ShaderProgram& look() {
    static auto programs = [] {
        context();
        return gpu::createFilterPrograms();
    }();
    return *programs[6];
}

void report(benchmark::State& state, double idle, double peak) {
    state.counters["peak_MiB_above_idle"] = peak - idle;
    clearAlbum();
}

void BM_Still_ScreenSize(benchmark::State& state) {
    auto ctx = context();
    gpu::GLView view(platform::Rect(0, 0, 320, 427));
    view.setContext(ctx);
    std::vector<std::uint8_t> frame(640 * 480 * 4, 128);
    capture::PixelBuffer buffer(frame.data(), 640, 480, 90);
    buffer.lockBaseAddress();
    gpu::CameraTexture texture;
    texture.upload(buffer, ctx);
    gpu::drawFrameQuad(view, look(), texture.name(), capture::kCameraBack, {0, 0, 0, 1});
    platform::PhotoAlbum album(albumFolder());
    double idle = statusMiB("VmRSS:"), peak = idle;
    for (auto _ : state) {
        resetPeak();
        if (!write(album, gpu::readFramebufferImage(view), 95)) state.SkipWithError("not written");
        peak = std::max(peak, statusMiB("VmHWM:"));
    }
    report(state, idle, peak);
}

void BM_Still_FullSize(benchmark::State& state) {
    auto ctx = context();
    const capture::FrameSize size{int(state.range(0)), int(state.range(1))};
    auto source = capture::CameraSource::parse(
        platform::format("synthetic:back:size=%dx%d", size.width, size.height));
    capture::Camera camera(source.value());
    look();
    platform::PhotoAlbum album(albumFolder());
    // The idle application: the camera running, its frames arriving.
    platform::RunLoop::main().runUntil([] { return false; }, 300ms);
    double idle = statusMiB("VmRSS:"), peak = idle;
    for (auto _ : state) {
        resetPeak();
        std::optional<platform::Result<capture::StillFrame>> still;
        camera.captureStill(
            size, [](capture::StillFrame& s) { gpu::turnToDrawingLayout(s); },
            [&](platform::Result<capture::StillFrame> s) { still = std::move(s); });
        platform::RunLoop::main().runUntil([&] { return still.has_value(); }, 60s);
        if (!still || !still->ok()) {
            state.SkipWithError("no still");
            break;
        }
        auto drawn = gpu::renderStill(ctx, look(), std::move(*still).value(), capture::kCameraBack);
        still.reset();
        if (!drawn || !write(album, std::move(drawn).value(), 92)) {
            state.SkipWithError("not drawn or not written");
            break;
        }
        peak = std::max(peak, statusMiB("VmHWM:"));
    }
    report(state, idle, peak);
}

BENCHMARK(BM_Still_ScreenSize)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Still_FullSize)
    ->Args({1920, 1080})
    ->Args({4000, 3000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
