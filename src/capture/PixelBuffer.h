#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace quorbit::capture {

// One camera frame: width x height pixels, 4 bytes each in B, G, R, A order, rows tightly
// packed (bytesPerRow == 4 * width), as the sensor delivered it. rotation() is the turn, in
// degrees clockwise as seen on the screen (0, 90, 180 or 270), that shows the picture upright:
// 0 for a webcam's upright landscape frames, 90 for a phone sensor mounted sideways. A
// consumer locks the base address before reading and unlocks it when done; the buffer is
// valid only during the delegate call that hands it over.
class PixelBuffer {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    PixelBuffer(std::uint8_t* data, int width, int height, int rotation = 0,
                TimePoint captured = {})
        : _data(data), _width(width), _height(height), _rotation(rotation), _captured(captured) {}

    void lockBaseAddress(unsigned flags = 0) {
        (void)flags;
        ++_locks;
    }
    void unlockBaseAddress(unsigned flags = 0) {
        (void)flags;
        if (_locks > 0) --_locks;
    }
    bool isLocked() const { return _locks > 0; }

    int width() const { return _width; }
    int height() const { return _height; }
    int rotation() const { return _rotation; }
    // When the camera delivered the frame (the capture thread's clock); a recording keeps
    // the frames' times from it.
    TimePoint captured() const { return _captured; }
    std::size_t bytesPerRow() const { return std::size_t(_width) * 4; }
    // The pixels; null unless the base address is locked.
    std::uint8_t* baseAddress() const { return _locks > 0 ? _data : nullptr; }

  private:
    std::uint8_t* _data;
    int _width, _height, _rotation;
    TimePoint _captured;
    int _locks = 0;
};

// Receives the camera's frames on the main thread.
class CameraDelegate {
  public:
    virtual ~CameraDelegate() = default;
    virtual void processNewCameraFrame(PixelBuffer& frame) = 0;
    virtual void cameraHasConnected() = 0;
};

// 0 = back camera, 1 = front camera.
enum CameraType : int { kCameraBack = 0, kCameraFront = 1 };

// What a frame consumer may ask of the camera that delivers the frames: which camera it is.
class CameraTypeSource {
  public:
    virtual ~CameraTypeSource() = default;
    virtual int curCameraType() const = 0;
};

// Takes camera frames in place of the live view while it is on screen (the filter picker).
class FrameConsumer {
  public:
    virtual ~FrameConsumer() = default;
    virtual void cameraUpdated(PixelBuffer& frame) = 0;
};

}  // namespace quorbit::capture
