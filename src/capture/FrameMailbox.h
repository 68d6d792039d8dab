#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/PixelBuffer.h"
#include "platform/core/RunLoop.h"

namespace quorbit::capture {

// Carries frames from the capture thread to the delegate on the main thread through a single
// slot. A frame is taken only when the slot is free, that is when the main thread has
// finished with the previous one, and when it is due under the frame-rate cap; every other
// frame is dropped at once, so a slow consumer lowers the frame rate and never falls
// behind. The delegate therefore never holds two frames, and never gets a frame inside its
// own frame call.
//
// The cap keeps a cadence of one frame per interval (1/24 s): a frame is due from a quarter
// interval before its slot, which lets a source running at exactly the cap through despite
// jitter, and each taken frame moves the slot on by one interval. A faster source is thus
// thinned to the cap on average (30 fps becomes 24, not 15), two frames are never closer
// than half an interval, and no second holds more than 25; after a pause the cadence
// starts afresh instead of letting a burst through.
//
// Epochs: the main thread starts a new epoch when the source changes or stops; frames of
// an earlier epoch, whether still being filled or waiting for the main thread, are dropped.
class FrameMailbox : public std::enable_shared_from_this<FrameMailbox> {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Clock = std::function<TimePoint()>;
    static constexpr std::chrono::nanoseconds kMinFrameInterval{1'000'000'000 / 24};

    static std::shared_ptr<FrameMailbox> create(platform::RunLoop& loop, Clock clock,
                                                int width = 640, int height = 480);

    // Main thread.
    CameraDelegate* delegate() const { return _delegate; }
    void setDelegate(CameraDelegate* delegate) { _delegate = delegate; }
    // Drops a frame not yet delivered and every frame of the epoch that ends; returns the
    // new epoch.
    std::uint64_t advanceEpoch();

    // Capture thread: reserve() answers the buffer to fill with a frame of the given epoch,
    // or null when the frame is to be dropped. A reserved buffer is then either published
    // (handed to the main thread, as a frame of that rotation) or cancelled.
    std::uint8_t* reserve(std::uint64_t epoch);
    void publish(int rotation = 0);
    void cancel();

    std::uint64_t delivered() const;
    std::uint64_t dropped() const;

    FrameMailbox(platform::RunLoop& loop, Clock clock, int width, int height);

  private:
    enum class Slot { Free, Filling, Pending, Delivering };

    void deliver();

    platform::RunLoop& _loop;
    Clock _clock;
    const int _width, _height;
    CameraDelegate* _delegate = nullptr;

    mutable std::mutex _mutex;
    Slot _slot = Slot::Free;
    std::uint64_t _epoch = 0, _fillEpoch = 0;
    int _rotation = 0;      // of the frame in the slot
    TimePoint _captured{};  // when the frame in the slot was published
    bool _started = false;  // whether _nextDue holds a slot yet
    TimePoint _nextDue{};   // the cadence: when the next frame is due
    TimePoint _earliest{};  // no frame before this
    std::uint64_t _delivered = 0, _dropped = 0;
    std::vector<std::uint8_t> _buffer;
};

}  // namespace quorbit::capture
