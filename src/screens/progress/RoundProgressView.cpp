#include "screens/progress/RoundProgressView.h"

#include <cmath>

#include "platform/gfx/Canvas.h"

namespace quorbit::hud {

using platform::Color;
using platform::Point;
using platform::Rect;

RoundProgressView::RoundProgressView()
    : RoundProgressView(Rect(0, 0, kDefaultSize, kDefaultSize)) {}

RoundProgressView::RoundProgressView(Rect frame) : ProgressView(frame) {}

void RoundProgressView::draw(platform::Canvas& canvas) {
    Rect b = bounds();
    Rect circle(b.x() + 2, b.y() + 2, b.width() - 4, b.height() - 4);
    canvas.setLineWidth(2);
    canvas.beginPath();
    canvas.addEllipse(circle);
    canvas.fill(Color::white().withAlpha(0.1), true);
    canvas.stroke(Color::white());

    // The pie: from the centre up to twelve o'clock, clockwise round by the progress.
    Point centre{b.width() / 2, b.height() / 2};
    double radius = (b.width() - 4) / 2;
    double start = -M_PI / 2;
    canvas.beginPath();
    canvas.moveTo(centre);
    canvas.arc(centre, radius, start, progress() * 2 * M_PI + start);
    canvas.closePath();
    canvas.fill(Color::white());
}

}  // namespace quorbit::hud
