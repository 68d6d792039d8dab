#pragma once

#include <string>
#include <vector>

#include "platform/gfx/Image.h"

namespace quorbit::app {

// Exit statuses of the command-line tools.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // unreadable input, unwritable output, no GL
inline constexpr int kExitUsage = 2;    // unknown or missing arguments

// `quorbit render --filter NAME|SLOT --input IMAGE --output PNG [--camera back|front]
// [--center X,Y] [--rotation N]`: one frame through the live view's frame path, read back as
// the shutter reads it. The input is an upright picture unless --rotation says it is a
// sensor's frame of that rotation (0, 90, 180, 270); the result is upright, 427 x 320 when it
// is landscape and 320 x 427 when portrait. --center places the distortions' centre as a drag
// on the live view would (view coordinates, x across and y down, 0..1 each; 0.5,0.5 without
// it).
int runRender(const std::vector<std::string>& args);

// `quorbit contact-sheet [--input IMAGE] --output PNG [--camera back|front] [--rotation N]`:
// the sixteen previews as the filter picker lays them out, four pages side by side on black,
// each upright and fitted into its place in the picture's shape. The input is taken as for
// render. Without an input the built-in test frame is used.
int runContactSheet(const std::vector<std::string>& args);

// A 640 x 480 test picture: four coloured quadrants, a grey ramp, fine stripes and a bright
// disc, so that every filter visibly changes it.
platform::Image builtinTestFrame();

}  // namespace quorbit::app
