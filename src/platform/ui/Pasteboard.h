#pragma once

#include <string>

namespace quorbit::platform {

// The desktop's clipboard (SDL's, which needs the video subsystem up, as it is once the GL
// context exists).
class Pasteboard {
  public:
    // Puts text on the clipboard; false when it could not.
    static bool setString(const std::string& text);
    // The clipboard's text; empty when there is none.
    static std::string string();
};

}  // namespace quorbit::platform
