#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/GeneratedDevice.h"
#include "platform/gfx/Image.h"

namespace quorbit::capture {

// A picture as a 640 x 480 BGRA camera frame: taken as it stands when it is 640 x 480,
// otherwise scaled to cover the frame and cropped about its centre. Empty for an empty
// picture.
std::vector<std::uint8_t> cameraFrameFromPicture(const platform::Image& picture);

// A still picture (PNG or JPEG) delivered as 640 x 480 frames: scaled to cover the frame
// and cropped about its centre. The file is read on the first open, on the capture thread.
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
