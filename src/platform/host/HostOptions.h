#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/core/CommandLineParser.h"
#include "platform/core/Error.h"
#include "platform/core/Geometry.h"

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
    // The window's first size in points (--size WxH); the user may resize it afterwards, and
    // every screen lays itself out for whatever size it has.
    double width = 320, height = 480;
    // The smallest and largest side --size takes, in points.
    static constexpr double kMinimumSide = 320;
    static constexpr double kMaximumSide = 7680;
    // The window title.
    std::string title = "Flurio";
    // Arguments that are not the host's, in their order.
    std::vector<std::string> rest;

    // "WIDTHxHEIGHT" in points, each side within the limits above.
    static std::optional<Size> parseSize(const std::string& text);

    // Declares --headless, --script FILE, --scale N and --size WxH on parser, each read into
    // this (which must outlive the parse) as it is met.
    void addOptions(CommandLineParser& parser);

    // Takes --headless, --script FILE, --scale N and --size WxH out of args; the other arguments
    // are kept in rest. Fails on a missing or bad value, and on an option given twice.
    static Result<HostOptions> parse(const std::vector<std::string>& args);
};

}  // namespace quorbit::platform
