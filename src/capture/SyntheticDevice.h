#pragma once

#include <optional>

#include <memory>

#include "capture/GeneratedDevice.h"
#include "capture/SyntheticScene.h"

namespace quorbit::capture {

// The synthetic test scene as a camera at the front or back position. The scene is an upright
// landscape picture; it is delivered as from a sensor of the given rotation (90 by default,
// a phone's sideways sensor), so at rotation 0 it is shown as it is drawn.
class SyntheticDevice : public GeneratedDevice {
  public:
    // The sizes its stills are offered at: kStillSizes up to largest, and largest itself
    // when given (the test scene scales to any size).
    explicit SyntheticDevice(DevicePosition position, int rotation = 90,
                             std::optional<FrameSize> largest = std::nullopt);

    static DeviceInfo describe(DevicePosition position, int rotation = 90,
                               std::optional<FrameSize> largest = std::nullopt);
    static constexpr FrameSize kStillSizes[] = {{640, 480}, {1280, 960}, {1920, 1440}};

  protected:
    platform::Result<void> prepare() override;
    void render(std::uint64_t frameIndex, std::uint8_t* bgra) override;
    platform::Result<void> renderStill(std::uint64_t frameIndex, StillFrame& still) override;

  private:
    std::unique_ptr<SyntheticScene> _scene;  // made on first open, on the capture thread
};

}  // namespace quorbit::capture
