#pragma once

struct SDL_Window;

namespace quorbit::platform {

// The file descriptor of the window system connection behind window (X11 or Wayland), which
// becomes readable when input arrives; -1 when there is none to watch. Kept apart from the
// rest of the host because the window system headers define macros that clash with it.
int displayConnectionFd(SDL_Window* window);

}  // namespace quorbit::platform
