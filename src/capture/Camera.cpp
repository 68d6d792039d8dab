#include "capture/Camera.h"

#include <set>
#include <string>

#include "capture/SourceDeviceLayer.h"
#include "platform/core/Log.h"
#include "platform/core/Translate.h"

namespace quorbit::capture {

// Availability as the capture thread last reported it, and as the main thread has taken it.
struct Camera::AvailabilityState : std::enable_shared_from_this<AvailabilityState> {
    platform::RunLoop& loop;
    std::mutex mutex;
    CameraAvailability reported;                             // guarded by mutex
    CameraAvailability current;                              // main thread
    std::function<void(const CameraAvailability&)> handler;  // main thread

    explicit AvailabilityState(platform::RunLoop& loop) : loop(loop) {}

    // Any thread: the main thread takes the change at its next turn.
    void report(CameraAvailability availability) {
        {
            std::lock_guard lock(mutex);
            if (reported == availability) return;
            reported = std::move(availability);
        }
        loop.post([self = shared_from_this()] { self->take(); });
    }
    void take() {
        CameraAvailability now;
        {
            std::lock_guard lock(mutex);
            now = reported;
        }
        if (now == current) return;
        current = std::move(now);
        if (handler) handler(current);
    }
};

struct Camera::StillState {
    StillDone done;           // main thread; empty when no still is being taken
    std::uint64_t asked = 0;  // main thread: the number of the still asked for last
};

struct Camera::CaptureState {
    struct StillRequest {
        std::shared_ptr<CaptureDevice> device;
        FrameSize size;
        std::function<void(StillFrame&)> prepare;
        std::shared_ptr<StillState> still;
        std::uint64_t number = 0;  // StillState::asked when it was asked for
    };
    struct Wanted {
        std::shared_ptr<CaptureDevice> device;  // null: capture nothing
        std::uint64_t epoch = 0;
    };

    CameraOptions options;
    std::optional<int> rotation;  // QUORBIT_CAMERA_ROTATION, replacing every device's own
    std::shared_ptr<FrameMailbox> mailbox;
    std::shared_ptr<AvailabilityState> availability;

    std::mutex mutex;
    std::condition_variable_any wake;
    Wanted want;                               // guarded by mutex
    std::optional<StillRequest> stillRequest;  // guarded by mutex
    std::uint64_t wantVersion = 0;             // guarded by mutex
    bool finished = false;                     // guarded by mutex: the capture thread has returned
    std::condition_variable finishedChanged;

    void waitForChange(std::stop_token& stop, std::uint64_t version,
                       std::optional<std::chrono::milliseconds> timeout) {
        std::unique_lock lock(mutex);
        auto changed = [&] { return wantVersion != version; };
        if (timeout)
            wake.wait_for(lock, stop, *timeout, changed);
        else
            wake.wait(lock, stop, changed);
    }
};

namespace {
std::atomic<int> gAbandonedThreads{0};

// What the live view says of a camera that delivered pictures and then failed: the usual
// causes in the user's words, anything else with the device's own description. Null: the
// camera went silent.
std::string problemForUser(const platform::Error* error) {
    if (!error) return platform::tr("The camera delivers no pictures.");
    switch (error->systemError()) {
        case EBUSY:
            return platform::tr("The camera is in use by another program.");
        case ENODEV:
        case ENXIO:
        case ENOENT:
            return platform::tr("The camera was disconnected.");
        case EACCES:
        case EPERM:
            return platform::tr("Access to the camera was refused.");
        default:
            break;
    }
    return platform::format(platform::tr("The camera does not work: %s.").c_str(),
                            error->localizedDescription().c_str());
}
}  // namespace

int Camera::abandonedCaptureThreads() {
    return gAbandonedThreads;
}

void Camera::noteAbandonedThread() {
    ++gAbandonedThreads;
}

Camera::Camera() : Camera(CameraSource::current()) {}

Camera::Camera(const CameraSource& source) : Camera(std::make_shared<SourceDeviceLayer>(source)) {}

Camera::Camera(std::shared_ptr<DeviceLayer> devices, CameraOptions options)
    : _options(std::move(options)) {
    if (!_options.clock) _options.clock = [] { return std::chrono::steady_clock::now(); };
    platform::RunLoop& loop = _options.loop ? *_options.loop : platform::RunLoop::main();
    _mailbox = FrameMailbox::create(loop, _options.clock, CaptureDevice::kFrameWidth,
                                    CaptureDevice::kFrameHeight);
    _availability = std::make_shared<AvailabilityState>(loop);
    _state = std::make_shared<CaptureState>();
    _state->options = _options;
    _state->mailbox = _mailbox;
    _state->availability = _availability;
    _still = std::make_shared<StillState>();
    if (auto rotation = rotationOverride(); rotation)
        _state->rotation = rotation.value();
    else
        platform::Log::error(rotation.error().localizedDescription() +
                             "; the cameras' own rotations are used");
    if (devices) findDevices(*devices);
    createAndStartCapture();
}

Camera::~Camera() {
    _running = false;
    if (_thread.joinable()) {
        _thread.request_stop();
        bool finished;
        {
            std::unique_lock lock(_state->mutex);
            finished = _state->finishedChanged.wait_for(lock, kStopWait,
                                                        [this] { return _state->finished; });
        }
        if (finished) {
            _thread.join();
        } else {
            platform::Log::warn(
                "the camera did not stop in time; its capture thread is left to "
                "end on its own");
            ++gAbandonedThreads;
            _thread.detach();
        }
    }
    _mailbox->advanceEpoch();  // a frame still waiting for the main thread is dropped
    _mailbox->setDelegate(nullptr);
    _availability->handler = nullptr;
    _still->done = nullptr;
}

const CameraAvailability& Camera::availability() const {
    return _availability->current;
}

void Camera::setAvailabilityHandler(std::function<void(const CameraAvailability&)> handler) {
    _availability->handler = std::move(handler);
}

void Camera::findDevices(DeviceLayer& layer) {
    // The later of two devices at one position wins; both are counted.
    auto devices = layer.devices();
    _unavailableReason = layer.unavailableReason();
    for (const auto& device : devices) {
        if (!device) continue;
        switch (device->info().position) {
            case DevicePosition::Front:
                _frontCameraDevice = device;
                ++_numCameras;
                break;
            case DevicePosition::Back:
                _backCameraDevice = device;
                ++_numCameras;
                break;
            case DevicePosition::Unspecified:
                break;
        }
    }
}

const std::shared_ptr<CaptureDevice>& Camera::currentDevice() const {
    return _curCameraType == kCameraFront ? _frontCameraDevice : _backCameraDevice;
}

bool Camera::createAndStartCapture() {
    _curCameraType = _frontCameraDevice ? kCameraFront : kCameraBack;
    _running = true;
    updateWanted();
    if (!currentDevice()) {
        _availability->report(CameraAvailability{false, _unavailableReason.empty()
                                                            ? platform::tr("No camera found.")
                                                            : _unavailableReason});
        _availability->take();
    }
    return currentDevice() != nullptr;
}

void Camera::swapCamera() {
    int other = _curCameraType == kCameraFront ? kCameraBack : kCameraFront;
    if (!(other == kCameraFront ? _frontCameraDevice : _backCameraDevice)) return;
    _curCameraType = other;
    updateWanted();
}

void Camera::stopCamera() {
    if (!_running) return;
    _running = false;
    updateWanted();
}

void Camera::restartCamera() {
    if (_running) return;
    _running = true;
    updateWanted();
}

void Camera::updateWanted() {
    std::uint64_t epoch = _mailbox->advanceEpoch();
    std::shared_ptr<CaptureDevice> device = _running ? currentDevice() : nullptr;
    {
        std::lock_guard lock(_state->mutex);
        _state->want = CaptureState::Wanted{device, epoch};
        ++_state->wantVersion;
    }
    _state->wake.notify_all();
    if (device) startThread();
}

void Camera::startThread() {
    if (_thread.joinable()) return;
    _thread = std::jthread([state = _state](std::stop_token stop) {
        captureLoop(state, stop);
        std::lock_guard lock(state->mutex);
        state->finished = true;
        state->finishedChanged.notify_all();
    });
}

std::vector<FrameSize> Camera::stillSizes() const {
    const auto& device = currentDevice();
    return device ? device->stillSizes() : std::vector<FrameSize>{};
}

bool Camera::isTakingStill() const {
    return bool(_still->done);
}

void Camera::cancelStill() {
    _still->done = nullptr;
}

bool Camera::captureStill(FrameSize size, std::function<void(StillFrame&)> prepare,
                          StillDone done) {
    if (isTakingStill() || !done) return false;
    _still->done = std::move(done);
    std::uint64_t number = ++_still->asked;
    const auto& device = currentDevice();
    if (!device) {
        platform::RunLoop& loop = _options.loop ? *_options.loop : platform::RunLoop::main();
        loop.post([still = _still] {
            if (auto done = std::move(still->done)) {
                still->done = nullptr;
                done(platform::Error::make(CaptureError::NoStill, "there is no camera"));
            }
        });
        return true;
    }
    {
        std::lock_guard lock(_state->mutex);
        _state->stillRequest =
            CaptureState::StillRequest{device, size, std::move(prepare), _still, number};
        ++_state->wantVersion;
    }
    _state->wake.notify_all();
    startThread();
    return true;
}

void Camera::captureLoop(const std::shared_ptr<CaptureState>& state, std::stop_token stop) {
    const CameraOptions& options = state->options;
    FrameMailbox& mailbox = *state->mailbox;
    AvailabilityState& availability = *state->availability;
    std::shared_ptr<CaptureDevice> active;
    // Devices whose problem has been logged: each is reported once, until frames come again.
    std::set<const CaptureDevice*> reported;
    // Devices that have delivered a frame. One that never has is no camera to the user: the
    // live view says so plainly, and the log has the details.
    std::set<const CaptureDevice*> delivered;
    // error: why it failed; null when it went silent.
    auto report = [&](const CaptureDevice& device, const platform::Error* error) {
        availability.report(CameraAvailability{false, delivered.count(&device)
                                                          ? problemForUser(error)
                                                          : platform::tr("No camera found.")});
        if (!reported.insert(&device).second) return;
        std::string problem = error ? error->localizedDescription() : "delivers no frames";
        platform::Log::warn(
            platform::format("camera %s: %s", device.info().id.c_str(), problem.c_str()));
    };
    auto lastFrame = options.clock();

    while (!stop.stop_requested()) {
        CaptureState::Wanted want;
        std::uint64_t version;
        std::optional<CaptureState::StillRequest> still;
        {
            std::lock_guard lock(state->mutex);
            want = state->want;
            version = state->wantVersion;
            still = std::move(state->stillRequest);
            state->stillRequest.reset();
        }
        if (still) {
            // The live stream makes way for the still; the loop opens it again afterwards.
            if (active) active->close();
            active.reset();
            auto taken =
                still->device->takeStill(still->size, kStillSettleFrames, kStillFrameTimeout);
            if (taken && state->rotation) taken->rotation = *state->rotation;
            if (taken && still->prepare) still->prepare(*taken);
            platform::RunLoop& loop = options.loop ? *options.loop : platform::RunLoop::main();
            // Handed only to the still it was taken for: one cancelled meanwhile is dropped,
            // and a still asked for after the cancellation waits for its own.
            loop.post([delivery = still->still, number = still->number,
                       result = std::make_shared<platform::Result<StillFrame>>(
                           std::move(taken))]() mutable {
                if (delivery->asked != number || !delivery->done) return;
                auto done = std::move(delivery->done);
                delivery->done = nullptr;
                done(std::move(*result));
            });
            lastFrame = options.clock();
            continue;
        }
        if (want.device != active) {
            if (active) active->close();
            active.reset();
            if (want.device) {
                auto opened = want.device->open();
                if (!opened) {
                    report(*want.device, &opened.error());
                    state->waitForChange(stop, version, options.retryDelay);
                    continue;
                }
                active = want.device;
                lastFrame = options.clock();
            }
        }
        // Nothing to capture from: stopped, or stopped right after the device failed (then
        // both the wanted and the active device are empty).
        if (!active) {
            state->waitForChange(stop, version, std::nullopt);
            continue;
        }

        bool reserved = false;
        auto frame = active->readFrame(options.pollInterval, [&]() -> std::uint8_t* {
            std::uint8_t* buffer = mailbox.reserve(want.epoch);
            reserved = buffer != nullptr;
            return buffer;
        });
        if (frame.ok() && frame.value()) {
            if (reserved) mailbox.publish(state->rotation.value_or(active->rotation()));
            lastFrame = options.clock();
            delivered.insert(active.get());
            availability.report(CameraAvailability{});
            if (reported.erase(active.get())) {
                platform::Log::info(platform::format("camera %s: delivering frames again",
                                                     active->info().id.c_str()));
            }
            continue;
        }
        if (reserved) mailbox.cancel();
        if (!frame.ok()) {
            report(*active, &frame.error());
            active->close();
            active.reset();
            state->waitForChange(stop, version, options.retryDelay);
        } else if (options.clock() - lastFrame >= options.stallTimeout) {
            report(*active, nullptr);
        }
    }
    if (active) active->close();
}

}  // namespace quorbit::capture
