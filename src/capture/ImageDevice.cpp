#include "capture/ImageDevice.h"

#include <cstring>

#include "capture/FrameConverter.h"
#include "platform/gfx/ImageCodec.h"

namespace quorbit::capture {

std::vector<std::uint8_t> cameraFrameFromPicture(const platform::Image& picture) {
    constexpr int kFrameWidth = CaptureDevice::kFrameWidth;
    constexpr int kFrameHeight = CaptureDevice::kFrameHeight;
    if (picture.empty()) return {};
    bool asItStands = picture.width() == kFrameWidth && picture.height() == kFrameHeight;
    platform::Image covered =
        asItStands ? platform::Image() : picture.scaledToCover(kFrameWidth, kFrameHeight);
    const platform::Image& rgba = asItStands ? picture : covered;
    std::vector<std::uint8_t> frame(rgba.pixels().size());
    FrameConverter toBgra(FrameConverter::Format::RGBA32, kFrameWidth, kFrameHeight);
    toBgra.convert(rgba.data(), rgba.pixels().size(), frame.data());
    return frame;
}

ImageDevice::ImageDevice(std::string path, DevicePosition position)
    : GeneratedDevice(DeviceInfo{
          "image:" + path, "Still picture " + path, position, {"BGRA 640x480, 24 fps (still)"}}),
      _path(std::move(path)) {}

platform::Result<void> ImageDevice::prepare() {
    if (!_frame.empty()) return {};
    auto image = platform::ImageCodec::readFile(_path);
    if (!image) return image.error();
    if (image->empty()) return platform::Error::make(CaptureError::EmptyPicture, "empty picture");
    _frame = cameraFrameFromPicture(*image);
    return {};
}

void ImageDevice::render(std::uint64_t, std::uint8_t* bgra) {
    std::memcpy(bgra, _frame.data(), _frame.size());
}

}  // namespace quorbit::capture
