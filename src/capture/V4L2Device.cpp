#include "capture/V4L2Device.h"

#include <fcntl.h>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstring>

#include "platform/core/Log.h"

namespace quorbit::capture {
namespace {

class SystemCalls : public V4L2Calls {
  public:
    int open(const char* path, int flags) override { return v4l2_open(path, flags); }
    int close(int fd) override { return v4l2_close(fd); }
    int ioctl(int fd, unsigned long request, void* argument) override {
        return v4l2_ioctl(fd, request, argument);
    }
    void* mmap(std::size_t length, int fd, std::int64_t offset) override {
        return v4l2_mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
    }
    int munmap(void* start, std::size_t length) override { return v4l2_munmap(start, length); }
    int poll(pollfd* fd, int timeoutMs) override { return ::poll(fd, 1, timeoutMs); }
};

}  // namespace

V4L2Calls& V4L2Calls::system() {
    static SystemCalls calls;
    return calls;
}

int V4L2Device::xioctl(unsigned long request, void* argument) {
    int result;
    do {
        result = _calls.ioctl(_fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result;
}

platform::Error V4L2Device::errnoError(const char* what, int error) {
    const char* reason;
    switch (error) {
        case EBUSY:
            reason = "busy (in use by another program)";
            break;
        case ENODEV:
        case ENXIO:
            reason = "disconnected";
            break;
        case ENOENT:
            reason = "no such device";
            break;
        case EACCES:
        case EPERM:
            reason = "permission denied";
            break;
        default:
            reason = std::strerror(error);
    }
    return platform::Error::make(CaptureError::DeviceFailed,
                                 platform::format("%s: %s", what, reason), error);
}

platform::Result<void> V4L2Device::open() {
    return openAt({kFrameWidth, kFrameHeight}, false);
}

platform::Result<StillFrame> V4L2Device::takeStill(FrameSize size, int settleFrames,
                                                   std::chrono::milliseconds timeout) {
    return readStill(size, settleFrames, timeout, [&] { return openAt(size, true); });
}

platform::Result<void> V4L2Device::openAt(FrameSize size, bool still) {
    close();
    _fd = _calls.open(_info.id.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (_fd < 0) return errnoError("cannot be opened", errno);
    readRotation();
    auto result = setFormat(size, still);
    if (result) result = startStreaming();
    if (!result) close();
    return result;
}

void V4L2Device::readRotation() {
    v4l2_ext_control control{};
    control.id = V4L2_CID_CAMERA_SENSOR_ROTATION;
    v4l2_ext_controls controls{};
    controls.which = V4L2_CTRL_WHICH_CUR_VAL;
    controls.count = 1;
    controls.controls = &control;
    if (xioctl(VIDIOC_G_EXT_CTRLS, &controls) < 0) {
        _rotation = 0;  // no such control: a sensor mounted upright
        return;
    }
    if (!isRotation(control.value)) {
        platform::Log::warn(
            platform::format("camera %s: rotation %d is not a quarter turn; 0 is used",
                             _info.id.c_str(), int(control.value)));
        _rotation = 0;
        return;
    }
    _rotation = int(control.value);
}

platform::Result<void> V4L2Device::setFormat(FrameSize size, bool still) {
    const FrameSize out = still ? size : FrameSize{kFrameWidth, kFrameHeight};
    std::optional<FrameSize> otherSize;  // what the driver gave a still instead of size
    // YUYV is what most webcams send as is; BGR24 is the fallback libv4l2 converts to (a
    // still's size may come only that way, from MJPEG).
    for (std::uint32_t wanted : {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_BGR24}) {
        v4l2_format format{};
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        format.fmt.pix.width = unsigned(size.width);
        format.fmt.pix.height = unsigned(size.height);
        format.fmt.pix.pixelformat = wanted;
        format.fmt.pix.field = V4L2_FIELD_NONE;
        if (xioctl(VIDIOC_S_FMT, &format) < 0) return errnoError("format could not be set", errno);
        const v4l2_pix_format& pix = format.fmt.pix;
        auto kind = FrameConverter::fromFourcc(pix.pixelformat);
        if (!kind) continue;
        const FrameSize given{int(pix.width), int(pix.height)};
        if (still && given != size) {
            otherSize = given;
            continue;
        }
        _converter.emplace(*kind, given.width, given.height, pix.bytesperline, out.width,
                           out.height);
        if (!_converter->valid()) {
            _converter.reset();
            continue;
        }
        if (given != out) {
            platform::Log::info(platform::format("camera %s: %ux%u frames, scaled to %dx%d",
                                                 _info.id.c_str(), pix.width, pix.height, out.width,
                                                 out.height));
        }
        // Ask for 24 frames a second where the driver lets us choose; the cap downstream
        // holds either way.
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(VIDIOC_G_PARM, &parm) == 0 &&
            (parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME)) {
            parm.parm.capture.timeperframe = {1, 24};
            xioctl(VIDIOC_S_PARM, &parm);
        }
        return {};
    }
    if (otherSize) {
        return platform::Error::make(
            CaptureError::NoStill,
            platform::format("gives %d x %d frames when asked for %d x %d", otherSize->width,
                             otherSize->height, size.width, size.height));
    }
    return platform::Error::make(CaptureError::NoUsableFormat,
                                 "offers no frame format that can be converted");
}

platform::Result<void> V4L2Device::startStreaming() {
    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (xioctl(VIDIOC_REQBUFS, &request) < 0)
        return errnoError("buffers could not be allocated", errno);
    if (request.count < 2)
        return platform::Error::make(CaptureError::TooFewBuffers, "too few capture buffers");
    for (unsigned i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (xioctl(VIDIOC_QUERYBUF, &buffer) < 0)
            return errnoError("buffer could not be queried", errno);
        void* start = _calls.mmap(buffer.length, _fd, buffer.m.offset);
        if (start == MAP_FAILED) return errnoError("buffer could not be mapped", errno);
        _buffers.push_back({start, buffer.length});
        if (xioctl(VIDIOC_QBUF, &buffer) < 0)
            return errnoError("buffer could not be queued", errno);
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(VIDIOC_STREAMON, &type) < 0)
        return errnoError("streaming could not be started", errno);
    _streaming = true;
    return {};
}

platform::Result<bool> V4L2Device::readFrame(std::chrono::milliseconds timeout,
                                             const Destination& destination) {
    if (!_streaming) return platform::Error::make(CaptureError::NotOpen, "not streaming");
    pollfd fd{_fd, POLLIN, 0};
    int ready = _calls.poll(&fd, int(timeout.count()));
    if (ready < 0) {
        if (errno == EINTR) return false;
        return errnoError("waiting for a frame failed", errno);
    }
    if (ready == 0) return false;

    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (xioctl(VIDIOC_DQBUF, &buffer) < 0) {
        int error = errno;
        if (error == EAGAIN && !(fd.revents & (POLLERR | POLLHUP | POLLNVAL))) return false;
        return errnoError("capture stopped", error == EAGAIN ? ENODEV : error);
    }
    if (buffer.index >= _buffers.size())
        return platform::Error::make(CaptureError::UnknownBuffer,
                                     "driver returned an unknown buffer");

    // A damaged or short frame counts as no frame.
    bool usable = !(buffer.flags & V4L2_BUF_FLAG_ERROR);
    if (usable) {
        const Buffer& mapped = _buffers[buffer.index];
        std::size_t size = buffer.bytesused ? buffer.bytesused : mapped.length;
        size = std::min(size, mapped.length);
        if (std::uint8_t* out = destination())
            usable = _converter->convert(static_cast<const std::uint8_t*>(mapped.start), size, out);
    }
    if (xioctl(VIDIOC_QBUF, &buffer) < 0)
        return errnoError("buffer could not be queued again", errno);
    return usable;
}

void V4L2Device::close() {
    if (_fd < 0) return;
    if (_streaming) {
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        xioctl(VIDIOC_STREAMOFF, &type);
        _streaming = false;
    }
    for (const Buffer& buffer : _buffers)
        _calls.munmap(buffer.start, buffer.length);
    _buffers.clear();
    _converter.reset();
    _calls.close(_fd);
    _fd = -1;
}

}  // namespace quorbit::capture
