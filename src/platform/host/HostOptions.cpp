#include "platform/host/HostOptions.h"

#include <cmath>
#include <cstdlib>
#include <set>

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

Result<HostOptions> HostOptions::parse(const std::vector<std::string>& args) {
    HostOptions options;
    auto fail = [](const std::string& message) {
        return Error::make(HostError::BadOption, message);
    };
    std::set<std::string> seen;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool ours = arg == "--headless" || arg == "--script" || arg == "--scale" || arg == "--size";
        if (ours && !seen.insert(arg).second) return fail(arg + " is given more than once");
        if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--script" || arg == "--scale" || arg == "--size") {
            if (i + 1 >= args.size()) return fail(arg + " needs a value");
            const std::string& value = args[++i];
            if (arg == "--script") {
                if (value.empty()) return fail("--script needs a file name");
                options.scriptPath = value;
                continue;
            }
            if (arg == "--size") {
                auto size = parseSize(value);
                if (!size)
                    return fail("--size takes WIDTHxHEIGHT in points, each from " +
                                std::to_string(int(kMinimumSide)) + " to " +
                                std::to_string(int(kMaximumSide)) + ", not \"" + value + "\"");
                options.width = size->width;
                options.height = size->height;
                continue;
            }
            char* end = nullptr;
            double scale = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !std::isfinite(scale) || scale < 0.25 || scale > 8)
                return fail("--scale takes a number from 0.25 to 8, not \"" + value + "\"");
            options.scale = scale;
        } else {
            options.rest.push_back(arg);
        }
    }
    return options;
}

}  // namespace quorbit::platform
