#include "capture/CaptureDevice.h"

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

}  // namespace quorbit::capture
