#pragma once

#include "capture/CameraSource.h"
#include "capture/DeviceLayer.h"

namespace quorbit::capture {

// The frame sources a CameraSource names: V4L2 cameras, the synthetic scene, or a still
// picture; by default the V4L2 cameras, or the synthetic scene when none is found.
class SourceDeviceLayer : public DeviceLayer {
  public:
    explicit SourceDeviceLayer(CameraSource source, std::string deviceDir = "/dev")
        : _source(std::move(source)), _deviceDir(std::move(deviceDir)) {}

    std::vector<std::shared_ptr<CaptureDevice>> devices() override;
    const CameraSource& source() const { return _source; }

  private:
    CameraSource _source;
    std::string _deviceDir;
};

}  // namespace quorbit::capture
