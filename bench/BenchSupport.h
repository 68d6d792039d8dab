#pragma once

// What several benchmark programs share.
#include <SDL2/SDL.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/gl/GLContext.h"
#include "platform/host/Host.h"

namespace quorbit::bench {

// One GL context for the whole program (llvmpipe through SDL's offscreen driver unless
// SDL_VIDEODRIVER says otherwise), made current on each call.
inline std::shared_ptr<platform::GLContext> context() {
    static std::shared_ptr<platform::GLContext> made = [] {
        if (!SDL_getenv("SDL_VIDEODRIVER")) SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
        auto result = platform::GLContext::create();
        if (!result) {
            std::fprintf(stderr, "%s\n", result.error().localizedDescription().c_str());
            std::exit(1);
        }
        return result.value();
    }();
    made->makeCurrent();
    return made;
}

// The application's host headless (SDL's offscreen driver and no sound unless the environment
// says otherwise); the program ends with status 1, saying why, where it cannot be made.
inline std::unique_ptr<platform::Host> headlessHost() {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    platform::HostOptions options;
    options.headless = true;
    auto host = platform::Host::create(options);
    if (!host) {
        std::fprintf(stderr, "%s\n", host.error().localizedDescription().c_str());
        std::exit(1);
    }
    return std::move(host).value();
}

}  // namespace quorbit::bench
