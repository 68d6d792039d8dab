#include "platform/ui/ProgressView.h"

#include <algorithm>
#include <cmath>

#include "platform/gfx/Canvas.h"

namespace quorbit::platform {

ProgressView::ProgressView(Rect frame) : View(frame) {
    setOpaque(false);
    setUserInteractionEnabled(false);
}

void ProgressView::setProgress(double progress) {
    progress = std::isnan(progress) ? 0 : std::clamp(progress, 0.0, 1.0);
    if (progress == _progress) return;
    _progress = progress;
    setNeedsDisplay();
}

void ProgressView::draw(Canvas& canvas) {
    Rect b = bounds().insetBy(0.5, 0.5);
    double radius = b.height() / 2;
    canvas.beginPath();
    canvas.addRoundedRect(b, radius);
    canvas.fill(Color{1, 1, 1, 0.9}, true);
    canvas.setLineWidth(1);
    canvas.stroke(Color{0.45, 0.45, 0.5, 1});
    if (_progress <= 0) return;
    Rect done(b.minX(), b.minY(), std::max(b.height(), b.width() * _progress), b.height());
    canvas.beginPath();
    canvas.addRoundedRect(done, radius);
    canvas.fill(Color{0.2, 0.45, 0.85, 1});
}

}  // namespace quorbit::platform
