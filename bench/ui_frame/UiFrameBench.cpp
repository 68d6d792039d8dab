// The cost of the user interface on top of the camera picture: one composited frame in
// which only GL layers changed (every view picture comes from its cache), and the CPU time
// of an application that has nothing to do.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <memory>

#include "gpu/GLView.h"
#include "platform/core/RunLoop.h"
#include "platform/gl/GLContext.h"
#include "platform/host/Host.h"
#include "platform/ui/Button.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/Label.h"
#include "platform/ui/Window.h"

namespace {

using namespace quorbit;
using namespace quorbit::platform;

// The camera screen's shape: a 320 x 427 GL view over the window, a control bar of drawn
// buttons and labels below it; or the picker's, with 4 GL previews on a page.
struct Screen {
    std::unique_ptr<Host> host;
    std::shared_ptr<Window> window;
    std::shared_ptr<GLContext> context;
    std::vector<std::shared_ptr<gpu::GLView>> glViews;

    explicit Screen(int previews) {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        HostOptions options;
        options.headless = true;
        auto made = Host::create(options);
        if (!made) std::abort();
        host = std::move(made.value());
        window = std::make_shared<Window>();
        window->setBackgroundColor(Color::black());
        window->makeKeyAndVisible();
        context = GLContext::create().value();
        auto addGl = [&](Rect frame) {
            auto view = std::make_shared<gpu::GLView>(frame);
            view->setContext(context);
            window->addSubview(view);
            glViews.push_back(view);
        };
        if (previews == 0) {
            addGl(Rect(0, 0, 320, 427));
        } else {
            for (int i = 0; i < previews; ++i)
                addGl(Rect(10 + 155 * (i % 2), 10 + 200 * (i / 2), 145, 190));
        }
        auto bar = std::make_shared<View>(Rect(0, 427, 320, 53));
        bar->setBackgroundColor(Color{0.1, 0.1, 0.1, 0.9});
        for (int i = 0; i < 4; ++i) {
            auto button = Button::create(Button::Type::RoundedRect, Rect(8 + 78 * i, 8, 70, 36));
            button->setTitle(std::string("B") + std::to_string(i));
            bar->addSubview(button);
        }
        auto label = std::make_shared<Label>(Rect(0, 0, 320, 8));
        label->setText("status");
        bar->addSubview(label);
        window->addSubview(bar);
        window->layoutIfNeeded();
        host->renderFrame(true);  // the first frame draws and caches every picture
    }

    // What a camera frame does to each GL view: draw and present.
    void presentGl() {
        for (auto& view : glViews) {
            view->setFramebuffer();
            glClearColor(0.2f, 0.4f, 0.6f, 1);
            glClear(GL_COLOR_BUFFER_BIT);
            view->presentFramebuffer();
        }
    }
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

void BM_UiFrameWithOnlyGlLayersChanged(benchmark::State& state) {
    Screen screen(static_cast<int>(state.range(0)));
    screen.presentGl();
    screen.host->renderFrame(true);
    // Process CPU time counts the GL driver's threads too (llvmpipe draws on the CPU).
    double processCpu = 0;
    for (auto _ : state) {
        // Only the compositor's part is timed: the GL views' own drawing belongs to the
        // camera path.
        state.PauseTiming();
        screen.presentGl();
        glFinish();
        double before = cpuSeconds();
        state.ResumeTiming();
        screen.host->renderFrame();
        glFinish();
        processCpu += cpuSeconds() - before;
    }
    state.counters["process_cpu_ms"] = 1000 * processCpu / double(state.iterations());
    const auto& last = screen.host->compositor().lastFrame();
    state.counters["canvas_redraws"] = last.canvasRedraws;
    state.counters["gl_layers"] = last.layerQuads;
}
BENCHMARK(BM_UiFrameWithOnlyGlLayersChanged)
    ->ArgName("previews")
    ->Arg(0)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond);

// Five seconds of an application whose screen does not change.
void BM_IdleApplicationCpu(benchmark::State& state) {
    Screen screen(0);
    screen.presentGl();
    screen.host->install(RunLoop::main());
    RunLoop::main().runFor(std::chrono::milliseconds(200));
    double percent = 0;
    for (auto _ : state) {
        double cpu = cpuSeconds();
        auto start = std::chrono::steady_clock::now();
        RunLoop::main().runFor(std::chrono::seconds(5));
        double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        percent = 100 * (cpuSeconds() - cpu) / wall;
    }
    screen.host->uninstall();
    state.counters["cpu_percent"] = percent;
}
BENCHMARK(BM_IdleApplicationCpu)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
