#pragma once

// What several benchmark programs share.
#include <SDL2/SDL.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/gl/GLContext.h"

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

}  // namespace quorbit::bench
