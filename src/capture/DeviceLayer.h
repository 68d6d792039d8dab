#pragma once

#include <memory>
#include <vector>

#include "capture/CaptureDevice.h"

namespace quorbit::capture {

// Finds the frame sources: V4L2 cameras, the synthetic scene, a still picture, or fakes in
// tests. devices() lists them in the order the camera walks them.
class DeviceLayer {
  public:
    virtual ~DeviceLayer() = default;
    virtual std::vector<std::shared_ptr<CaptureDevice>> devices() = 0;
};

}  // namespace quorbit::capture
