#pragma once

#include <filesystem>

#include "platform/core/Error.h"
#include "platform/gfx/Image.h"

typedef struct _cairo cairo_t;

namespace quorbit::app {

// The application's icon: a camera lens holding three overlapping colour filters on a dark
// rounded square. Drawn as paths, so one drawing gives the scalable icon and every size.
namespace AppIcon {

// Draws the icon into the square (0, 0)-(size, size) of cr's user space.
void draw(cairo_t* cr, double size);

// The icon as a picture of pixels x pixels.
platform::Image render(int pixels);

// Writes the icon as an SVG document of size x size.
platform::Result<void> writeSvg(const std::filesystem::path& path, double size = 256);

}  // namespace AppIcon
}  // namespace quorbit::app
