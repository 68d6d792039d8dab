#include "capture/CaptureDevice.h"

#include <cstdlib>

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

}  // namespace quorbit::capture
