#pragma once

#include <poll.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "capture/CaptureDevice.h"
#include "capture/FrameConverter.h"

namespace quorbit::capture {

// The calls a V4L2Device makes into the driver. The system's go through libv4l2; tests put
// a driver of their own behind them. Each answers as the system call does (-1 or MAP_FAILED
// with errno set on failure).
class V4L2Calls {
  public:
    virtual ~V4L2Calls() = default;
    virtual int open(const char* path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    virtual void* mmap(std::size_t length, int fd, std::int64_t offset) = 0;
    virtual int munmap(void* start, std::size_t length) = 0;
    virtual int poll(pollfd* fd, int timeoutMs) = 0;

    // The driver through libv4l2.
    static V4L2Calls& system();
};

// A V4L2 video-capture device streamed through libv4l2 with memory-mapped buffers. It asks
// for 640 x 480 YUYV and, when the driver has no YUYV, for BGR24 (which libv4l2 makes from
// MJPEG and the like); each frame is converted to BGRA on the capture thread. A still is
// asked for the same way at its own size, which the driver must give as it is. Its rotation
// is the driver's V4L2_CID_CAMERA_SENSOR_ROTATION, read on opening; 0 where the driver has no
// such control (USB webcams).
class V4L2Device : public CaptureDevice {
  public:
    static constexpr unsigned kBufferCount = 4;

    explicit V4L2Device(DeviceInfo info, V4L2Calls& calls = V4L2Calls::system())
        : _info(std::move(info)), _calls(calls), _rotation(_info.rotation) {}
    ~V4L2Device() override { close(); }
    V4L2Device(const V4L2Device&) = delete;
    V4L2Device& operator=(const V4L2Device&) = delete;

    const DeviceInfo& info() const override { return _info; }
    int rotation() const override { return _rotation; }
    platform::Result<void> open() override;
    platform::Result<bool> readFrame(std::chrono::milliseconds timeout,
                                     const Destination& destination) override;
    void close() override;
    // Opens the device at size (a driver that gives frames of another size fails it with
    // CaptureError::NoStill) and converts one frame at that size.
    platform::Result<StillFrame> takeStill(FrameSize size, int settleFrames,
                                           std::chrono::milliseconds timeout) override;

    // A readable error for a failed call (CaptureError::DeviceFailed, with the errno
    // underneath); errno values a user meets get plain words.
    static platform::Error errnoError(const char* what, int error);

  private:
    struct Buffer {
        void* start;
        std::size_t length;
    };

    // Opens the device streaming frames of size: live frames, when not still, are scaled to
    // the live size from whatever size the driver gives; a still's come at size or not at all.
    platform::Result<void> openAt(FrameSize size, bool still);
    void readRotation();
    platform::Result<void> setFormat(FrameSize size, bool still);
    platform::Result<void> startStreaming();
    int xioctl(unsigned long request, void* argument);

    DeviceInfo _info;
    V4L2Calls& _calls;
    std::atomic<int> _rotation;
    int _fd = -1;
    bool _streaming = false;
    std::vector<Buffer> _buffers;
    std::optional<FrameConverter> _converter;
};

}  // namespace quorbit::capture
