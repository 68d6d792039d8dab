#pragma once

#include <filesystem>

#include "platform/core/Error.h"
#include "platform/gfx/Image.h"

namespace quorbit::recording {

// The first picture of a clip (any container and codec GStreamer can play), decoded and
// scaled down to fit minSide on its shorter side where it is larger (0: as it is); RGBA.
// An error for a file that cannot be played.
platform::Result<platform::Image> readFirstFrame(const std::filesystem::path& clip, int minSide);

}  // namespace quorbit::recording
