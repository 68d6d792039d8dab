#include "capture/SyntheticDevice.h"

#include <new>

namespace quorbit::capture {

DeviceInfo SyntheticDevice::describe(DevicePosition position, int rotation,
                                     std::optional<FrameSize> largest) {
    bool front = position == DevicePosition::Front;
    std::vector<FrameSize> sizes;
    for (FrameSize size : kStillSizes)
        if (!largest || size.pixels() < largest->pixels()) sizes.push_back(size);
    if (largest) sizes.push_back(*largest);
    return DeviceInfo{front ? "synthetic:front" : "synthetic:back",
                      front ? "Synthetic test scene (front)" : "Synthetic test scene (back)",
                      position,
                      {"BGRA 640x480, 24 fps"},
                      rotation,
                      std::move(sizes)};
}

SyntheticDevice::SyntheticDevice(DevicePosition position, int rotation,
                                 std::optional<FrameSize> largest)
    : GeneratedDevice(describe(position, rotation, largest)) {}

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

platform::Result<void> SyntheticDevice::renderStill(std::uint64_t frameIndex, StillFrame& still) {
    // The scene at the still's size, drawn once and let go: a large scene is as large as
    // the still itself.
    try {
        SyntheticScene scene(_scene->style(), still.width, still.height);
        scene.render(frameIndex, still.bgra.data());
    } catch (const std::bad_alloc&) {
        return platform::Error::make(CaptureError::NoStill,
                                     "there is not enough memory for the still");
    }
    return {};
}

}  // namespace quorbit::capture
