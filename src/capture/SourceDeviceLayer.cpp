#include "capture/SourceDeviceLayer.h"

#include "capture/CameraPortal.h"
#include "capture/ImageDevice.h"
#include "capture/PipeWireDeviceLayer.h"
#include "capture/SyntheticDevice.h"
#include "capture/V4L2DeviceLayer.h"
#include "platform/core/Log.h"

namespace quorbit::capture {

SourceDeviceLayer::SourceDeviceLayer(CameraSource source, std::string deviceDir)
    : _source(std::move(source)) {
    _settings.deviceDir = std::move(deviceDir);
}

std::vector<std::shared_ptr<CaptureDevice>> SourceDeviceLayer::pipeWireDevices(
    const std::string& name) {
    PipeWireConnection::Remote remote{{}, _settings.pipeWireRemote};
    if (CameraPortal::sandboxed(_settings.sandboxMarker)) {
        CameraPortal& portal = _settings.portal ? *_settings.portal : CameraPortal::shared();
        auto answer = portal.requestAccess();
        switch (answer.access) {
            case CameraPortal::Access::Granted:
                remote.openSocket = [&portal] { return portal.openPipeWireRemote(); };
                break;
            case CameraPortal::Access::Denied:
                platform::Log::warn("no camera: " + answer.detail);
                _unavailable = kAccessDenied;
                return {};
            case CameraPortal::Access::NoCamera:
                return {};
            case CameraPortal::Access::Unreachable:
                // Without a portal, the daemon's own socket may still show cameras.
                platform::Log::info("camera portal: " + answer.detail);
                break;
        }
    }
    return PipeWireDeviceLayer(remote, name).devices();
}

std::vector<std::shared_ptr<CaptureDevice>> SourceDeviceLayer::devices() {
    _unavailable.clear();
    std::vector<std::shared_ptr<CaptureDevice>> found;
    auto synthetic = [&](bool front, bool back, int rotation) {
        if (front)
            found.push_back(
                std::make_shared<SyntheticDevice>(DevicePosition::Front, rotation, _source.size));
        if (back)
            found.push_back(
                std::make_shared<SyntheticDevice>(DevicePosition::Back, rotation, _source.size));
    };
    switch (_source.kind) {
        case CameraSource::Kind::PipeWire:
            return pipeWireDevices(_source.path);
        case CameraSource::Kind::V4L2:
            return V4L2DeviceLayer(_source.path, _settings.deviceDir).devices();
        case CameraSource::Kind::Synthetic:
            synthetic(_source.front, _source.back, _source.rotation);
            break;
        case CameraSource::Kind::Image:
            // The same picture on both sides, so that either camera can be chosen.
            found.push_back(std::make_shared<ImageDevice>(_source.path, DevicePosition::Front));
            found.push_back(std::make_shared<ImageDevice>(_source.path, DevicePosition::Back));
            break;
        case CameraSource::Kind::Default:
            found = pipeWireDevices({});
            if (!found.empty() || !_unavailable.empty()) break;
            found = V4L2DeviceLayer({}, _settings.deviceDir).devices();
            if (found.empty()) {
                platform::Log::info("no camera found: showing the synthetic test scene");
                synthetic(true, true, CameraSource::synthetic().rotation);
            }
            break;
    }
    return found;
}

}  // namespace quorbit::capture
