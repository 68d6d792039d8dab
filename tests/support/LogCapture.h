#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/Log.h"

namespace quorbit::testing {

// Collects the log's lines while alive, from whichever thread writes them, in place of the
// usual sink, which it puts back when it goes (also when an assertion ends the test early).
class LogCapture {
  public:
    LogCapture() {
        _previous = platform::Log::setSink([this](platform::Log::Level, const std::string& line) {
            std::lock_guard lock(_mutex);
            _lines.push_back(line);
        });
    }
    ~LogCapture() { platform::Log::setSink(_previous); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    // How many lines hold text.
    int count(const std::string& text) const {
        std::lock_guard lock(_mutex);
        auto holds = [&](const std::string& line) { return line.find(text) != std::string::npos; };
        return int(std::ranges::count_if(_lines, holds));
    }
    bool contains(const std::string& text) const { return count(text) > 0; }
    // The lines so far, for a test whose logging threads are done.
    const std::vector<std::string>& lines() const { return _lines; }

  private:
    mutable std::mutex _mutex;
    std::vector<std::string> _lines;
    platform::Log::Sink _previous;
};

}  // namespace quorbit::testing
