#include "platform/gfx/Canvas.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>

#include "platform/core/Log.h"
#include "platform/core/Text.h"

namespace quorbit::platform {

namespace {

void setSource(cairo_t* cr, Color c) {
    cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
}

struct LayoutDeleter {
    void operator()(PangoLayout* layout) const { g_object_unref(layout); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, LayoutDeleter>;

struct FontDescriptionDeleter {
    void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};

// The font families installed, lowercased; looked up once.
const std::set<std::string>& installedFamilies() {
    static const std::set<std::string> families = [] {
        std::set<std::string> names;
        PangoFontFamily** list = nullptr;
        int count = 0;
        pango_font_map_list_families(pango_cairo_font_map_get_default(), &list, &count);
        for (int i = 0; i < count; ++i) {
            names.insert(lower(pango_font_family_get_name(list[i])));
        }
        g_free(list);
        if (names.empty()) Log::error("Canvas: no fonts are installed; text is not drawn");
        return names;
    }();
    return families;
}

// Whether text can be drawn in font at all. A missing family is logged once and drawn in
// the fallback face that Pango picks; with no fonts at all nothing is drawn.
bool usableFont(const Font& font) {
    const auto& families = installedFamilies();
    if (families.empty()) return false;
    std::string name = lower(font.family);
    if (!families.count(name)) {
        static std::mutex mutex;
        static std::set<std::string> reported;
        std::lock_guard<std::mutex> lock(mutex);
        if (reported.insert(name).second) {
            Log::warn(format("Canvas: font family \"%s\" is not installed; using a fallback face",
                             font.family.c_str()));
        }
    }
    return true;
}

// A layout for text in font; Pango falls back to another face when the family is missing,
// which is logged once per family so that a missing font is visible but never fatal.
LayoutPtr makeLayout(cairo_t* cr, const std::string& text, const Font& font) {
    LayoutPtr layout(pango_cairo_create_layout(cr));
    // Glyph advances are not rounded to device pixels, so that a text takes the same width in
    // points at every scale: labels are measured at one scale and drawn at another.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(pango_layout_get_context(layout.get()), options);
    cairo_font_options_destroy(options);
    pango_layout_context_changed(layout.get());
    std::unique_ptr<PangoFontDescription, FontDescriptionDeleter> desc(
        pango_font_description_new());
    pango_font_description_set_family(desc.get(), font.family.c_str());
    pango_font_description_set_weight(desc.get(),
                                      font.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_absolute_size(desc.get(), font.size * PANGO_SCALE);
    pango_layout_set_font_description(layout.get(), desc.get());
    pango_layout_set_text(layout.get(), text.c_str(), static_cast<int>(text.size()));
    return layout;
}

}  // namespace

Canvas::Canvas(int pixelWidth, int pixelHeight, double scale)
    : _pixelWidth(std::max(pixelWidth, 0)),
      _pixelHeight(std::max(pixelHeight, 0)),
      _scale(scale > 0 ? scale : 1) {
    _surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, _pixelWidth, _pixelHeight);
    _cr = cairo_create(_surface);
    if (cairo_status(_cr) != CAIRO_STATUS_SUCCESS) {
        Log::error(format("Canvas: cannot make a %d x %d surface", _pixelWidth, _pixelHeight));
    }
    cairo_scale(_cr, _scale, _scale);
}

Canvas::~Canvas() {
    cairo_destroy(_cr);
    cairo_surface_destroy(_surface);
}

const std::uint8_t* Canvas::data() {
    cairo_surface_flush(_surface);
    return cairo_image_surface_get_data(_surface);
}

int Canvas::stride() const {
    return cairo_image_surface_get_stride(_surface);
}

Image Canvas::toImage() {
    Image image(_pixelWidth, _pixelHeight);
    const std::uint8_t* src = data();
    if (!src) return image;
    int rowBytes = stride();
    for (int y = 0; y < _pixelHeight; ++y) {
        const std::uint8_t* row = src + static_cast<std::size_t>(y) * rowBytes;
        for (int x = 0; x < _pixelWidth; ++x) {
            std::uint32_t argb;
            std::memcpy(&argb, row + x * 4, 4);
            std::uint8_t a = argb >> 24;
            std::uint8_t r = (argb >> 16) & 0xff, g = (argb >> 8) & 0xff, b = argb & 0xff;
            std::uint8_t* out = image.pixel(x, y);
            if (a != 0 && a != 255) {
                r = static_cast<std::uint8_t>(std::min(255, (r * 255 + a / 2) / a));
                g = static_cast<std::uint8_t>(std::min(255, (g * 255 + a / 2) / a));
                b = static_cast<std::uint8_t>(std::min(255, (b * 255 + a / 2) / a));
            }
            out[0] = r;
            out[1] = g;
            out[2] = b;
            out[3] = a;
        }
    }
    return image;
}

void Canvas::clear(Color color) {
    cairo_save(_cr);
    cairo_identity_matrix(_cr);
    cairo_reset_clip(_cr);
    cairo_set_operator(_cr, CAIRO_OPERATOR_SOURCE);
    setSource(_cr, color);
    cairo_paint(_cr);
    cairo_restore(_cr);
}

void Canvas::beginPath() {
    cairo_new_path(_cr);
}
void Canvas::moveTo(Point p) {
    cairo_move_to(_cr, p.x, p.y);
}
void Canvas::lineTo(Point p) {
    cairo_line_to(_cr, p.x, p.y);
}

void Canvas::arc(Point c, double radius, double start, double end, bool counterClockwise) {
    if (radius <= 0) return;
    if (counterClockwise) {
        cairo_arc_negative(_cr, c.x, c.y, radius, start, end);
    } else {
        cairo_arc(_cr, c.x, c.y, radius, start, end);
    }
}

void Canvas::closePath() {
    cairo_close_path(_cr);
}

void Canvas::addRect(Rect r) {
    cairo_rectangle(_cr, r.x(), r.y(), r.width(), r.height());
}

void Canvas::addRoundedRect(Rect r, double radius) {
    radius = std::clamp(radius, 0.0, std::min(r.width(), r.height()) / 2);
    if (radius <= 0) {
        addRect(r);
        return;
    }
    cairo_new_sub_path(_cr);
    cairo_arc(_cr, r.maxX() - radius, r.minY() + radius, radius, -M_PI / 2, 0);
    cairo_arc(_cr, r.maxX() - radius, r.maxY() - radius, radius, 0, M_PI / 2);
    cairo_arc(_cr, r.minX() + radius, r.maxY() - radius, radius, M_PI / 2, M_PI);
    cairo_arc(_cr, r.minX() + radius, r.minY() + radius, radius, M_PI, 3 * M_PI / 2);
    cairo_close_path(_cr);
}

void Canvas::addEllipse(Rect r) {
    if (r.isEmpty()) return;
    cairo_save(_cr);
    cairo_translate(_cr, r.midX(), r.midY());
    cairo_scale(_cr, r.width() / 2, r.height() / 2);
    cairo_new_sub_path(_cr);
    cairo_arc(_cr, 0, 0, 1, 0, 2 * M_PI);
    cairo_close_path(_cr);
    cairo_restore(_cr);
}

void Canvas::fill(Color color, bool keepPath) {
    setSource(_cr, color);
    if (keepPath) {
        cairo_fill_preserve(_cr);
    } else {
        cairo_fill(_cr);
    }
}

void Canvas::stroke(Color color, bool keepPath) {
    setSource(_cr, color);
    if (keepPath) {
        cairo_stroke_preserve(_cr);
    } else {
        cairo_stroke(_cr);
    }
}

void Canvas::fillRect(Rect rect, Color color) {
    cairo_new_path(_cr);
    addRect(rect);
    fill(color);
}

void Canvas::strokeRect(Rect rect, Color color) {
    cairo_new_path(_cr);
    addRect(rect);
    stroke(color);
}

void Canvas::setLineWidth(double width) {
    cairo_set_line_width(_cr, std::max(width, 0.0));
}
double Canvas::lineWidth() const {
    return cairo_get_line_width(_cr);
}

void Canvas::save() {
    cairo_save(_cr);
}
void Canvas::restore() {
    cairo_restore(_cr);
}
void Canvas::translate(double dx, double dy) {
    cairo_translate(_cr, dx, dy);
}
void Canvas::scaleBy(double sx, double sy) {
    if (sx == 0 || sy == 0) return;  // a singular matrix would put cairo in an error state
    cairo_scale(_cr, sx, sy);
}
void Canvas::rotate(double radians) {
    cairo_rotate(_cr, radians);
}
void Canvas::clip() {
    cairo_clip(_cr);
}

void Canvas::clipToRect(Rect rect) {
    cairo_new_path(_cr);
    addRect(rect);
    cairo_clip(_cr);
}

bool Canvas::hasFontFamily(const std::string& family) {
    return installedFamilies().count(lower(family)) > 0;
}

Size Canvas::measureText(const std::string& text, const Font& font, double width) {
    if (text.empty() || !usableFont(font)) return {0, 0};
    auto layout = makeLayout(_cr, text, font);
    pango_layout_set_width(layout.get(), static_cast<int>(std::max(width, 1.0) * PANGO_SCALE));
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    return {double(logical.width) / PANGO_SCALE, double(logical.height) / PANGO_SCALE};
}

Size Canvas::measureText(const std::string& text, const Font& font) {
    if (text.empty() || !usableFont(font)) return {0, 0};
    auto layout = makeLayout(_cr, text, font);
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    return {double(logical.width) / PANGO_SCALE, double(logical.height) / PANGO_SCALE};
}

void Canvas::drawText(const std::string& text, Point origin, const Font& font, Color color) {
    if (text.empty() || !usableFont(font)) return;
    auto layout = makeLayout(_cr, text, font);
    cairo_new_path(_cr);
    cairo_move_to(_cr, origin.x, origin.y);
    setSource(_cr, color);
    pango_cairo_show_layout(_cr, layout.get());
    cairo_new_path(_cr);
}

void Canvas::drawText(const std::string& text, Rect rect, const Font& font, Color color,
                      TextAlignment alignment) {
    drawText(text, rect, font, color, alignment, 1);
}

void Canvas::drawText(const std::string& text, Rect rect, const Font& font, Color color,
                      TextAlignment alignment, int maxLines) {
    if (text.empty() || rect.isEmpty() || !usableFont(font)) return;
    auto layout = makeLayout(_cr, text, font);
    pango_layout_set_width(layout.get(), static_cast<int>(rect.width() * PANGO_SCALE));
    pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
    if (maxLines == 1) {
        pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
    } else {
        pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
        // A negative height limits the paragraph to that many lines.
        pango_layout_set_height(layout.get(), maxLines > 1 ? -maxLines : -1000);
    }
    pango_layout_set_alignment(layout.get(), alignment == TextAlignment::Center ? PANGO_ALIGN_CENTER
                                             : alignment == TextAlignment::Right
                                                 ? PANGO_ALIGN_RIGHT
                                                 : PANGO_ALIGN_LEFT);
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    double height = double(logical.height) / PANGO_SCALE;
    cairo_new_path(_cr);
    cairo_move_to(_cr, rect.minX(), rect.midY() - height / 2);
    setSource(_cr, color);
    pango_cairo_show_layout(_cr, layout.get());
    cairo_new_path(_cr);
}

void Canvas::drawImage(const Image& image, Rect rect, double alpha) {
    if (image.empty() || rect.isEmpty() || alpha <= 0) return;
    if (image.pixels().size() < std::size_t(image.width()) * std::size_t(image.height()) * 4) {
        Log::warn("Canvas: image with too few pixels not drawn");
        return;
    }
    // Cairo wants premultiplied native-endian ARGB.
    cairo_surface_t* src =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, image.width(), image.height());
    if (cairo_surface_status(src) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(src);
        return;
    }
    cairo_surface_flush(src);
    std::uint8_t* dst = cairo_image_surface_get_data(src);
    int rowBytes = cairo_image_surface_get_stride(src);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(dst + static_cast<std::size_t>(y) * rowBytes);
        for (int x = 0; x < image.width(); ++x) {
            const std::uint8_t* p = image.pixel(x, y);
            std::uint32_t a = p[3];
            std::uint32_t r = (p[0] * a + 127) / 255, g = (p[1] * a + 127) / 255,
                          b = (p[2] * a + 127) / 255;
            row[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    cairo_surface_mark_dirty(src);
    cairo_save(_cr);
    cairo_new_path(_cr);
    cairo_translate(_cr, rect.minX(), rect.minY());
    cairo_scale(_cr, rect.width() / image.width(), rect.height() / image.height());
    cairo_set_source_surface(_cr, src, 0, 0);
    cairo_pattern_set_extend(cairo_get_source(_cr), CAIRO_EXTEND_PAD);
    cairo_rectangle(_cr, 0, 0, image.width(), image.height());
    cairo_clip(_cr);
    cairo_paint_with_alpha(_cr, std::min(alpha, 1.0));
    cairo_restore(_cr);
    cairo_surface_destroy(src);
}

}  // namespace quorbit::platform
