#include "facebook/FBDialogArt.h"

#include <cmath>

#include "platform/gfx/Canvas.h"

namespace quorbit::facebook::FBDialogArt {

using platform::Canvas;
using platform::Color;
using platform::Point;
using platform::Rect;

platform::Image renderIcon(int size) {
    Canvas canvas(size, size);
    canvas.clear();
    double s = size / 16.0;  // drawn on a 16-point grid
    canvas.beginPath();
    canvas.addRoundedRect(Rect(0.5 * s, 0.5 * s, 15 * s, 15 * s), 3 * s);
    canvas.fill(Color{1, 1, 1, 1});
    // A person: head and shoulders, in the title bar's dark blue.
    const Color ink{0.23, 0.35, 0.6, 1.0};
    canvas.beginPath();
    canvas.addEllipse(Rect(5.5 * s, 2.5 * s, 5 * s, 5 * s));
    canvas.fill(ink);
    canvas.beginPath();
    canvas.moveTo(Point{2.5 * s, 14 * s});
    canvas.arc(Point{8 * s, 14 * s}, 5.5 * s, M_PI, 2 * M_PI);
    canvas.closePath();
    canvas.fill(ink);
    return canvas.toImage();
}

platform::Image renderClose(int size) {
    Canvas canvas(size, size);
    canvas.clear();
    double s = size / 20.0;  // drawn on a 20-point grid
    canvas.beginPath();
    canvas.addEllipse(Rect(1 * s, 1 * s, 18 * s, 18 * s));
    canvas.fill(Color{0, 0, 0, 0.35});
    canvas.setLineWidth(2.2 * s);
    canvas.beginPath();
    canvas.moveTo(Point{6.5 * s, 6.5 * s});
    canvas.lineTo(Point{13.5 * s, 13.5 * s});
    canvas.moveTo(Point{13.5 * s, 6.5 * s});
    canvas.lineTo(Point{6.5 * s, 13.5 * s});
    canvas.stroke(Color{167 / 255.0, 184 / 255.0, 216 / 255.0, 1.0});
    return canvas.toImage();
}

}  // namespace quorbit::facebook::FBDialogArt
