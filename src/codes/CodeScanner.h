#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "capture/PixelBuffer.h"
#include "codes/CodeReader.h"
#include "platform/core/RunLoop.h"

namespace quorbit::codes {

// Looks for codes in camera frames on a worker thread of its own, so that the frame path
// never waits for a reading. offer() takes a copy of a frame only when an attempt is due (at
// most one each kMinInterval) and none is running; any other frame is passed over at once.
// Each attempt's outcome, a code or none, is handed to the handler on the loop's thread;
// none arrives after the scanner is gone.
class CodeScanner {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Clock = std::function<TimePoint()>;
    using Handler = std::function<void(const std::optional<FoundCode>&)>;
    // Five attempts a second at most.
    static constexpr std::chrono::milliseconds kMinInterval{200};

    CodeScanner(platform::RunLoop& loop, Handler handler, Clock clock = {});
    ~CodeScanner();
    CodeScanner(const CodeScanner&) = delete;
    CodeScanner& operator=(const CodeScanner&) = delete;

    // Loop thread. frame must be locked. Answers whether an attempt started on it.
    bool offer(const capture::PixelBuffer& frame);
    // Whether an attempt is running (its outcome not yet handed over).
    bool busy() const;
    std::uint64_t attempts() const { return _attempts; }

  private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable wake;
        bool stop = false;
        bool pending = false;  // a frame waits in bgra for the worker
        bool busy = false;     // from offer() until the outcome is handed over
        std::vector<std::uint8_t> bgra;
        int width = 0, height = 0, rotation = 0;
        int turn = 0;  // a further quarter turn on every second attempt
        Handler handler;
    };
    static void work(std::shared_ptr<Shared> shared, platform::RunLoop* loop);

    platform::RunLoop& _loop;
    Clock _clock;
    std::shared_ptr<Shared> _shared;
    std::optional<TimePoint> _lastStart;
    std::uint64_t _attempts = 0;
    std::thread _thread;
};

}  // namespace quorbit::codes
