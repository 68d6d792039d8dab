#include "platform/ui/Pasteboard.h"

#include <SDL2/SDL.h>

namespace quorbit::platform {

bool Pasteboard::setString(const std::string& text) {
    return SDL_SetClipboardText(text.c_str()) == 0;
}

std::string Pasteboard::string() {
    char* text = SDL_GetClipboardText();
    if (!text) return {};
    std::string copy = text;
    SDL_free(text);
    return copy;
}

}  // namespace quorbit::platform
