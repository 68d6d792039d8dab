#include "capture/Camera.h"

#include <set>
#include <string>

#include "capture/SourceDeviceLayer.h"
#include "platform/core/Log.h"

namespace quorbit::capture {

Camera::Camera() : Camera(CameraSource::current()) {}

Camera::Camera(const CameraSource& source) : Camera(std::make_shared<SourceDeviceLayer>(source)) {}

Camera::Camera(std::shared_ptr<DeviceLayer> devices, CameraOptions options)
    : _options(std::move(options)) {
    if (!_options.clock) _options.clock = [] { return std::chrono::steady_clock::now(); };
    _mailbox = FrameMailbox::create(_options.loop ? *_options.loop : platform::RunLoop::main(),
                                    _options.clock, CaptureDevice::kFrameWidth,
                                    CaptureDevice::kFrameHeight);
    if (devices) findDevices(*devices);
    createAndStartCapture();
}

Camera::~Camera() {
    _running = false;
    if (_thread.joinable()) {
        _thread.request_stop();
        _thread.join();
    }
    _mailbox->advanceEpoch();  // a frame still waiting for the main thread is dropped
}

void Camera::findDevices(DeviceLayer& layer) {
    // The later of two devices at one position wins; both are counted.
    for (const auto& device : layer.devices()) {
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
        std::lock_guard lock(_mutex);
        _want = Wanted{device, epoch};
        ++_wantVersion;
    }
    _wake.notify_all();
    if (device && !_thread.joinable())
        _thread = std::jthread([this](std::stop_token stop) { captureLoop(stop); });
}

void Camera::waitForChange(std::stop_token& stop, std::uint64_t version,
                           std::optional<std::chrono::milliseconds> timeout) {
    std::unique_lock lock(_mutex);
    auto changed = [&] { return _wantVersion != version; };
    if (timeout)
        _wake.wait_for(lock, stop, *timeout, changed);
    else
        _wake.wait(lock, stop, changed);
}

void Camera::captureLoop(std::stop_token stop) {
    std::shared_ptr<CaptureDevice> active;
    // Devices whose problem has been logged: each is reported once, until frames come again.
    std::set<const CaptureDevice*> reported;
    auto report = [&](const CaptureDevice& device, const std::string& problem) {
        if (!reported.insert(&device).second) return;
        platform::Log::warn(
            platform::format("camera %s: %s", device.info().id.c_str(), problem.c_str()));
    };
    auto lastFrame = _options.clock();

    while (!stop.stop_requested()) {
        Wanted want;
        std::uint64_t version;
        {
            std::lock_guard lock(_mutex);
            want = _want;
            version = _wantVersion;
        }
        if (want.device != active) {
            if (active) active->close();
            active.reset();
            if (want.device) {
                auto opened = want.device->open();
                if (!opened) {
                    report(*want.device, opened.error().localizedDescription());
                    waitForChange(stop, version, _options.retryDelay);
                    continue;
                }
                active = want.device;
                lastFrame = _options.clock();
            }
        }
        // Nothing to capture from: stopped, or stopped right after the device failed (then
        // both the wanted and the active device are empty).
        if (!active) {
            waitForChange(stop, version, std::nullopt);
            continue;
        }

        bool reserved = false;
        auto frame = active->readFrame(_options.pollInterval, [&]() -> std::uint8_t* {
            std::uint8_t* buffer = _mailbox->reserve(want.epoch);
            reserved = buffer != nullptr;
            return buffer;
        });
        if (frame.ok() && frame.value()) {
            if (reserved) _mailbox->publish();
            lastFrame = _options.clock();
            if (reported.erase(active.get())) {
                platform::Log::info(platform::format("camera %s: delivering frames again",
                                                     active->info().id.c_str()));
            }
            continue;
        }
        if (reserved) _mailbox->cancel();
        if (!frame.ok()) {
            report(*active, frame.error().localizedDescription());
            active->close();
            active.reset();
            waitForChange(stop, version, _options.retryDelay);
        } else if (_options.clock() - lastFrame >= _options.stallTimeout) {
            report(*active, "delivers no frames");
        }
    }
    if (active) active->close();
}

}  // namespace quorbit::capture
