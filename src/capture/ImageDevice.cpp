#include "capture/ImageDevice.h"

#include <cstring>

#include "capture/FrameConverter.h"
#include "platform/gfx/ImageCodec.h"

namespace quorbit::capture {

std::vector<std::uint8_t> cameraFrameFromPicture(const platform::Image& picture, int width,
                                                 int height) {
    if (picture.empty()) return {};
    bool asItStands = picture.width() == width && picture.height() == height;
    platform::Image covered = asItStands ? platform::Image() : picture.scaledToCover(width, height);
    const platform::Image& rgba = asItStands ? picture : covered;
    std::vector<std::uint8_t> frame(rgba.pixels().size());
    FrameConverter toBgra(FrameConverter::Format::RGBA32, width, height, 0, width, height);
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
    _pictureWidth = image->width();
    _pictureHeight = image->height();
    return {};
}

std::vector<FrameSize> ImageDevice::stillSizes() const {
    if (_pictureWidth <= 0) return CaptureDevice::stillSizes();
    return {{_pictureWidth, _pictureHeight}};
}

platform::Result<void> ImageDevice::renderStill(std::uint64_t, StillFrame& still) {
    auto image = platform::ImageCodec::readFile(_path);
    if (!image) return image.error();
    if (image->width() != still.width || image->height() != still.height) {
        if (still.width == kFrameWidth && still.height == kFrameHeight) {
            std::memcpy(still.bgra.data(), _frame.data(), _frame.size());
            return {};
        }
        return platform::Error::make(CaptureError::NoStill, "the picture has changed");
    }
    FrameConverter toBgra(FrameConverter::Format::RGBA32, still.width, still.height, 0, still.width,
                          still.height);
    toBgra.convert(image->data(), image->pixels().size(), still.bgra.data());
    return {};
}

void ImageDevice::render(std::uint64_t, std::uint8_t* bgra) {
    std::memcpy(bgra, _frame.data(), _frame.size());
}

}  // namespace quorbit::capture
