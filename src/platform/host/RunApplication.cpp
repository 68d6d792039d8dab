#include "platform/host/RunApplication.h"

#include <SDL2/SDL.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/core/Log.h"
#include "platform/core/RunLoop.h"
#include "platform/gl/GLObject.h"
#include "platform/host/Host.h"
#include "platform/host/ScriptRunner.h"
#include "platform/host/TerminationSignals.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace quorbit::platform {

int runApplication(const HostOptions& options,
                   std::function<std::shared_ptr<ViewController>()> makeRoot,
                   ApplicationDelegate* delegate) {
    // A bad script is reported before any window opens.
    std::vector<ScriptRunner::Command> commands;
    if (options.scriptPath) {
        auto parsed = ScriptRunner::parseFile(*options.scriptPath);
        if (!parsed) {
            std::fprintf(stderr, "quorbit: %s\n", parsed.error().localizedDescription().c_str());
            return 1;
        }
        commands = std::move(parsed.value());
    }
    RunLoop& loop = RunLoop::main();
    TerminationSignals signals(loop);
    // Headless runs (tests, scripts) keep their settings in a folder of their own unless
    // told otherwise, so that they neither read nor change the user's.
    std::filesystem::path scratchConfig;
    const char* configDir = std::getenv("QUORBIT_CONFIG_DIR");
    if (options.headless && (!configDir || !*configDir)) {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorbit-config-XXXXXX");
        if (mkdtemp(pattern.data())) {
            scratchConfig = pattern;
            setenv("QUORBIT_CONFIG_DIR", pattern.c_str(), 1);
            Log::info("headless: settings are kept in " + pattern);
        }
    }
    const int glObjectsAtStart = liveGLObjects();
    const long long glObjectsMadeBefore = madeGLObjects();
    auto host = Host::create(options);
    if (!host) {
        std::fprintf(stderr, "quorbit: %s\n", host.error().localizedDescription().c_str());
        if (!scratchConfig.empty()) {
            std::error_code ec;
            std::filesystem::remove(scratchConfig, ec);
        }
        return signals.exitStatus(1);
    }
    Application& app = Application::shared();
    app.setDelegate(delegate);
    if (!options.headless) {
        app.setBringToFront([h = host.value().get()] {
            SDL_Window* w = h->window();
            if (SDL_GetWindowFlags(w) & SDL_WINDOW_MINIMIZED) SDL_RestoreWindow(w);
            SDL_RaiseWindow(w);
            return true;
        });
    }

    auto window = std::make_shared<Window>();
    app.setMainWindow(window);
    if (makeRoot) window->setRootViewController(makeRoot());
    window->makeKeyAndVisible();
    app.finishLaunching();
    app.becomeActive();
    host.value()->install(loop);

    int status = 0;
    if (signals.received()) {
        // Told to end while starting: nothing is run.
    } else if (options.scriptPath) {
        ScriptRunner runner(*host.value(), *options.scriptPath);
        status = runner.run(commands);
    } else {
        loop.run();
    }

    app.terminate();
    app.setBringToFront(nullptr);
    host.value()->uninstall();
    // The views (and any GL views' framebuffers) go before the window system does.
    window->setRootViewController(nullptr);
    window->setHidden(true);
    app.setMainWindow(nullptr);
    window.reset();
    host.value().reset();
    // Every GL object the run made must be gone with the views and the host that held them;
    // a headless run (tests, scripts) that leaves any fails.
    if (options.headless) {
        if (liveGLObjects() != glObjectsAtStart) {
            std::fprintf(stderr, "quorbit: GL objects left at exit: %s\n",
                         describeLiveGLObjects().c_str());
            if (status == 0) status = 1;
        } else {
            Log::info(format("headless: all %lld GL objects made in the run were deleted at exit",
                             madeGLObjects() - glObjectsMadeBefore));
        }
    }
    if (!scratchConfig.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(scratchConfig, ec);
    }
    return signals.exitStatus(status);
}

}  // namespace quorbit::platform
