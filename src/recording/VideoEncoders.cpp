#include "recording/VideoEncoders.h"

#include <gst/gst.h>

#include <algorithm>
#include <mutex>

#include "platform/core/Log.h"
#include "platform/core/Translate.h"

namespace quorbit::recording {

namespace {

bool installed(const std::string& factory) {
    GstElementFactory* found = gst_element_factory_find(factory.c_str());
    if (!found) return false;
    gst_object_unref(found);
    return true;
}

// Whether the muxer has a request pad that takes caps (a string of caps).
bool muxerTakes(const std::string& muxer, const char* caps) {
    GstElementFactory* factory = gst_element_factory_find(muxer.c_str());
    if (!factory) return false;
    GstCaps* wanted = gst_caps_from_string(caps);
    bool takes = gst_element_factory_can_sink_any_caps(factory, wanted);
    gst_caps_unref(wanted);
    gst_object_unref(factory);
    return takes;
}

}  // namespace

const std::vector<std::string>& videoEncoderCandidates() {
    static const std::vector<std::string> candidates = {
        "vah264enc", "vaapih264enc", "v4l2h264enc", "openh264enc", "x264enc", "vp8enc"};
    return candidates;
}

platform::Result<void> initGStreamer() {
    static std::once_flag once;
    static std::string failure;
    std::call_once(once, [] {
        GError* error = nullptr;
        if (!gst_init_check(nullptr, nullptr, &error)) {
            failure = error ? error->message : "GStreamer cannot be started";
            if (error) g_error_free(error);
        }
    });
    if (!failure.empty())
        return platform::Error::make(
            RecordingError::NoEncoder,
            platform::tr("Video recording is not available") + ": " + failure);
    return {};
}

platform::Result<std::vector<EncoderChoice>> availableEncoders(
    const std::vector<std::string>& skip) {
    if (auto started = initGStreamer(); !started) return started.error();
    std::vector<EncoderChoice> found;
    for (const std::string& encoder : videoEncoderCandidates()) {
        if (std::find(skip.begin(), skip.end(), encoder) != skip.end() || !installed(encoder))
            continue;
        EncoderChoice choice;
        choice.encoder = encoder;
        bool h264 = encoder != "vp8enc";
        if (h264) {
            // Fragments of a second: a file cut off (a crash, a full disk, kill -9) plays up to
            // its last fragment.
            choice.muxer = "mp4mux";
            choice.extension = "mp4";
            if (!installed("mp4mux")) continue;
        } else {
            choice.muxer = "webmmux";
            choice.extension = "webm";
            if (!installed("webmmux")) continue;
        }
        if (encoder == "x264enc")
            // Real time on a small machine: a fast preset, no frames held back for lookahead.
            choice.settings = "speed-preset=veryfast tune=zerolatency bitrate=2500 key-int-max=24";
        else if (encoder == "vp8enc")
            choice.settings = "deadline=1 cpu-used=8 target-bitrate=2500000 keyframe-max-dist=24";
        else if (encoder == "openh264enc")
            choice.settings = "bitrate=2500000 complexity=low";
        if (installed("opusenc") && muxerTakes(choice.muxer, "audio/x-opus"))
            choice.audioEncoder = "opusenc";
        else if (installed("avenc_aac") && muxerTakes(choice.muxer, "audio/mpeg"))
            choice.audioEncoder = "avenc_aac";
        std::size_t rank = std::size_t(
            std::find(videoEncoderCandidates().begin(), videoEncoderCandidates().end(), encoder) -
            videoEncoderCandidates().begin());
        choice.why = rank < 3 ? "a hardware H.264 encoder"
                     : h264   ? "the first software H.264 encoder installed"
                              : "no H.264 encoder is installed; VP8 in WebM instead";
        found.push_back(std::move(choice));
    }
    if (found.empty()) return platform::Error::make(RecordingError::NoEncoder, noEncoderMessage());
    return found;
}

std::string noEncoderMessage() {
    return platform::tr("Video recording is not available") + "\n" +
           platform::format(platform::tr("No video encoder is installed. Install %s.").c_str(),
                            "gstreamer1.0-plugins-ugly (x264), gstreamer1.0-plugins-good (VP8)");
}

}  // namespace quorbit::recording
