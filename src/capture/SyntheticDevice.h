#pragma once

#include <memory>

#include "capture/GeneratedDevice.h"
#include "capture/SyntheticScene.h"

namespace quorbit::capture {

// The synthetic test scene as a camera at the front or back position.
class SyntheticDevice : public GeneratedDevice {
  public:
    explicit SyntheticDevice(DevicePosition position);

    static DeviceInfo describe(DevicePosition position);

  protected:
    platform::Result<void> prepare() override;
    void render(std::uint64_t frameIndex, std::uint8_t* bgra) override;

  private:
    std::unique_ptr<SyntheticScene> _scene;  // made on first open, on the capture thread
};

}  // namespace quorbit::capture
