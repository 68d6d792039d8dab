#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/core/Error.h"

namespace quorbit::recording {

// Why a recording could not start, or ended early; the codes of the "quorbit.recording"
// domain.
enum class RecordingError : long {
    NoEncoder = 1,          // GStreamer or every video encoder it could use is missing
    CannotStart = 2,        // the pipeline would not start
    Failed = 3,             // the pipeline failed while recording (encoder, disk, folder)
    FolderUnavailable = 4,  // the videos folder cannot be made or written to
    NotKept = 5,            // the finished clip could not be given its name
};
constexpr const char* errorDomain(RecordingError) {
    return "quorbit.recording";
}

// How a recording is encoded: the video encoder and its settings, the container and the
// sound's encoder, all GStreamer element names.
struct EncoderChoice {
    std::string encoder;       // "x264enc"
    std::string settings;      // properties in gst-launch syntax: "speed-preset=veryfast"
    std::string muxer;         // "mp4mux" (written in fragments) or "webmmux"
    std::string extension;     // "mp4" or "webm"
    std::string audioEncoder;  // "opusenc", or "avenc_aac" where the container takes no Opus
    std::string why;           // for the log: why this one
};

// The video encoders tried, best first: the hardware H.264 encoders, then openh264, x264 and
// VP8.
const std::vector<std::string>& videoEncoderCandidates();

// Starts GStreamer once for the process; false (and why) when it cannot be started.
platform::Result<void> initGStreamer();

// The encoders of videoEncoderCandidates() that are installed and have a container and a
// sound encoder to go with them, best first, leaving out those named in skip (ones that
// failed to start). None: RecordingError::NoEncoder, with the packages to install.
platform::Result<std::vector<EncoderChoice>> availableEncoders(
    const std::vector<std::string>& skip = {});

// The text shown where no encoder is installed: what is missing and the packages to install.
std::string noEncoderMessage();

}  // namespace quorbit::recording
