#include "platform/host/HostOptions.h"

#include <cmath>
#include <cstdlib>
#include <set>

namespace quorbit::platform {

Result<HostOptions> HostOptions::parse(const std::vector<std::string>& args) {
    HostOptions options;
    auto fail = [](const std::string& message) {
        return Error::make(HostError::BadOption, message);
    };
    std::set<std::string> seen;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool ours = arg == "--headless" || arg == "--script" || arg == "--scale";
        if (ours && !seen.insert(arg).second) return fail(arg + " is given more than once");
        if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--script" || arg == "--scale") {
            if (i + 1 >= args.size()) return fail(arg + " needs a value");
            const std::string& value = args[++i];
            if (arg == "--script") {
                if (value.empty()) return fail("--script needs a file name");
                options.scriptPath = value;
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
