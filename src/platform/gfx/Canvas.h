#pragma once

#include <cstdint>
#include <string>

#include "platform/core/Geometry.h"
#include "platform/gfx/Image.h"

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

namespace quorbit::platform {

// A typeface for text drawing: a font family, a size in points and a weight.
struct Font {
    std::string family = "DejaVu Sans";
    double size = 17;
    bool bold = false;

    static Font system(double size) { return {"DejaVu Sans", size, false}; }
    static Font boldSystem(double size) { return {"DejaVu Sans", size, true}; }
    bool operator==(const Font&) const = default;
};

enum class TextAlignment { Left, Center, Right };

// 2-D drawing into a W x H pixel bitmap (premultiplied ARGB32, B,G,R,A bytes on little endian)
// with Cairo, and text with Pango. Coordinates are in points; the canvas starts scaled by
// points-to-pixels so that callers never think in pixels.
class Canvas {
  public:
    Canvas(int pixelWidth, int pixelHeight, double scale = 1);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    int pixelWidth() const { return _pixelWidth; }
    int pixelHeight() const { return _pixelHeight; }
    double scale() const { return _scale; }
    // The pixels, flushed; stride bytes per row.
    const std::uint8_t* data();
    int stride() const;
    // The pixels as straight (not premultiplied) RGBA.
    Image toImage();

    // Clears every pixel to colour (transparent by default), ignoring clip and transform.
    void clear(Color color = Color::clear());

    // Paths: a path is built up and then consumed by fill() or stroke().
    void beginPath();
    void moveTo(Point p);
    void lineTo(Point p);
    // An arc about centre from angle start to end (radians, 0 along +x, growing clockwise
    // on screen since y grows down); counterClockwise sweeps the other way.
    void arc(Point centre, double radius, double start, double end, bool counterClockwise = false);
    void closePath();
    void addRect(Rect rect);
    void addRoundedRect(Rect rect, double radius);
    void addEllipse(Rect rect);
    // Fill or stroke the current path; the path is kept only when keepPath is set.
    void fill(Color color, bool keepPath = false);
    void stroke(Color color, bool keepPath = false);
    void fillRect(Rect rect, Color color);
    void strokeRect(Rect rect, Color color);
    void setLineWidth(double width);
    double lineWidth() const;

    // State and transform.
    void save();
    void restore();
    void translate(double dx, double dy);
    void scaleBy(double sx, double sy);
    void rotate(double radians);
    // Intersects the clip with the current path (consumed) or with a rectangle.
    void clip();
    void clipToRect(Rect rect);

    // Text on one line: measure gives the logical size; draw puts the top left at origin.
    Size measureText(const std::string& text, const Font& font);
    void drawText(const std::string& text, Point origin, const Font& font, Color color);
    // The size text takes when wrapped at width.
    Size measureText(const std::string& text, const Font& font, double width);
    // Text in a rectangle, wrapped to at most maxLines lines (0: any number), aligned
    // horizontally and centred vertically; the last line ends in an ellipsis when cut.
    void drawText(const std::string& text, Rect rect, const Font& font, Color color,
                  TextAlignment alignment, int maxLines);
    // Whether a font family is installed (missing ones fall back to another face).
    static bool hasFontFamily(const std::string& family);
    // Text in a rectangle: one line, aligned horizontally and centred vertically, ending in
    // an ellipsis when it does not fit.
    void drawText(const std::string& text, Rect rect, const Font& font, Color color,
                  TextAlignment alignment);

    // Draws image scaled into rect, with an extra opacity.
    void drawImage(const Image& image, Rect rect, double alpha = 1);

    cairo_t* cairo() { return _cr; }

  private:
    int _pixelWidth, _pixelHeight;
    double _scale;
    cairo_surface_t* _surface = nullptr;
    cairo_t* _cr = nullptr;
};

}  // namespace quorbit::platform
