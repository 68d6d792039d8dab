#include "platform/ui/ActivityIndicator.h"

#include <chrono>
#include <cmath>

#include "platform/gfx/Canvas.h"

namespace quorbit::platform {

namespace {
constexpr auto kStepInterval = std::chrono::milliseconds(1000 / ActivityIndicator::kSpokes);
}

ActivityIndicator::ActivityIndicator(Style style) : _style(style) {
    setOpaque(false);
    setUserInteractionEnabled(false);
    sizeToFit();
    setHidden(true);
}

ActivityIndicator::~ActivityIndicator() = default;

void ActivityIndicator::setStyle(Style style) {
    _style = style;
    sizeToFit();
    setNeedsDisplay();
}

void ActivityIndicator::sizeToFit() {
    double side = _style == Style::WhiteLarge ? 37 : 20;
    Point c = center();
    setFrame(Rect(c.x - side / 2, c.y - side / 2, side, side));
}

void ActivityIndicator::startAnimating() {
    setHidden(false);
    if (_timer || _pausedOffScreen) return;
    if (!superview()) {
        _pausedOffScreen = true;  // starts turning once it is put on screen
        return;
    }
    _timer = RunLoop::main().timer(
        kStepInterval, [this] { step(); }, kStepInterval);
}

void ActivityIndicator::stopAnimating() {
    _timer.reset();
    _pausedOffScreen = false;
    if (_hidesWhenStopped) setHidden(true);
}

void ActivityIndicator::setHidesWhenStopped(bool on) {
    _hidesWhenStopped = on;
    setHidden(on && !isAnimating());
}

void ActivityIndicator::didMoveToSuperview() {
    // Off screen, nothing needs to turn; the spokes pick up where they were when put back.
    if (!superview() && _timer) {
        _timer.reset();
        _pausedOffScreen = true;
    } else if (superview() && _pausedOffScreen) {
        _pausedOffScreen = false;
        _timer = RunLoop::main().timer(
            kStepInterval, [this] { step(); }, kStepInterval);
    }
}

void ActivityIndicator::step() {
    _phase = (_phase + 1) % kSpokes;
    setNeedsDisplay();
}

void ActivityIndicator::draw(Canvas& canvas) {
    Rect b = bounds();
    double radius = std::min(b.width(), b.height()) / 2;
    double inner = radius * 0.45;
    double width = _style == Style::WhiteLarge ? 4 : 2.2;
    Color base = _style == Style::Gray ? Color{0.4, 0.4, 0.4, 1} : Color::white();
    int phase = _phase;
    canvas.setLineWidth(width);
    for (int i = 0; i < kSpokes; ++i) {
        // The brightest spoke is the current phase; those behind it fade out.
        int age = (phase - i + kSpokes) % kSpokes;
        double alpha = 1.0 - 0.75 * age / (kSpokes - 1);
        double angle = -M_PI / 2 + 2 * M_PI * i / kSpokes;
        double cs = std::cos(angle), sn = std::sin(angle);
        canvas.beginPath();
        canvas.moveTo({b.midX() + cs * inner, b.midY() + sn * inner});
        canvas.lineTo({b.midX() + cs * (radius - width / 2), b.midY() + sn * (radius - width / 2)});
        canvas.stroke(base.withAlpha(alpha));
    }
}

}  // namespace quorbit::platform
