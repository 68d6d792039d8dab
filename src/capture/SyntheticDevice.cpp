#include "capture/SyntheticDevice.h"

namespace quorbit::capture {

DeviceInfo SyntheticDevice::describe(DevicePosition position, int rotation) {
    bool front = position == DevicePosition::Front;
    return DeviceInfo{front ? "synthetic:front" : "synthetic:back",
                      front ? "Synthetic test scene (front)" : "Synthetic test scene (back)",
                      position,
                      {"BGRA 640x480, 24 fps"},
                      rotation};
}

SyntheticDevice::SyntheticDevice(DevicePosition position, int rotation)
    : GeneratedDevice(describe(position, rotation)) {}

platform::Result<void> SyntheticDevice::prepare() {
    if (!_scene) {
        _scene = std::make_unique<SyntheticScene>(info().position == DevicePosition::Front
                                                      ? SyntheticScene::Style::Front
                                                      : SyntheticScene::Style::Back,
                                                  kFrameWidth, kFrameHeight);
    }
    return {};
}

void SyntheticDevice::render(std::uint64_t frameIndex, std::uint8_t* bgra) {
    _scene->render(frameIndex, bgra);
}

}  // namespace quorbit::capture
