#pragma once

#include "capture/DeviceLayer.h"
#include "capture/SourceSpec.h"

namespace quorbit::capture {

// The frame sources a SourceSpec names: V4L2 cameras, the synthetic scene, or a still
// picture; by default the V4L2 cameras, or the synthetic scene when none is found.
class SourceDeviceLayer : public DeviceLayer {
  public:
    explicit SourceDeviceLayer(SourceSpec spec, std::string deviceDir = "/dev")
        : _spec(std::move(spec)), _deviceDir(std::move(deviceDir)) {}

    std::vector<std::shared_ptr<CaptureDevice>> devices() override;
    const SourceSpec& spec() const { return _spec; }

  private:
    SourceSpec _spec;
    std::string _deviceDir;
};

}  // namespace quorbit::capture
