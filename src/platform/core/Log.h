#pragma once

#include <functional>
#include <string>

namespace quorbit::platform {

// Process-wide log. Lines go to standard error unless a sink is installed (tests install
// one to read what was logged). The threshold comes from QUORBIT_LOG (debug, info, warn,
// error); the default is info.
class Log {
  public:
    enum class Level { Debug = 0, Info = 1, Warn = 2, Error = 3 };
    using Sink = std::function<void(Level, const std::string&)>;

    static void debug(const std::string& message) { write(Level::Debug, message); }
    static void info(const std::string& message) { write(Level::Info, message); }
    static void warn(const std::string& message) { write(Level::Warn, message); }
    static void error(const std::string& message) { write(Level::Error, message); }
    static void write(Level level, const std::string& message);

    static bool enabled(Level level);
    static void setThreshold(Level level);

    // Replaces the sink and returns the previous one; an empty sink restores stderr.
    static Sink setSink(Sink sink);
};

// printf-style formatting into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quorbit::platform
