#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "capture/CaptureDevice.h"
#include "capture/FrameConverter.h"

namespace quorbit::capture {

// A V4L2 video-capture device streamed through libv4l2 with memory-mapped buffers. It asks
// for 640 x 480 YUYV and, when the driver has no YUYV, for BGR24 (which libv4l2 makes from
// MJPEG and the like); each frame is converted to BGRA on the capture thread.
class V4L2Device : public CaptureDevice {
  public:
    explicit V4L2Device(DeviceInfo info) : _info(std::move(info)) {}
    ~V4L2Device() override { close(); }
    V4L2Device(const V4L2Device&) = delete;
    V4L2Device& operator=(const V4L2Device&) = delete;

    const DeviceInfo& info() const override { return _info; }
    platform::Result<void> open() override;
    platform::Result<bool> readFrame(std::chrono::milliseconds timeout,
                                     const Destination& destination) override;
    void close() override;

    // A readable error for a failed call; errno values a user meets get plain words.
    static platform::Error errnoError(const char* what, int error);

  private:
    struct Buffer {
        void* start;
        std::size_t length;
    };

    platform::Result<void> setFormat();
    platform::Result<void> startStreaming();

    DeviceInfo _info;
    int _fd = -1;
    bool _streaming = false;
    std::vector<Buffer> _buffers;
    std::optional<FrameConverter> _converter;
};

}  // namespace quorbit::capture
