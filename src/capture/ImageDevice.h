#pragma once

#include <atomic>

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
// read on the first open, on the capture thread. Its stills are the picture at its own size,
// read again for each (a large picture is not kept in memory meanwhile); until the file has
// been read, the live size is the only one offered.
class ImageDevice : public GeneratedDevice {
  public:
    ImageDevice(std::string path, DevicePosition position);
    std::vector<FrameSize> stillSizes() const override;

  protected:
    platform::Result<void> prepare() override;
    void render(std::uint64_t frameIndex, std::uint8_t* bgra) override;
    platform::Result<void> renderStill(std::uint64_t frameIndex, StillFrame& still) override;

  private:
    std::string _path;
    std::atomic<int> _pictureWidth{0}, _pictureHeight{0};
    std::vector<std::uint8_t> _frame;  // BGRA, empty until read
};

}  // namespace quorbit::capture
