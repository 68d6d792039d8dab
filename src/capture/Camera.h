#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "capture/CameraSource.h"
#include "capture/DeviceLayer.h"
#include "capture/FrameMailbox.h"
#include "capture/PixelBuffer.h"
#include "platform/core/RunLoop.h"

namespace quorbit::capture {

// How a camera runs; the defaults suit the application, tests shorten them.
struct CameraOptions {
    FrameMailbox::Clock clock;                   // the frame-rate cap's clock; empty: steady clock
    platform::RunLoop* loop = nullptr;           // where frames are delivered; null: the main loop
    std::chrono::milliseconds pollInterval{50};  // how promptly the capture thread reacts
    std::chrono::milliseconds retryDelay{2000};  // before opening a failed device again
    std::chrono::milliseconds stallTimeout{3000};  // silence after which a device is reported
};

// Whether the camera delivers pictures, for the live view to tell the user.
struct CameraAvailability {
    bool available = true;
    std::string reason;  // why not, in words for the user; empty when available
    bool operator==(const CameraAvailability&) const = default;
};

// The camera: finds the front and back cameras, captures from one of them on its own
// thread and hands each frame to the delegate on the main thread, 640 x 480 BGRA, at most
// 24 a second, dropping frames that come while the delegate is busy (see FrameMailbox).
//
// Everything but the capture thread runs on the main thread. Devices are opened, read and
// closed on the capture thread only, so a slow or failing device never blocks the main
// thread; a device that fails (busy, unplugged, silent) is reported once in the log, tried
// again now and then, and delivers no frames meanwhile. The camera is then not available
// (see availability()) until frames come again.
class Camera : public CameraTypeSource {
  public:
    // The sources chosen for the process (CameraSource::current()).
    Camera();
    explicit Camera(const CameraSource& source);
    explicit Camera(std::shared_ptr<DeviceLayer> devices, CameraOptions options = {});
    ~Camera() override;
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // Starts capture on the front camera when there is one, else on the back camera.
    // Returns whether there is a camera to capture from. Run by the constructors.
    bool createAndStartCapture();
    // Switches to the other camera without stopping. With no camera on the other side,
    // nothing changes and frames keep coming from the current one.
    void swapCamera();
    // Stops delivering frames and releases the device; nothing when already stopped.
    void stopCamera();
    // Resumes capture on the current camera; nothing when running.
    void restartCamera();

    bool isRunning() const { return _running; }
    // kCameraFront or kCameraBack.
    int curCameraType() const override { return _curCameraType; }
    // Devices found at the front or back position (two at one position count twice).
    int numCameras() const { return _numCameras; }
    const std::shared_ptr<CaptureDevice>& frontCameraDevice() const { return _frontCameraDevice; }
    const std::shared_ptr<CaptureDevice>& backCameraDevice() const { return _backCameraDevice; }

    // Not owned.
    CameraDelegate* delegate() const { return _mailbox->delegate(); }
    void setDelegate(CameraDelegate* delegate) { _mailbox->setDelegate(delegate); }

    const FrameMailbox& mailbox() const { return *_mailbox; }

    // Stills at a size of their own. stillSizes(): the sizes the current camera takes them at
    // (empty without a camera). captureStill() asks the capture thread for one still at size
    // from the current camera: the live frames pause while it switches the camera to that
    // size and back, and come back by themselves afterwards when the camera runs. prepare,
    // when given, runs with the still on the capture thread before it is handed over (work
    // better kept off the main thread); done runs on the main thread with the still or why
    // there is none, unless the camera is destroyed first. While a still is being taken
    // another is refused: false, and its done is never called.
    using StillDone = std::function<void(platform::Result<StillFrame>)>;
    std::vector<FrameSize> stillSizes() const;
    bool captureStill(FrameSize size, std::function<void(StillFrame&)> prepare, StillDone done);
    bool isTakingStill() const;
    // The still being taken is not handed to its done (the capture thread still finishes it).
    void cancelStill();
    // Frames let go by after switching the size, so that exposure settles; how long each
    // frame of a still may take.
    static constexpr int kStillSettleFrames = 3;
    static constexpr std::chrono::milliseconds kStillFrameTimeout{2000};

    // Main thread. Not available while there is no camera to capture from, or the current
    // one cannot be opened or has failed (refused access, unplugged, busy, silent);
    // available again from its next frame. The handler hears of every change.
    const CameraAvailability& availability() const;
    void setAvailabilityHandler(std::function<void(const CameraAvailability&)> handler);

    // How long the camera's destruction waits for the capture thread to stop. A thread still
    // caught in a device call after that is left to finish on its own: quitting never waits
    // for a device that does not answer.
    static constexpr std::chrono::milliseconds kStopWait{400};
    // Capture threads left running that way in this process (the process should then end
    // without running static destructors under them).
    static int abandonedCaptureThreads();
    // Counts a thread of the capture layer (a device probe, say) left running the same way.
    static void noteAbandonedThread();

  private:
    struct AvailabilityState;
    // What the capture thread shares with the camera; the thread holds it, so a thread left
    // behind never touches a destroyed camera.
    struct CaptureState;
    // A still asked for and not yet delivered (main thread).
    struct StillState;

    void findDevices(DeviceLayer& layer);
    const std::shared_ptr<CaptureDevice>& currentDevice() const;
    void updateWanted();
    void startThread();
    static void captureLoop(const std::shared_ptr<CaptureState>& state, std::stop_token stop);

    CameraOptions _options;
    std::shared_ptr<FrameMailbox> _mailbox;
    std::shared_ptr<CaptureDevice> _frontCameraDevice, _backCameraDevice;
    int _numCameras = 0;
    std::string _unavailableReason;  // from the device layer, when it found no camera
    std::shared_ptr<AvailabilityState> _availability;
    std::atomic<int> _curCameraType{kCameraBack};
    bool _running = false;

    std::shared_ptr<CaptureState> _state;
    std::shared_ptr<StillState> _still;
    std::jthread _thread;
};

}  // namespace quorbit::capture
