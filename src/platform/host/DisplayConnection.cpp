#include "platform/host/DisplayConnection.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>
#include <dlfcn.h>

namespace quorbit::platform {
namespace {

// A function of a library that SDL has already loaded, so that quorbit links neither.
void* loadedSymbol(const char* library, const char* symbol) {
    void* handle = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return nullptr;
    void* found = dlsym(handle, symbol);
    dlclose(handle);
    return found;
}

}  // namespace

int displayConnectionFd(SDL_Window* window) {
    if (!window) return -1;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info)) return -1;
    using Fn = int (*)(void*);
#if defined(SDL_VIDEO_DRIVER_X11)
    if (info.subsystem == SDL_SYSWM_X11) {
        auto fn = reinterpret_cast<Fn>(loadedSymbol("libX11.so.6", "XConnectionNumber"));
        return fn ? fn(info.info.x11.display) : -1;
    }
#endif
#if defined(SDL_VIDEO_DRIVER_WAYLAND)
    if (info.subsystem == SDL_SYSWM_WAYLAND) {
        auto fn = reinterpret_cast<Fn>(loadedSymbol("libwayland-client.so.0", "wl_display_get_fd"));
        return fn ? fn(info.info.wl.display) : -1;
    }
#endif
    return -1;
}

}  // namespace quorbit::platform
