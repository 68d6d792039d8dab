#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/GeneratedDevice.h"
#include "platform/gfx/Image.h"

namespace quorbit::capture {

// A picture as a BGRA camera frame of width x height (640 x 480 unless given): taken as it
// stands when it has that size, otherwise scaled to cover the frame and cropped about its
// centre. Empty for an empty picture.
std::vector<std::uint8_t> cameraFrameFromPicture(const platform::Image& picture,
                                                 int width = CaptureDevice::kFrameWidth,
                                                 int height = CaptureDevice::kFrameHeight);

// A still picture (PNG or JPEG) delivered as 640 x 480 frames: scaled to cover the frame
// and cropped about its centre. The picture is upright: its frames have rotation 0. The file is
// read on the first open, on the capture thread.
class ImageDevice : public GeneratedDevice {
  public:
    ImageDevice(std::string path, DevicePosition position);

  protected:
    platform::Result<void> prepare() override;
    void render(std::uint64_t frameIndex, std::uint8_t* bgra) override;

  private:
    std::string _path;
    std::vector<std::uint8_t> _frame;  // BGRA, empty until read
};

}  // namespace quorbit::capture
