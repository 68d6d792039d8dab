#include "capture/CaptureDevice.h"

#include <cstdlib>
#include <new>

#include "platform/core/Log.h"

namespace quorbit::capture {

const char* positionName(DevicePosition position) {
    switch (position) {
        case DevicePosition::Back:
            return "back";
        case DevicePosition::Front:
            return "front";
        case DevicePosition::Unspecified:
            break;
    }
    return "unspecified";
}

bool isRotation(long long degrees) {
    return degrees == 0 || degrees == 90 || degrees == 180 || degrees == 270;
}

std::optional<int> parseRotation(const std::string& text) {
    for (int degrees : {0, 90, 180, 270}) {
        if (text == std::to_string(degrees)) return degrees;
    }
    return std::nullopt;
}

platform::Result<std::optional<int>> rotationOverride() {
    const char* value = std::getenv("QUORBIT_CAMERA_ROTATION");
    if (!value || !*value) return std::optional<int>();
    if (auto degrees = parseRotation(value)) return degrees;
    return platform::Error::make(
        CaptureError::BadSource,
        platform::format("QUORBIT_CAMERA_ROTATION takes 0, 90, 180 or 270, not \"%s\"", value));
}

std::optional<FrameSize> largestSize(const std::vector<FrameSize>& sizes) {
    std::optional<FrameSize> largest;
    for (const FrameSize& size : sizes) {
        if (size.width <= 0 || size.height <= 0) continue;
        if (!largest || size.pixels() > largest->pixels() ||
            (size.pixels() == largest->pixels() && size.width > largest->width))
            largest = size;
    }
    return largest;
}

platform::Result<StillFrame> makeStill(FrameSize size, int rotation) {
    if (size.width <= 0 || size.height <= 0) {
        return platform::Error::make(
            CaptureError::NoStill,
            platform::format("%d x %d is no size for a still", size.width, size.height));
    }
    StillFrame still{size.width, size.height, rotation, {}};
    try {
        still.bgra.resize(std::size_t(size.pixels()) * 4);
    } catch (const std::bad_alloc&) {
        return platform::Error::make(CaptureError::NoStill,
                                     "there is not enough memory for the still");
    }
    return still;
}

std::vector<FrameSize> CaptureDevice::stillSizes() const {
    const auto& sizes = info().stillSizes;
    if (sizes.empty()) return {{kFrameWidth, kFrameHeight}};
    return sizes;
}

platform::Result<StillFrame> CaptureDevice::takeStill(FrameSize size, int settleFrames,
                                                      std::chrono::milliseconds timeout) {
    if (size != FrameSize{kFrameWidth, kFrameHeight}) {
        return platform::Error::make(CaptureError::NoStill,
                                     platform::format("this camera takes stills at %d x %d only",
                                                      kFrameWidth, kFrameHeight));
    }
    return readStill(size, settleFrames, timeout, [this] { return open(); });
}

platform::Result<StillFrame> CaptureDevice::readStill(
    FrameSize size, int settleFrames, std::chrono::milliseconds timeout,
    const std::function<platform::Result<void>()>& openAtSize) {
    auto made = makeStill(size, rotation());
    if (!made) return made.error();
    StillFrame still = std::move(made).value();
    if (auto opened = openAtSize(); !opened) {
        close();
        return opened.error();
    }
    // Frames that do not come in time, or come damaged, are not counted: a few more are
    // waited for before giving up, and a slow camera (a frame a second) is given the time of
    // a few frames' timeouts beyond the settling ones.
    int settled = 0, tries = 0;
    platform::Result<StillFrame> result =
        platform::Error::make(CaptureError::StillTimedOut, "no frame came from the camera");
    const auto patience = std::chrono::steady_clock::now() + timeout * (settleFrames + 3);
    while (tries++ < settleFrames + 8 || std::chrono::steady_clock::now() < patience) {
        auto frame = readFrame(timeout, [&] { return still.bgra.data(); });
        if (!frame) {
            result = frame.error();
            break;
        }
        if (!frame.value()) continue;
        if (settled++ < settleFrames) continue;
        still.rotation = rotation();
        result = std::move(still);
        break;
    }
    close();
    return result;
}

}  // namespace quorbit::capture
