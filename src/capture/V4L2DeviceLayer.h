#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "capture/DeviceLayer.h"

namespace quorbit::capture {

// Finds the V4L2 cameras: every videoN node under /dev (or the one device asked for) that
// captures video and streams, skipping metadata nodes, encoders and other memory-to-memory
// devices. Probing opens a node briefly without streaming from it.
class V4L2DeviceLayer : public DeviceLayer {
  public:
    explicit V4L2DeviceLayer(std::string onlyPath = {}, std::string deviceDir = "/dev");
    std::vector<std::shared_ptr<CaptureDevice>> devices() override;

    // Whether a node with these capabilities (QUERYCAP's capabilities and device_caps) is a
    // camera to stream from.
    static bool isCaptureDevice(std::uint32_t capabilities, std::uint32_t deviceCaps);
    // The position for the value of V4L2_CID_CAMERA_ORIENTATION; a device without the
    // control, like an external one, counts as a front camera.
    static DevicePosition positionFor(std::optional<std::int64_t> orientation);
    // The names of the videoN nodes in dir, in numeric order.
    static std::vector<std::string> deviceNodes(const std::string& dir);

    // What a node offers, as its VIDIOC_ENUM_FMT and VIDIOC_ENUM_FRAMESIZES tell it through
    // ioctl (answering as the system call does): a line per pixel format for listings
    // ("YUYV 640x480 1280x720", "MJPG 32x32-1920x1080"), and the sizes a still can be taken
    // at, once each: the discrete sizes and the largest of a range, of the formats the
    // camera converts and those libv4l2 turns into BGR24 for it (MJPEG, JPEG).
    struct Offers {
        std::vector<std::string> formats;
        std::vector<FrameSize> stillSizes;
    };
    using Ioctl = std::function<int(unsigned long request, void* argument)>;
    static Offers offersOf(const Ioctl& ioctl);

  private:
    std::optional<DeviceInfo> probe(const std::string& path, bool explicitlyAsked);

    std::string _onlyPath, _deviceDir;
};

}  // namespace quorbit::capture
