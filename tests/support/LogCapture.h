#pragma once

#include <string>
#include <vector>

#include "platform/core/Log.h"

namespace quorbit::testing {

// Collects the lines logged while it lives, in place of the usual sink, which it puts back
// when it goes (also when an assertion leaves the test early).
class LogCapture {
  public:
    LogCapture()
        : _previous(platform::Log::setSink(
              [this](platform::Log::Level, const std::string& line) { lines.push_back(line); })) {}
    ~LogCapture() { platform::Log::setSink(std::move(_previous)); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines;

  private:
    platform::Log::Sink _previous;
};

}  // namespace quorbit::testing
