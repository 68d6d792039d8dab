#include "screens/camera/ControlArt.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

namespace quorbit::camera_screen::ControlArt {

using platform::Canvas;
using platform::Color;
using platform::Point;
using platform::Rect;

namespace {

constexpr double kUnits = 24;    // glyphs are designed on a 24 x 24 grid
constexpr double kStroke = 1.7;  // line width on that grid
constexpr double kPi = M_PI;

double radians(double degrees) {
    return degrees * kPi / 180;
}

// How much of the glyph shows in each state.
double stateAlpha(ControlState state) {
    switch (state) {
        case ControlState::Normal:
            return 1;
        case ControlState::Pressed:
            return 0.5;
        case ControlState::Disabled:
            return 0.3;
    }
    return 1;
}

void roundLines(Canvas& canvas) {
    cairo_set_line_cap(canvas.cairo(), CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(canvas.cairo(), CAIRO_LINE_JOIN_ROUND);
    canvas.setLineWidth(kStroke);
}

void circle(Canvas& canvas, Point centre, double radius) {
    canvas.beginPath();
    canvas.arc(centre, radius, 0, 2 * kPi);
    canvas.closePath();
}

void line(Canvas& canvas, Point from, Point to) {
    canvas.beginPath();
    canvas.moveTo(from);
    canvas.lineTo(to);
    canvas.stroke(kGlyph);
}

// A stroke through the glyph from top left to bottom right, with a cut on either side of it
// so that it reads as "off".
void strikeThrough(Canvas& canvas) {
    cairo_t* cr = canvas.cairo();
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    canvas.setLineWidth(kStroke * 3);
    line(canvas, {4, 3}, {21, 20});
    cairo_restore(cr);
    canvas.setLineWidth(kStroke);
    line(canvas, {4, 3}, {21, 20});
}

// An arrowhead at the end of an arc about centre, pointing along the direction of travel.
void arcArrow(Canvas& canvas, Point centre, double radius, double angle, bool clockwise) {
    Point tip{centre.x + radius * std::cos(angle), centre.y + radius * std::sin(angle)};
    double along = angle + (clockwise ? kPi / 2 : -kPi / 2);
    Point direction{std::cos(along), std::sin(along)};
    Point normal{-direction.y, direction.x};
    double length = 2.6, half = 2.0;
    canvas.beginPath();
    canvas.moveTo({tip.x + direction.x * 1.2, tip.y + direction.y * 1.2});
    canvas.lineTo({tip.x - direction.x * length + normal.x * half,
                   tip.y - direction.y * length + normal.y * half});
    canvas.lineTo({tip.x - direction.x * length - normal.x * half,
                   tip.y - direction.y * length - normal.y * half});
    canvas.closePath();
    canvas.fill(kGlyph);
}

void drawShutter(Canvas& canvas, ControlState state) {
    // A light ring, a dark gap and a light disc that sinks a little while pressed.
    circle(canvas, {12, 12}, 11.2);
    canvas.setLineWidth(1.6);
    canvas.stroke(kGlyph);
    bool pressed = state == ControlState::Pressed;
    circle(canvas, {12, 12}, pressed ? 8.2 : 9.0);
    canvas.fill(pressed ? Color{0.72, 0.72, 0.74, 1} : kGlyph);
}

// The shutter of video mode: the same ring around a red disc, or a red square while recording.
void drawRecord(Canvas& canvas, ControlState state, bool recording) {
    circle(canvas, {12, 12}, 11.2);
    canvas.setLineWidth(1.6);
    canvas.stroke(kGlyph);
    const Color red =
        state == ControlState::Pressed ? Color{0.70, 0.10, 0.08, 1} : Color{0.92, 0.16, 0.12, 1};
    if (recording) {
        canvas.beginPath();
        canvas.addRoundedRect(Rect(7.5, 7.5, 9, 9), 1.6);
    } else {
        circle(canvas, {12, 12}, state == ControlState::Pressed ? 8.2 : 9.0);
    }
    canvas.fill(red);
}

void drawFilters(Canvas& canvas) {
    const Point centres[] = {{12, 8.4}, {8.3, 14.8}, {15.7, 14.8}};
    for (Point c : centres) {
        circle(canvas, c, 5.4);
        canvas.fill(kGlyph.withAlpha(0.16));
    }
    for (Point c : centres) {
        circle(canvas, c, 5.4);
        canvas.stroke(kGlyph);
    }
}

void drawSwitchCamera(Canvas& canvas) {
    // The body with its viewfinder hump.
    canvas.beginPath();
    canvas.moveTo({8.2, 6.8});
    canvas.lineTo({9.6, 4.6});
    canvas.lineTo({14.4, 4.6});
    canvas.lineTo({15.8, 6.8});
    canvas.lineTo({19.2, 6.8});
    canvas.arc({19.2, 9.3}, 2.5, -kPi / 2, 0);
    canvas.lineTo({21.7, 17.2});
    canvas.arc({19.2, 17.2}, 2.5, 0, kPi / 2);
    canvas.lineTo({4.8, 19.7});
    canvas.arc({4.8, 17.2}, 2.5, kPi / 2, kPi);
    canvas.lineTo({2.3, 9.3});
    canvas.arc({4.8, 9.3}, 2.5, kPi, 3 * kPi / 2);
    canvas.closePath();
    canvas.stroke(kGlyph);
    // Two arrows turning about the lens.
    Point c{12, 13.2};
    double r = 4.1;
    canvas.setLineWidth(1.4);
    canvas.beginPath();
    canvas.arc(c, r, radians(200), radians(330));
    canvas.stroke(kGlyph);
    arcArrow(canvas, c, r, radians(330), true);
    canvas.beginPath();
    canvas.arc(c, r, radians(20), radians(150));
    canvas.stroke(kGlyph);
    arcArrow(canvas, c, r, radians(150), true);
    canvas.setLineWidth(kStroke);
}

void drawSettings(Canvas& canvas) {
    const int teeth = 8;
    const double outer = 10.2, inner = 7.7, step = 2 * kPi / teeth;
    const double topHalf = radians(9), rootHalf = radians(13.5);
    Point c{12, 12};
    canvas.beginPath();
    for (int i = 0; i < teeth; ++i) {
        double a = i * step - kPi / 2;
        Point start{c.x + inner * std::cos(a - step / 2 + rootHalf),
                    c.y + inner * std::sin(a - step / 2 + rootHalf)};
        if (i == 0) canvas.moveTo(start);
        canvas.arc(c, inner, a - step / 2 + rootHalf, a - topHalf - radians(8));
        canvas.arc(c, outer, a - topHalf, a + topHalf);
        canvas.arc(c, inner, a + topHalf + radians(8), a + step / 2 - rootHalf);
    }
    canvas.closePath();
    canvas.stroke(kGlyph);
    circle(canvas, c, 3.3);
    canvas.stroke(kGlyph);
}

void drawStopwatch(Canvas& canvas, Point c, double r) {
    circle(canvas, c, r);
    canvas.stroke(kGlyph);
    line(canvas, {c.x, c.y - r}, {c.x, c.y - r - 1.9});
    line(canvas, {c.x - 2.2, c.y - r - 2.3}, {c.x + 2.2, c.y - r - 2.3});
    double a = radians(-45);
    line(canvas, {c.x + (r + 1.2) * std::cos(a), c.y + (r + 1.2) * std::sin(a)},
         {c.x + (r + 2.6) * std::cos(a), c.y + (r + 2.6) * std::sin(a)});
    line(canvas, c, {c.x, c.y - r * 0.55});
    line(canvas, c, {c.x + r * 0.4, c.y + r * 0.2});
}

void drawTimer(Canvas& canvas, const char* seconds) {
    if (!seconds) {
        drawStopwatch(canvas, {12, 13.2}, 7.6);
        strikeThrough(canvas);
        return;
    }
    drawStopwatch(canvas, {9.0, 13.2}, 6.9);
    // The number in the bottom right corner, as large as fits there.
    const double right = 24.2, width = 9.6, baseSize = 10;
    platform::Font font = platform::Font::boldSystem(baseSize);
    platform::Size size = canvas.measureText(seconds, font);
    if (size.width > width) {
        font.size = baseSize * width / size.width;
        size = canvas.measureText(seconds, font);
    }
    canvas.drawText(seconds, Point{right - size.width, 24.6 - size.height}, font, kAccent);
}

void boltPath(Canvas& canvas) {
    canvas.beginPath();
    canvas.moveTo({13.6, 2.2});
    canvas.lineTo({5.2, 13.4});
    canvas.lineTo({11.4, 13.4});
    canvas.lineTo({10.2, 21.8});
    canvas.lineTo({18.8, 10.2});
    canvas.lineTo({12.6, 10.2});
    canvas.closePath();
}

void drawFlash(Canvas& canvas, bool on) {
    boltPath(canvas);
    if (on) {
        canvas.fill(kAccent, true);
        canvas.stroke(kAccent);
        return;
    }
    canvas.stroke(kGlyph);
    strikeThrough(canvas);
}

void drawPhoto(Canvas& canvas) {
    canvas.beginPath();
    canvas.addRoundedRect(Rect(3, 5, 18, 14), 2.2);
    canvas.stroke(kGlyph);
    canvas.beginPath();
    canvas.moveTo({5.5, 16.5});
    canvas.lineTo({10, 11.4});
    canvas.lineTo({13.2, 14.6});
    canvas.lineTo({15.2, 12.6});
    canvas.lineTo({18.6, 16.5});
    canvas.stroke(kGlyph);
    circle(canvas, {15.4, 8.9}, 1.6);
    canvas.fill(kGlyph);
}

}  // namespace

void drawBar(Canvas& canvas, Rect rect) {
    if (rect.isEmpty()) return;
    cairo_t* cr = canvas.cairo();
    cairo_save(cr);
    cairo_pattern_t* gradient = cairo_pattern_create_linear(0, rect.minY(), 0, rect.maxY());
    cairo_pattern_add_color_stop_rgb(gradient, 0, kBarTop.r, kBarTop.g, kBarTop.b);
    cairo_pattern_add_color_stop_rgb(gradient, 1, kBarBottom.r, kBarBottom.g, kBarBottom.b);
    cairo_rectangle(cr, rect.minX(), rect.minY(), rect.width(), rect.height());
    cairo_set_source(cr, gradient);
    cairo_fill(cr);
    cairo_pattern_destroy(gradient);
    cairo_restore(cr);
    canvas.fillRect(Rect(rect.minX(), rect.minY(), rect.width(), std::min(0.5, rect.height())),
                    Color{1, 1, 1, 0.12});
}

void drawGlyph(Canvas& canvas, Glyph glyph, Rect rect, ControlState state) {
    double side = std::min(rect.width(), rect.height());
    if (side <= 0) return;
    cairo_t* cr = canvas.cairo();
    // The glyph is drawn as one layer so that its cuts show what lies below and every state
    // fades it as a whole.
    cairo_push_group(cr);
    canvas.save();
    canvas.translate(rect.midX() - side / 2, rect.midY() - side / 2);
    canvas.scaleBy(side / kUnits, side / kUnits);
    roundLines(canvas);
    switch (glyph) {
        case Glyph::Shutter:
            drawShutter(canvas, state);
            break;
        case Glyph::Record:
        case Glyph::Stop:
            drawRecord(canvas, state, glyph == Glyph::Stop);
            break;
        case Glyph::Filters:
            drawFilters(canvas);
            break;
        case Glyph::SwitchCamera:
            drawSwitchCamera(canvas);
            break;
        case Glyph::Settings:
            drawSettings(canvas);
            break;
        case Glyph::TimerOff:
            drawTimer(canvas, nullptr);
            break;
        case Glyph::Timer3:
            drawTimer(canvas, "3");
            break;
        case Glyph::Timer10:
            drawTimer(canvas, "10");
            break;
        case Glyph::FlashOff:
            drawFlash(canvas, false);
            break;
        case Glyph::FlashOn:
            drawFlash(canvas, true);
            break;
        case Glyph::Photo:
            drawPhoto(canvas);
            break;
    }
    canvas.restore();
    cairo_pop_group_to_source(cr);
    // The shutter shows its press in its own drawing.
    double alpha =
        glyph == Glyph::Shutter && state == ControlState::Pressed ? 1 : stateAlpha(state);
    cairo_paint_with_alpha(cr, alpha);
}

void drawPlayMark(Canvas& canvas, Point centre, double radius) {
    circle(canvas, centre, radius);
    canvas.fill(Color{0, 0, 0, 0.5});
    canvas.beginPath();
    canvas.moveTo({centre.x - radius * 0.4, centre.y - radius * 0.55});
    canvas.lineTo({centre.x + radius * 0.6, centre.y});
    canvas.lineTo({centre.x - radius * 0.4, centre.y + radius * 0.55});
    canvas.closePath();
    canvas.fill(kGlyph);
}

void drawThumbnail(Canvas& canvas, Rect rect, const platform::Image* photo, ControlState state,
                   bool clip) {
    double side = std::min(rect.width(), rect.height());
    if (side <= 0) return;
    Rect square(rect.midX() - side / 2, rect.midY() - side / 2, side, side);
    double radius = side * 0.16;
    canvas.save();
    canvas.beginPath();
    canvas.addRoundedRect(square, radius);
    canvas.clip();
    canvas.fillRect(square, Color{0.16, 0.16, 0.18, 1});
    if (photo && !photo->empty()) {
        // Cropped to fill the square about the photo's centre.
        double k = side / std::min(photo->width(), photo->height());
        double w = photo->width() * k, h = photo->height() * k;
        canvas.drawImage(*photo, Rect(square.midX() - w / 2, square.midY() - h / 2, w, h));
    } else {
        drawGlyph(canvas, Glyph::Photo, square.insetBy(side * 0.2, side * 0.2),
                  ControlState::Disabled);
    }
    if (clip) drawPlayMark(canvas, {square.midX(), square.midY()}, side * 0.22);
    if (state != ControlState::Normal) canvas.fillRect(square, Color{0, 0, 0, 0.4});
    canvas.restore();
    canvas.beginPath();
    double edge = std::max(1.0, side / 28);
    canvas.addRoundedRect(square.insetBy(edge / 2, edge / 2), radius - edge / 2);
    canvas.setLineWidth(edge);
    canvas.stroke(kGlyph.withAlpha(state == ControlState::Normal ? 0.9 : 0.5));
}

platform::Image renderGlyph(Glyph glyph, platform::Size size, double scale, ControlState state) {
    int width = std::max(1, int(std::lround(size.width * scale)));
    int height = std::max(1, int(std::lround(size.height * scale)));
    Canvas canvas(width, height, scale);
    canvas.clear();
    drawGlyph(canvas, glyph, Rect(0, 0, size.width, size.height), state);
    return canvas.toImage();
}

}  // namespace quorbit::camera_screen::ControlArt
