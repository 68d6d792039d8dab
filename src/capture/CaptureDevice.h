#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Error.h"

namespace quorbit::capture {

// Why a frame source failed; the codes of the "quorbit.capture" domain. Where a system call
// failed, its errno is the underlying error (Error::systemError()).
enum class CaptureError : long {
    BadSource = 1,       // a camera source named on the command line cannot be parsed
    NotOpen = 2,         // frames were asked of a source that is not open (or not streaming)
    EmptyPicture = 3,    // the picture a source shows is empty
    DeviceFailed = 4,    // a call into the device failed: busy, gone, no permission, ...
    NoUsableFormat = 5,  // the device offers no frame format that can be converted
    TooFewBuffers = 6,   // the driver gave fewer capture buffers than streaming needs
    UnknownBuffer = 7,   // the driver handed back a buffer that was never queued
    NoStill = 8,         // no still can be taken at the size asked for (not offered, no memory)
    StillTimedOut = 9,   // the camera opened at the still's size but sent no usable frame in time
};
constexpr const char* errorDomain(CaptureError) {
    return "quorbit.capture";
}

// Where a camera faces. The values are the platform's: 1 = back, 2 = front; anything else
// is not a camera the application switches between.
enum class DevicePosition : int { Unspecified = 0, Back = 1, Front = 2 };

const char* positionName(DevicePosition position);

// A frame's size in pixels as the sensor gives it (not turned upright).
struct FrameSize {
    int width = 0;
    int height = 0;
    std::int64_t pixels() const { return std::int64_t(width) * height; }
    bool operator==(const FrameSize&) const = default;
};

// The largest of sizes by pixel count (the wider of two alike); none for an empty list.
std::optional<FrameSize> largestSize(const std::vector<FrameSize>& sizes);

// One still frame taken at a size of its own: width x height pixels, B, G, R, A, rows tightly
// packed, as the sensor gave it; rotation as PixelBuffer::rotation() tells it.
struct StillFrame {
    int width = 0;
    int height = 0;
    int rotation = 0;
    std::vector<std::uint8_t> bgra;
};

// A still of size (not empty) and rotation with room for its pixels; an error (NoStill) when
// the size is empty or there is not enough memory.
platform::Result<StillFrame> makeStill(FrameSize size, int rotation);

// What discovery tells about a frame source.
struct DeviceInfo {
    std::string id;    // "/dev/video0", "synthetic:front", "image:/path/photo.jpg"
    std::string name;  // readable name
    DevicePosition position = DevicePosition::Unspecified;
    std::vector<std::string> formats;  // what the source offers, for listings
    // The sensor's mounting as discovery tells it: the clockwise turn, in degrees (0, 90, 180,
    // 270), that shows its frames upright.
    int rotation = 0;
    // The frame sizes a still can be taken at, in the formats the frame converter reads; empty
    // where the source takes stills at the live size only.
    std::vector<FrameSize> stillSizes{};
};

// A rotation as written by a user or a device ("0", "90", "180", "270"); none for anything else.
std::optional<int> parseRotation(const std::string& text);
// Whether degrees is one of 0, 90, 180, 270.
bool isRotation(long long degrees);

// QUORBIT_CAMERA_ROTATION: the rotation that replaces every camera's own. None when unset or
// empty; an error (saying what the variable takes) for any other value than a rotation.
platform::Result<std::optional<int>> rotationOverride();

// One frame source. open(), readFrame() and close() are called on the capture thread only,
// never on the main thread; info() on any thread.
class CaptureDevice {
  public:
    static constexpr int kFrameWidth = 640;
    static constexpr int kFrameHeight = 480;

    // Hands out the buffer for the next frame (640 x 480 BGRA, tightly packed), or null
    // when the frame is not wanted.
    using Destination = std::function<std::uint8_t*()>;

    virtual ~CaptureDevice() = default;
    virtual const DeviceInfo& info() const = 0;
    // The rotation of the frames it delivers (see DeviceInfo::rotation). A device that learns
    // it on opening tells it from then on; any thread.
    virtual int rotation() const { return info().rotation; }

    // Starts producing frames.
    virtual platform::Result<void> open() = 0;
    // Waits at most timeout for the next frame. When one came, asks destination for a
    // buffer and, when it gets one, writes the frame into it. Answers whether a usable frame
    // came: false when none came in time or it was damaged, and then a buffer handed out
    // holds nothing of use. An error means the source failed (busy, disconnected) and has to
    // be opened again.
    virtual platform::Result<bool> readFrame(std::chrono::milliseconds timeout,
                                             const Destination& destination) = 0;
    // Stops producing frames and lets go of the source. Harmless when not open.
    virtual void close() = 0;

    // The sizes a still can be taken at: DeviceInfo::stillSizes, or the live size where it
    // names none. Any thread.
    virtual std::vector<FrameSize> stillSizes() const;
    // Capture thread, on a closed device: opens the source at size (one of stillSizes()),
    // lets settleFrames frames go by so that exposure settles after the switch, takes the next
    // frame into a buffer of its own and closes the source again, whatever happened. Each
    // frame may take up to timeout. The default opens the source as for live frames, so it
    // takes stills at the live size only.
    virtual platform::Result<StillFrame> takeStill(FrameSize size, int settleFrames,
                                                   std::chrono::milliseconds timeout);

  protected:
    // What takeStill() does on a source that openAtSize opens streaming frames of size
    // through readFrame(): opens it, lets settleFrames usable frames go by, reads the next
    // into a still of its own and closes the source again, whatever happened.
    platform::Result<StillFrame> readStill(
        FrameSize size, int settleFrames, std::chrono::milliseconds timeout,
        const std::function<platform::Result<void>()>& openAtSize);
};

}  // namespace quorbit::capture
