// What the whole application costs headless on this machine: the camera screen in a window of
// SDL's offscreen driver, drawn by the compositor, with the synthetic camera delivering 640 x
// 480 frames at up to 24 a second. It measures, in one run and side by side:
//
//   - the share of one core that the whole process uses (every thread: the capture thread and
//     the renderer's threads too) and the frames delivered and composited each second, with
//     the live view showing, with the filter picker up and all sixteen previews live, and
//     with the camera stopped;
//   - the frames per second the picker (and the live view) sustain when frames come as fast
//     as they can be drawn and composited;
//   - the time from the start of the process to the first live frame on screen, with the
//     sixteen programs compiled on the way.
//
// With --windows it measures instead, side by side in one run, what the window's size costs:
// the live view at 24 fps (Normal and Light Tunnel) in a 320 x 480 window and in a 1920 x 1080
// one, and 50 resizes in a row through phone, desktop and 4K sizes (each laid out and drawn),
// with the GL objects alive before and after them.
//
// usage: bench_picker_load [--seconds N] [--precision shipped|mediump] [--filters]
//                          [--screenshot PNG] [--windows]
//   --precision mediump builds the fragment shaders as a GPU without highp fragments would;
//   --filters adds the live view at 24 fps through each of the thirteen looks;
//   --screenshot writes what the screen shows with the picker up.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../BenchSupport.h"
#include "capture/Camera.h"
#include "capture/SyntheticScene.h"
#include "platform/core/RunLoop.h"
#include "platform/gfx/ImageCodec.h"
#include "platform/gl/GLObject.h"
#include "platform/host/Host.h"
#include "platform/ui/Window.h"
#include "screens/camera/quorbitViewController.h"
#include "screens/picker/FilterPickerController.h"

namespace {

using namespace quorbit;
using Clock = std::chrono::steady_clock;

// Seconds since this process started, from the kernel's record of its start.
double processAge() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Field 22 (start time, clock ticks after boot) counts from the field after the command.
    size_t at = text.rfind(')');
    if (at == std::string::npos) return -1;
    const char* p = text.c_str() + at + 2;
    unsigned long long start = 0;
    for (int field = 3; field <= 22 && *p; ++field) {
        if (field == 22) start = std::strtoull(p, nullptr, 10);
        p = std::strchr(p, ' ');
        if (!p) return -1;
        ++p;
    }
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9 -
           double(start) / double(sysconf(_SC_CLK_TCK));
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Passes frames on to the camera screen and counts them.
struct CountingDelegate : capture::CameraDelegate {
    capture::CameraDelegate* next = nullptr;
    std::uint64_t frames = 0;
    void processNewCameraFrame(capture::PixelBuffer& frame) override {
        ++frames;
        next->processNewCameraFrame(frame);
    }
    void cameraHasConnected() override { next->cameraHasConnected(); }
};

struct Row {
    std::string what;
    double seconds, cpuShare, framesPerSecond, compositesPerSecond;
};

void printRow(const Row& row) {
    std::printf("%-44s %6.1f %% of a core  %5.1f frames/s  %5.1f composites/s  (%.1f s)\n",
                row.what.c_str(), row.cpuShare * 100, row.framesPerSecond, row.compositesPerSecond,
                row.seconds);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 5;
    bool mediump = false, eachFilter = false, windows = false;
    std::string screenshot;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (arg == "--precision" && i + 1 < argc) {
            mediump = std::string(argv[++i]) == "mediump";
        } else if (arg == "--screenshot" && i + 1 < argc) {
            screenshot = argv[++i];
        } else if (arg == "--filters") {
            eachFilter = true;
        } else if (arg == "--windows") {
            windows = true;
        } else {
            std::fprintf(stderr,
                         "usage: bench_picker_load [--seconds N] [--precision shipped|mediump] "
                         "[--filters] [--screenshot PNG] [--windows]\n");
            return 2;
        }
    }
    setenv("QUORBIT_CAMERA", "synthetic", 1);
    auto host = bench::headlessHost();
    auto context = platform::GLContext::create();
    if (!context) {
        std::fprintf(stderr, "%s\n", context.error().localizedDescription().c_str());
        return 1;
    }
    platform::RunLoop& loop = platform::RunLoop::main();
    auto window = std::make_shared<platform::Window>();
    auto camera = std::make_shared<capture::Camera>();
    auto screen = std::make_shared<camera_screen::quorbitViewController>(context.value(), camera);
    if (mediump) {
        const std::string test = "#ifdef GL_FRAGMENT_PRECISION_HIGH";
        for (const auto& program : screen->programArray()) {
            std::string source = program->fragShaderSource().value_or("");
            if (size_t at = source.find(test); at != std::string::npos)
                program->setFragShaderSource(source.replace(at, test.size(), "#if 0"));
            program->disable();
            program->compile();
        }
    }
    CountingDelegate counter;
    counter.next = screen.get();
    camera->setDelegate(&counter);
    window->setRootViewController(screen);
    window->makeKeyAndVisible();
    host->install(loop);

    // Start-up: until the first camera frame has been drawn and composited.
    std::uint64_t composites = host->framesDrawn();
    bool started =
        loop.runUntil([&] { return counter.frames > 0 && host->framesDrawn() > composites; },
                      std::chrono::seconds(10));
    double startup = processAge();

    // The picker as the application wires it: the screen is its host and opens it.
    auto picker = std::make_shared<picker::FilterPickerController>(*screen);
    screen->setFilterPicker(picker, picker.get());
    auto openPicker = [&] { screen->openFilterPicker(); };
    auto closePicker = [&] { picker->close(); };

    auto measure = [&](const std::string& what) {
        loop.runFor(std::chrono::milliseconds(1000));  // settle: first draws, caches
        std::uint64_t frames = counter.frames, drawn = host->framesDrawn();
        double cpu = cpuSeconds();
        auto begin = Clock::now();
        loop.runFor(std::chrono::duration_cast<platform::RunLoop::Duration>(
            std::chrono::duration<double>(seconds)));
        double wall = std::chrono::duration<double>(Clock::now() - begin).count();
        return Row{what, wall, (cpuSeconds() - cpu) / wall, double(counter.frames - frames) / wall,
                   double(host->framesDrawn() - drawn) / wall};
    };

    // Frames as fast as they can be drawn: each one drawn, composited and finished.
    auto flatOut = [&](const char* what) {
        capture::SyntheticScene scene(capture::SyntheticScene::Style::Back);
        std::vector<std::uint8_t> bytes(640 * 480 * 4);
        std::uint64_t index = 0;
        auto once = [&] {
            scene.render(index++, bytes.data());
            capture::PixelBuffer frame(bytes.data(), 640, 480);
            screen->processNewCameraFrame(frame);
            loop.runOnce(platform::RunLoop::Duration::zero());
            host->renderFrame(true);
            glFinish();
        };
        for (int i = 0; i < 10; ++i)
            once();
        double cpu = cpuSeconds();
        auto begin = Clock::now();
        std::uint64_t first = index;
        while (Clock::now() - begin < std::chrono::duration<double>(seconds))
            once();
        double wall = std::chrono::duration<double>(Clock::now() - begin).count();
        double rate = double(index - first) / wall;
        return Row{what, wall, (cpuSeconds() - cpu) / wall, rate, rate};
    };

    std::printf("quorbit headless, synthetic camera, %s fragment shaders, llvmpipe\n",
                mediump ? "mediump" : "shipped (highp where available)");
    if (started) {
        std::printf("process start to first live frame on screen: %.0f ms\n", startup * 1000);
    } else {
        std::printf("no camera frame reached the screen within 10 s\n");
        return 1;
    }
    if (windows) {
        auto resizeTo = [&](double w, double h) {
            host->resizeWindow(w, h);
            host->renderFrame(true);
        };
        std::vector<Row> rows, uncapped;
        for (int slot : {0, 14}) {
            screen->setFilter(screen->programArray()[size_t(slot)].get());
            std::string look = gpu::kFilterSlotNames[size_t(slot)];
            resizeTo(320, 480);
            rows.push_back(measure("live view (" + look + ") 320 x 480, 24 fps"));
            resizeTo(1920, 1080);
            rows.push_back(measure("live view (" + look + ") 1920 x 1080, 24 fps"));
            // The same with the filter drawn at the view's own pixel size, for comparison.
            screen->glview()->setMaximumFramebufferSize(0, 0);
            uncapped.push_back(measure("  filter at the view's pixels instead"));
            platform::Size picture = screen->pictureSize();
            screen->glview()->setMaximumFramebufferSize(int(picture.width), int(picture.height));
        }
        // Fifty resizes, each laid out and composited, with frames coming meanwhile.
        resizeTo(320, 480);
        loop.runFor(std::chrono::milliseconds(500));
        int objectsBefore = platform::liveGLObjects();
        const double sizes[][2] = {{720, 1440}, {1280, 800}, {1920, 1080}, {3840, 2160},
                                   {360, 720},  {480, 320},  {320, 480}};
        auto begin = Clock::now();
        for (int i = 0; i < 50; ++i) {
            resizeTo(sizes[i % 7][0], sizes[i % 7][1]);
            loop.runOnce(platform::RunLoop::Duration::zero());
        }
        double resizing = std::chrono::duration<double>(Clock::now() - begin).count();
        resizeTo(320, 480);
        loop.runFor(std::chrono::milliseconds(500));
        int objectsAfter = platform::liveGLObjects();
        std::printf("quorbit headless, synthetic camera, llvmpipe: the window's size\n");
        for (size_t i = 0; i + 1 < rows.size(); i += 2) {
            printRow(rows[i]);
            printRow(rows[i + 1]);
            printRow(uncapped[i / 2]);
            std::printf(
                "CPU 1920 x 1080 / 320 x 480: %.2fx (%.2fx with the filter at the view's "
                "pixels)\n",
                rows[i + 1].cpuShare / rows[i].cpuShare,
                uncapped[i / 2].cpuShare / rows[i].cpuShare);
        }
        std::printf("50 resizes, each laid out and drawn: %.0f ms in all\n", resizing * 1000);
        std::printf("GL objects alive before and after them: %d and %d\n", objectsBefore,
                    objectsAfter);
        host->uninstall();
        window->setRootViewController(nullptr);
        window->setHidden(true);
        return objectsAfter == objectsBefore ? 0 : 1;
    }
    Row live = measure("live view (Normal), camera at 24 fps");
    screen->setFilter(screen->programArray()[14].get());
    Row liveTunnel = measure("live view (Light Tunnel), camera at 24 fps");
    std::vector<Row> filterRows;
    std::vector<std::string> seen;
    for (int slot = 0; eachFilter && slot < gpu::kFilterSlotCount; ++slot) {
        std::string name = gpu::kFilterSlotNames[size_t(slot)];
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
        seen.push_back(name);
        screen->setFilter(screen->programArray()[size_t(slot)].get());
        filterRows.push_back(measure("live view (" + name + "), camera at 24 fps"));
    }
    screen->setFilter(screen->programArray()[0].get());
    openPicker();
    Row pickerRow = measure("picker up, 16 previews live, camera at 24 fps");
    if (!screenshot.empty()) {
        auto shot = host->screenshot();
        auto written = shot ? platform::ImageCodec::writePng(shot.value(), screenshot)
                            : platform::Result<void>(shot.error());
        if (!written) std::fprintf(stderr, "%s\n", written.error().localizedDescription().c_str());
    }
    closePicker();
    camera->stopCamera();
    Row idle = measure("camera stopped (nothing to draw)");
    Row liveMax = flatOut("live view, frames back to back");
    openPicker();
    Row pickerMax = flatOut("picker up, frames back to back");
    closePicker();
    for (const Row& row : {live, liveTunnel, pickerRow, idle, liveMax, pickerMax})
        printRow(row);
    for (const Row& row : filterRows)
        printRow(row);

    host->uninstall();
    window->setRootViewController(nullptr);
    window->setHidden(true);
    return 0;
}
