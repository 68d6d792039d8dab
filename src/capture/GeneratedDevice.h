#pragma once

#include <chrono>
#include <cstdint>

#include "capture/CaptureDevice.h"

namespace quorbit::capture {

// A source whose frames are computed rather than captured: it paces them at a fixed rate
// (24 per second) on the steady clock and asks the subclass to draw each.
class GeneratedDevice : public CaptureDevice {
  public:
    explicit GeneratedDevice(DeviceInfo info, std::chrono::nanoseconds interval =
                                                  std::chrono::nanoseconds(1'000'000'000 / 24));

    const DeviceInfo& info() const override { return _info; }
    platform::Result<void> open() override;
    platform::Result<bool> readFrame(std::chrono::milliseconds timeout,
                                     const Destination& destination) override;
    void close() override { _open = false; }
    // A still of the frame last delivered (the first frame before any), drawn at size: the
    // picture the live view shows, at the size asked for. Nothing to settle.
    platform::Result<StillFrame> takeStill(FrameSize size, int settleFrames,
                                           std::chrono::milliseconds timeout) override;

  protected:
    // Makes what the frames need (on the capture thread); called by every open().
    virtual platform::Result<void> prepare() = 0;
    virtual void render(std::uint64_t frameIndex, std::uint8_t* bgra) = 0;
    // Draws frame frameIndex at size, one of stillSizes(), into still (made at that size).
    virtual platform::Result<void> renderStill(std::uint64_t frameIndex, StillFrame& still) = 0;

  private:
    DeviceInfo _info;
    std::chrono::nanoseconds _interval;
    std::chrono::steady_clock::time_point _next{};
    std::uint64_t _frameIndex = 0;
    bool _open = false;
};

}  // namespace quorbit::capture
