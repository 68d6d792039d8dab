#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/core/Error.h"

namespace quorbit::platform {

// Why the application's window could not be had; the codes of the "quorbit.host" domain.
enum class HostError : long {
    BadScreen = 1,   // the screen's size or scale is not positive
    NoVideo = 2,     // no display, and not headless (the GL error lies underneath)
    NoWindow = 3,    // the window could not be opened
    NoReadBack = 4,  // the window's picture could not be read back
    BadOption = 5,   // a command-line option is unknown or lacks its value
};
constexpr const char* errorDomain(HostError) {
    return "quorbit.host";
}

// What the command line says about the window the application runs in.
struct HostOptions {
    // No display: SDL's offscreen driver, nothing shown on screen.
    bool headless = false;
    // A file of script commands to run instead of waiting for a user.
    std::optional<std::string> scriptPath;
    // Window pixels per point (desktops: --scale 2 shows the 320-point screen 640 wide).
    double scale = 1;
    // The screen in points.
    double width = 320, height = 480;
    // The window title.
    std::string title = "Flurio";
    // Arguments that are not the host's, in their order.
    std::vector<std::string> rest;

    // Takes --headless, --script FILE and --scale N out of args; the other arguments are
    // kept in rest. Fails on a missing or bad value, and on an option given twice.
    static Result<HostOptions> parse(const std::vector<std::string>& args);
};

}  // namespace quorbit::platform
