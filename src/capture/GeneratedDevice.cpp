#include "capture/GeneratedDevice.h"

#include <algorithm>
#include <thread>

#include "platform/core/Log.h"

namespace quorbit::capture {

GeneratedDevice::GeneratedDevice(DeviceInfo info, std::chrono::nanoseconds interval)
    : _info(std::move(info)), _interval(interval) {}

platform::Result<void> GeneratedDevice::open() {
    auto prepared = prepare();
    if (!prepared) return prepared;
    _open = true;
    _next = std::chrono::steady_clock::now();
    return {};
}

platform::Result<bool> GeneratedDevice::readFrame(std::chrono::milliseconds timeout,
                                                  const Destination& destination) {
    if (!_open) return platform::Error::make(CaptureError::NotOpen, "not open");
    auto now = std::chrono::steady_clock::now();
    if (_next > now + timeout) {
        std::this_thread::sleep_for(timeout);
        return false;
    }
    std::this_thread::sleep_until(_next);
    // Keep the cadence, but after a stall start again from now instead of catching up.
    _next = std::max(_next, now) + _interval;
    if (std::uint8_t* out = destination()) render(_frameIndex, out);
    ++_frameIndex;
    return true;
}

platform::Result<StillFrame> GeneratedDevice::takeStill(FrameSize size, int,
                                                        std::chrono::milliseconds) {
    auto sizes = stillSizes();
    if (std::find(sizes.begin(), sizes.end(), size) == sizes.end()) {
        return platform::Error::make(
            CaptureError::NoStill,
            platform::format("%d x %d is not a size this camera offers", size.width, size.height));
    }
    if (auto prepared = prepare(); !prepared) return prepared.error();
    auto made = makeStill(size, rotation());
    if (!made) return made.error();
    StillFrame still = std::move(made).value();
    if (auto drawn = renderStill(_frameIndex > 0 ? _frameIndex - 1 : 0, still); !drawn)
        return drawn.error();
    return still;
}

}  // namespace quorbit::capture
