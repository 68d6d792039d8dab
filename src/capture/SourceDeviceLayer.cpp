#include "capture/SourceDeviceLayer.h"

#include "capture/ImageDevice.h"
#include "capture/SyntheticDevice.h"
#include "capture/V4L2DeviceLayer.h"
#include "platform/core/Log.h"

namespace quorbit::capture {

std::vector<std::shared_ptr<CaptureDevice>> SourceDeviceLayer::devices() {
    std::vector<std::shared_ptr<CaptureDevice>> found;
    auto synthetic = [&](bool front, bool back) {
        if (front) found.push_back(std::make_shared<SyntheticDevice>(DevicePosition::Front));
        if (back) found.push_back(std::make_shared<SyntheticDevice>(DevicePosition::Back));
    };
    switch (_source.kind) {
        case CameraSource::Kind::V4L2:
            return V4L2DeviceLayer(_source.path, _deviceDir).devices();
        case CameraSource::Kind::Synthetic:
            synthetic(_source.front, _source.back);
            break;
        case CameraSource::Kind::Image:
            // The same picture on both sides, so that either camera can be chosen.
            found.push_back(std::make_shared<ImageDevice>(_source.path, DevicePosition::Front));
            found.push_back(std::make_shared<ImageDevice>(_source.path, DevicePosition::Back));
            break;
        case CameraSource::Kind::Default:
            found = V4L2DeviceLayer({}, _deviceDir).devices();
            if (found.empty()) {
                platform::Log::info("no camera found: showing the synthetic test scene");
                synthetic(true, true);
            }
            break;
    }
    return found;
}

}  // namespace quorbit::capture
