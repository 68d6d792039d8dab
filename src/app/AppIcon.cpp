#include "app/AppIcon.h"

#include <cairo-svg.h>
#include <cairo.h>

#include <cmath>

#include "platform/gfx/Canvas.h"
#include "platform/gfx/ImageCodec.h"

namespace quorbit::app::AppIcon {
namespace {

void roundedSquare(cairo_t* cr, double x, double y, double side, double radius) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + side - radius, y + radius, radius, -M_PI / 2, 0);
    cairo_arc(cr, x + side - radius, y + side - radius, radius, 0, M_PI / 2);
    cairo_arc(cr, x + radius, y + side - radius, radius, M_PI / 2, M_PI);
    cairo_arc(cr, x + radius, y + radius, radius, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

void linear(cairo_t* cr, double y0, double y1, double r0, double g0, double b0, double r1,
            double g1, double b1) {
    cairo_pattern_t* p = cairo_pattern_create_linear(0, y0, 0, y1);
    cairo_pattern_add_color_stop_rgb(p, 0, r0, g0, b0);
    cairo_pattern_add_color_stop_rgb(p, 1, r1, g1, b1);
    cairo_set_source(cr, p);
    cairo_pattern_destroy(p);
}

}  // namespace

void draw(cairo_t* cr, double size) {
    cairo_save(cr);
    cairo_scale(cr, size / 256, size / 256);  // designed on a 256 grid

    // The tile.
    roundedSquare(cr, 16, 16, 224, 52);
    linear(cr, 16, 240, 0.22, 0.24, 0.36, 0.07, 0.08, 0.13);
    cairo_fill(cr);

    const double cx = 128, cy = 130;
    // The lens barrel: a light ring with a soft fall of light from the top.
    cairo_arc(cr, cx, cy, 82, 0, 2 * M_PI);
    linear(cr, cy - 82, cy + 82, 0.95, 0.96, 0.98, 0.66, 0.68, 0.74);
    cairo_fill(cr);
    cairo_arc(cr, cx, cy, 68, 0, 2 * M_PI);
    cairo_set_source_rgb(cr, 0.05, 0.05, 0.08);
    cairo_fill(cr);

    // Three colour filters overlapping in the glass.
    cairo_save(cr);
    cairo_arc(cr, cx, cy, 68, 0, 2 * M_PI);
    cairo_clip(cr);
    struct Filter {
        double angle, r, g, b;
    } filters[] = {
        {-90, 1.00, 0.33, 0.42},
        {30, 0.22, 0.74, 1.00},
        {150, 1.00, 0.80, 0.18},
    };
    for (const auto& f : filters) {
        double a = f.angle * M_PI / 180;
        cairo_arc(cr, cx + 19 * std::cos(a), cy + 19 * std::sin(a), 33, 0, 2 * M_PI);
        cairo_set_source_rgba(cr, f.r, f.g, f.b, 0.78);
        cairo_fill(cr);
    }
    // A glint on the glass.
    cairo_save(cr);
    cairo_translate(cr, cx - 30, cy - 34);
    cairo_rotate(cr, -0.7);
    cairo_scale(cr, 1, 0.55);
    cairo_arc(cr, 0, 0, 17, 0, 2 * M_PI);
    cairo_restore(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.45);
    cairo_fill(cr);
    cairo_restore(cr);

    // The shutter-release dot in the tile's corner.
    cairo_arc(cr, 196, 58, 11, 0, 2 * M_PI);
    cairo_set_source_rgb(cr, 1.0, 0.80, 0.16);
    cairo_fill(cr);
    cairo_restore(cr);
}

platform::Image render(int pixels) {
    platform::Canvas canvas(pixels, pixels, 1);
    canvas.clear();
    draw(canvas.cairo(), pixels);
    return canvas.toImage();
}

platform::Result<void> writeSvg(const std::filesystem::path& path, double size) {
    cairo_surface_t* surface = cairo_svg_surface_create(path.c_str(), size, size);
    cairo_svg_surface_set_document_unit(surface, CAIRO_SVG_UNIT_PX);
    cairo_t* cr = cairo_create(surface);
    draw(cr, size);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    cairo_status_t status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS)
        return platform::Error::make(
            platform::ImageError::WriteFailed,
            "cannot write " + path.string() + ": " + cairo_status_to_string(status));
    return {};
}

}  // namespace quorbit::app::AppIcon
