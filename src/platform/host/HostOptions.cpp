#include "platform/host/HostOptions.h"

#include <cmath>
#include <cstdlib>

namespace quorbit::platform {

std::optional<Size> HostOptions::parseSize(const std::string& text) {
    auto x = text.find('x');
    if (x == std::string::npos || x == 0 || x + 1 >= text.size()) return std::nullopt;
    auto number = [](const std::string& part) -> std::optional<double> {
        if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos ||
            part.size() > 5)
            return std::nullopt;
        double value = std::stod(part);
        if (value < kMinimumSide || value > kMaximumSide) return std::nullopt;
        return value;
    };
    auto w = number(text.substr(0, x)), h = number(text.substr(x + 1));
    if (!w || !h) return std::nullopt;
    return Size{*w, *h};
}

void HostOptions::addOptions(CommandLineParser& parser) {
    parser.addFlag("--headless", "no display: SDL's offscreen driver, nothing on screen", headless);
    parser.add({"--script", "FILE", "runs the script commands in FILE (see below)",
                [this](const std::string& value) -> std::optional<std::string> {
                    if (value.empty()) return "--script needs a file name";
                    scriptPath = value;
                    return std::nullopt;
                }});
    parser.add({"--scale", "N", "window pixels a point, 0.25 to 8 (1 unless given)",
                [this](const std::string& value) -> std::optional<std::string> {
                    char* end = nullptr;
                    double number = std::strtod(value.c_str(), &end);
                    if (value.empty() || *end != '\0' || !std::isfinite(number) || number < 0.25 ||
                        number > 8)
                        return "--scale takes a number from 0.25 to 8, not \"" + value + "\"";
                    scale = number;
                    return std::nullopt;
                }});
    parser.add({"--size", "WxH",
                "the window's first size in points, each side " +
                    std::to_string(int(kMinimumSide)) + " to " + std::to_string(int(kMaximumSide)),
                [this](const std::string& value) -> std::optional<std::string> {
                    auto size = parseSize(value);
                    if (!size)
                        return "--size takes WIDTHxHEIGHT in points, each from " +
                               std::to_string(int(kMinimumSide)) + " to " +
                               std::to_string(int(kMaximumSide)) + ", not \"" + value + "\"";
                    width = size->width;
                    height = size->height;
                    return std::nullopt;
                }});
}

Result<HostOptions> HostOptions::parse(const std::vector<std::string>& args) {
    HostOptions options;
    CommandLineParser parser;
    options.addOptions(parser);
    auto rest = parser.parse(args, CommandLineParser::Unknown::Keep);
    if (!rest) return Error::make(HostError::BadOption, rest.error().localizedDescription());
    options.rest = std::move(rest).value();
    return options;
}

}  // namespace quorbit::platform
