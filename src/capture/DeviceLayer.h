#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/CaptureDevice.h"

namespace quorbit::capture {

// Finds the frame sources: PipeWire and V4L2 cameras, the synthetic scene, a still picture,
// or fakes in tests. devices() lists them in the order the camera walks them.
class DeviceLayer {
  public:
    virtual ~DeviceLayer() = default;
    virtual std::vector<std::shared_ptr<CaptureDevice>> devices() = 0;
    // After devices(): why there is no camera to use, in words for the user (access to the
    // cameras refused, say); empty when there is nothing to say.
    virtual std::string unavailableReason() const { return {}; }
};

}  // namespace quorbit::capture
