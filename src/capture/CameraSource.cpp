#include "capture/CameraSource.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "capture/CaptureDevice.h"
#include "platform/core/Log.h"

namespace quorbit::capture {
namespace {

std::mutex& selectionMutex() {
    static std::mutex mutex;
    return mutex;
}

std::optional<CameraSource>& selection() {
    static std::optional<CameraSource> source;
    return source;
}

platform::Error badSource(const std::string& text, const char* why) {
    return platform::Error::make(
        CaptureError::BadSource,
        platform::format(
            "bad camera source \"%s\": %s (expected pipewire[:NAME], "
            "v4l2[:/dev/videoN], synthetic[:front|:back][:rotation=N][:size=WxH] or image:PATH)",
            text.c_str(), why));
}

}  // namespace

platform::Result<CameraSource> CameraSource::parse(const std::string& text) {
    auto colon = text.find(':');
    std::string kind = text.substr(0, colon);
    std::optional<std::string> argument;
    if (colon != std::string::npos) argument = text.substr(colon + 1);

    if (text.empty()) return CameraSource{};
    if (kind == "v4l2") {
        if (argument && argument->empty()) return badSource(text, "no device after \"v4l2:\"");
        return CameraSource{Kind::V4L2, argument.value_or(""), true, true};
    }
    if (kind == "pipewire") {
        if (argument && argument->empty())
            return badSource(text, "no node name after \"pipewire:\"");
        return CameraSource{Kind::PipeWire, argument.value_or(""), true, true};
    }
    if (kind == "synthetic") {
        // synthetic[:front|:back][:rotation=N][:size=WxH]
        CameraSource source = synthetic();
        if (!argument) return source;
        std::string rest = *argument;
        bool first = true;
        while (true) {
            auto colon = rest.find(':');
            std::string option = rest.substr(0, colon);
            const std::string rotationKey = "rotation=", sizeKey = "size=";
            if (first && (option == "front" || option == "back")) {
                source.front = option == "front";
                source.back = option == "back";
            } else if (option.compare(0, rotationKey.size(), rotationKey) == 0) {
                auto rotation = parseRotation(option.substr(rotationKey.size()));
                if (!rotation) return badSource(text, "the rotation is 0, 90, 180 or 270");
                source.rotation = *rotation;
            } else if (option.compare(0, sizeKey.size(), sizeKey) == 0) {
                int width = 0, height = 0, used = 0;
                std::string size = option.substr(sizeKey.size());
                if (std::sscanf(size.c_str(), "%5dx%5d%n", &width, &height, &used) != 2 ||
                    size_t(used) != size.size() || width < 1 || height < 1 ||
                    width > kMaxSyntheticSize.width || height > kMaxSyntheticSize.height) {
                    return badSource(text, "the size is WIDTHxHEIGHT, up to 4000x3000");
                }
                source.size = FrameSize{width, height};
            } else {
                return badSource(text,
                                 "the synthetic cameras are \"front\" and \"back\", "
                                 "then \"rotation=N\" and \"size=WxH\"");
            }
            first = false;
            if (colon == std::string::npos) return source;
            rest = rest.substr(colon + 1);
        }
    }
    if (kind == "image") {
        if (!argument || argument->empty()) return badSource(text, "no picture after \"image:\"");
        return image(*argument);
    }
    return badSource(text, "unknown kind");
}

std::string CameraSource::toString() const {
    switch (kind) {
        case Kind::Default:
            return "";
        case Kind::V4L2:
            return path.empty() ? "v4l2" : "v4l2:" + path;
        case Kind::PipeWire:
            return path.empty() ? "pipewire" : "pipewire:" + path;
        case Kind::Synthetic: {
            std::string text = "synthetic";
            if (front && !back) text += ":front";
            if (back && !front) text += ":back";
            if (rotation != 90) text += ":rotation=" + std::to_string(rotation);
            if (size) text += platform::format(":size=%dx%d", size->width, size->height);
            return text;
        }
        case Kind::Image:
            return "image:" + path;
    }
    return "";
}

CameraSource CameraSource::current() {
    {
        std::lock_guard lock(selectionMutex());
        if (selection()) return *selection();
    }
    const char* value = std::getenv("QUORBIT_CAMERA");
    if (!value || !*value) return CameraSource{};
    auto parsed = parse(value);
    if (parsed) return parsed.value();
    static std::once_flag warned;
    std::call_once(warned, [&] {
        platform::Log::warn("QUORBIT_CAMERA ignored: " + parsed.error().localizedDescription());
    });
    return CameraSource{};
}

void CameraSource::select(const CameraSource& source) {
    std::lock_guard lock(selectionMutex());
    selection() = source;
}

}  // namespace quorbit::capture
