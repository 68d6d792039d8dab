#include "capture/V4L2DeviceLayer.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "capture/FrameConverter.h"
#include "capture/V4L2Device.h"
#include "platform/core/FileHandle.h"
#include "platform/core/Log.h"

namespace quorbit::capture {
namespace {

int xioctl(int fd, unsigned long request, void* argument) {
    int result;
    do {
        result = ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result;
}

std::string fourccText(std::uint32_t fourcc) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        char c = char((fourcc >> (8 * i)) & 0xff);
        text += (c >= 32 && c < 127) ? c : '?';
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

std::optional<std::int64_t> orientationOf(int fd) {
    v4l2_ext_control control{};
    control.id = V4L2_CID_CAMERA_ORIENTATION;
    v4l2_ext_controls controls{};
    controls.which = V4L2_CTRL_WHICH_CUR_VAL;
    controls.count = 1;
    controls.controls = &control;
    if (xioctl(fd, VIDIOC_G_EXT_CTRLS, &controls) < 0) return std::nullopt;
    std::int64_t value = control.value;
    return value;
}

}  // namespace

V4L2DeviceLayer::Offers V4L2DeviceLayer::offersOf(const Ioctl& ioctl) {
    Offers offers;
    for (std::uint32_t index = 0;; ++index) {
        v4l2_fmtdesc description{};
        description.index = index;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (ioctl(VIDIOC_ENUM_FMT, &description) < 0) break;
        const std::uint32_t fourcc = description.pixelformat;
        const bool convertible = FrameConverter::fromFourcc(fourcc) ||
                                 fourcc == V4L2_PIX_FMT_MJPEG || fourcc == V4L2_PIX_FMT_JPEG;
        auto still = [&](std::uint32_t width, std::uint32_t height) {
            const FrameSize size{int(width), int(height)};
            if (convertible && size.width > 0 && size.height > 0 &&
                std::find(offers.stillSizes.begin(), offers.stillSizes.end(), size) ==
                    offers.stillSizes.end())
                offers.stillSizes.push_back(size);
        };
        std::string text = fourccText(fourcc);
        for (std::uint32_t sizeIndex = 0;; ++sizeIndex) {
            v4l2_frmsizeenum size{};
            size.index = sizeIndex;
            size.pixel_format = fourcc;
            if (ioctl(VIDIOC_ENUM_FRAMESIZES, &size) < 0) break;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                text += platform::format(" %ux%u", size.discrete.width, size.discrete.height);
                still(size.discrete.width, size.discrete.height);
            } else {
                text += platform::format(" %ux%u-%ux%u", size.stepwise.min_width,
                                         size.stepwise.min_height, size.stepwise.max_width,
                                         size.stepwise.max_height);
                still(size.stepwise.max_width, size.stepwise.max_height);
                break;
            }
        }
        offers.formats.push_back(text);
    }
    return offers;
}

V4L2DeviceLayer::V4L2DeviceLayer(std::string onlyPath, std::string deviceDir)
    : _onlyPath(std::move(onlyPath)), _deviceDir(std::move(deviceDir)) {}

bool V4L2DeviceLayer::isCaptureDevice(std::uint32_t capabilities, std::uint32_t deviceCaps) {
    std::uint32_t caps = (capabilities & V4L2_CAP_DEVICE_CAPS) ? deviceCaps : capabilities;
    constexpr std::uint32_t kNotACamera = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_VIDEO_OUTPUT_MPLANE |
                                          V4L2_CAP_VIDEO_M2M | V4L2_CAP_VIDEO_M2M_MPLANE;
    return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING) && !(caps & kNotACamera);
}

DevicePosition V4L2DeviceLayer::positionFor(std::optional<std::int64_t> orientation) {
    if (orientation && *orientation == V4L2_CAMERA_ORIENTATION_BACK) return DevicePosition::Back;
    return DevicePosition::Front;  // front, external, or not said
}

std::vector<std::string> V4L2DeviceLayer::deviceNodes(const std::string& dir) {
    std::vector<std::pair<long, std::string>> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        std::string name = entry.path().filename().string();
        if (name.size() <= 5 || name.compare(0, 5, "video") != 0) continue;
        std::string digits = name.substr(5);
        if (digits.size() > 6 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        found.emplace_back(std::stol(digits), entry.path().string());
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& [number, path] : found)
        paths.push_back(path);
    return paths;
}

std::optional<DeviceInfo> V4L2DeviceLayer::probe(const std::string& path, bool explicitlyAsked) {
    // Asked-for devices that turn out unusable are worth a warning; others are just skipped.
    auto skip = [&](const std::string& why) {
        std::string line = platform::format("camera %s: %s", path.c_str(), why.c_str());
        if (explicitlyAsked)
            platform::Log::warn(line);
        else
            platform::Log::debug(line);
        return std::nullopt;
    };
    platform::FileHandle device(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    int fd = device.fd();
    if (!device) {
        int error = errno;
        // Without permission the user has a camera they cannot use: say so in any case.
        if (error == EACCES || error == EPERM) explicitlyAsked = true;
        return skip(V4L2Device::errnoError("cannot be opened", error).localizedDescription());
    }
    v4l2_capability caps{};
    std::optional<DeviceInfo> info;
    if (xioctl(fd, VIDIOC_QUERYCAP, &caps) < 0) {
        skip("not a V4L2 device");
    } else if (!isCaptureDevice(caps.capabilities, caps.device_caps)) {
        skip("not a video-capture device");
    } else {
        auto offers = offersOf(
            [fd](unsigned long request, void* argument) { return xioctl(fd, request, argument); });
        info = DeviceInfo{
            path,
            std::string(reinterpret_cast<const char*>(caps.card),
                        strnlen(reinterpret_cast<const char*>(caps.card), sizeof caps.card)),
            positionFor(orientationOf(fd)), std::move(offers.formats)};
        info->stillSizes = std::move(offers.stillSizes);
    }
    return info;
}

std::vector<std::shared_ptr<CaptureDevice>> V4L2DeviceLayer::devices() {
    std::vector<std::string> paths;
    if (_onlyPath.empty())
        paths = deviceNodes(_deviceDir);
    else
        paths.push_back(_onlyPath);
    std::vector<std::shared_ptr<CaptureDevice>> found;
    for (const std::string& path : paths) {
        if (auto info = probe(path, !_onlyPath.empty()))
            found.push_back(std::make_shared<V4L2Device>(std::move(*info)));
    }
    return found;
}

}  // namespace quorbit::capture
