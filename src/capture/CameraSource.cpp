#include "capture/CameraSource.h"

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
        platform::format("bad camera source \"%s\": %s (expected pipewire[:NAME], "
                         "v4l2[:/dev/videoN], synthetic[:front|:back][:rotation=N] or image:PATH)",
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
        // synthetic[:front|:back][:rotation=N]
        CameraSource source = synthetic();
        if (!argument) return source;
        std::string rest = *argument;
        auto colon = rest.find(':');
        std::string first = rest.substr(0, colon);
        if (first == "front" || first == "back") {
            source.front = first == "front";
            source.back = first == "back";
            if (colon == std::string::npos) return source;
            rest = rest.substr(colon + 1);
        }
        const std::string key = "rotation=";
        if (rest.compare(0, key.size(), key) != 0) {
            return badSource(text,
                             "the synthetic cameras are \"front\" and \"back\", "
                             "then \"rotation=N\"");
        }
        auto rotation = parseRotation(rest.substr(key.size()));
        if (!rotation) return badSource(text, "the rotation is 0, 90, 180 or 270");
        source.rotation = *rotation;
        return source;
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
