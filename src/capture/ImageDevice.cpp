#include "capture/ImageDevice.h"

#include <cstring>

#include "capture/FrameConverter.h"
#include "platform/gfx/ImageCodec.h"

namespace quorbit::capture {

ImageDevice::ImageDevice(std::string path, DevicePosition position)
    : GeneratedDevice(DeviceInfo{
          "image:" + path, "Still picture " + path, position, {"BGRA 640x480, 24 fps (still)"}}),
      _path(std::move(path)) {}

platform::Result<void> ImageDevice::prepare() {
    if (!_frame.empty()) return {};
    auto image = platform::ImageCodec::readFile(_path);
    if (!image) return image.error();
    if (image->empty()) return platform::Error::make("quorbit.capture", 3, "empty picture");
    platform::Image covered = image->scaledToCover(kFrameWidth, kFrameHeight);
    std::vector<std::uint8_t> frame(covered.pixels().size());
    FrameConverter toBgra(FrameConverter::Format::RGBA32, kFrameWidth, kFrameHeight, 0, kFrameWidth,
                          kFrameHeight);
    if (!toBgra.convert(covered.data(), covered.pixels().size(), frame.data()))
        return platform::Error::make("quorbit.capture", 3, "picture could not be converted");
    _frame = std::move(frame);
    return {};
}

void ImageDevice::render(std::uint64_t, std::uint8_t* bgra) {
    std::memcpy(bgra, _frame.data(), _frame.size());
}

}  // namespace quorbit::capture
