#pragma once

#include <filesystem>
#include <string>

#include "platform/gfx/Image.h"

// What a recorded clip holds, read back through GStreamer's own discoverer and decoders.
namespace quorbit::testing {

struct ClipInfo {
    std::string error;  // empty when the clip could be read
    double seconds = 0;
    int width = 0, height = 0;
    bool hasAudio = false;
    int frames = 0;               // decoded pictures
    platform::Image middleFrame;  // RGBA
};

ClipInfo probeClip(const std::filesystem::path& clip);

}  // namespace quorbit::testing
