#pragma once

#include <functional>
#include <string>

namespace quorbit::json {

// Where the JSON layer's few diagnostic lines go (the failures of the string and value
// conveniences). Lines go to standard error until a sink is installed; the application
// points the sink at its debug log.
class JsonLog {
  public:
    using Sink = std::function<void(const std::string& line)>;

    // Replaces the sink and returns the previous one; an empty sink restores standard error.
    static Sink setSink(Sink sink);
    static void write(const std::string& line);
};

}  // namespace quorbit::json
