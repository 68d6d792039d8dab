#include "platform/ui/Button.h"

#include <cmath>

namespace quorbit::platform {

namespace {

// How far outside its bounds a finger may stray and still count as inside the button.
constexpr double kTouchSlop = 30;

Canvas& measuringCanvas() {
    static Canvas canvas(1, 1);
    return canvas;
}

// A copy of image with its colour scaled down, for a pressed button without its own image.
std::shared_ptr<const Image> darkened(const Image& image) {
    auto copy = std::make_shared<Image>(image);
    for (size_t i = 0; i + 3 < copy->pixels().size(); i += 4) {
        for (size_t c = 0; c < 3; ++c) {
            copy->pixels()[i + c] = static_cast<std::uint8_t>(copy->pixels()[i + c] * 2 / 3);
        }
    }
    return copy;
}

}  // namespace

Button::Button(Rect frame, Type type) : View(frame), _type(type) {
    setOpaque(false);
    if (type == Type::RoundedRect) {
        _titleColors[Normal] = Color{0.196, 0.310, 0.522, 1};
        _titleColors[Highlighted] = Color::white();
    }
}

Button::~Button() = default;

std::shared_ptr<Button> Button::create(Type type, Rect frame) {
    return std::make_shared<Button>(frame, type);
}

template <typename T>
std::optional<T> Button::lookup(const std::map<unsigned, T>& table, unsigned state) {
    if (auto it = table.find(state); it != table.end()) return it->second;
    // Selected and highlighted at once falls back to either, then to normal.
    if (state & Highlighted) {
        if (auto it = table.find(Highlighted); it != table.end()) return it->second;
    }
    if (state & Selected) {
        if (auto it = table.find(Selected); it != table.end()) return it->second;
    }
    if (auto it = table.find(Normal); it != table.end()) return it->second;
    return std::nullopt;
}

void Button::setTitle(std::optional<std::string> title, unsigned state) {
    if (title) {
        _titles[state] = std::move(*title);
    } else {
        _titles.erase(state);
    }
    setNeedsDisplay();
}

std::optional<std::string> Button::titleForState(unsigned state) const {
    return lookup(_titles, state);
}

void Button::setTitleColor(std::optional<Color> color, unsigned state) {
    if (color) {
        _titleColors[state] = *color;
    } else {
        _titleColors.erase(state);
    }
    setNeedsDisplay();
}

Color Button::titleColorForState(unsigned state) const {
    return lookup(_titleColors, state).value_or(Color::white());
}

void Button::setImage(std::shared_ptr<const Image> image, unsigned state) {
    if (image) {
        _images[state] = std::move(image);
    } else {
        _images.erase(state);
    }
    setNeedsDisplay();
}

std::shared_ptr<const Image> Button::imageForState(unsigned state) const {
    return lookup(_images, state).value_or(nullptr);
}

void Button::setBackgroundImage(std::shared_ptr<const Image> image, unsigned state) {
    if (image) {
        _backgroundImages[state] = std::move(image);
    } else {
        _backgroundImages.erase(state);
    }
    setNeedsDisplay();
}

std::shared_ptr<const Image> Button::backgroundImageForState(unsigned state) const {
    return lookup(_backgroundImages, state).value_or(nullptr);
}

void Button::setFont(Font font) {
    _font = std::move(font);
    setNeedsDisplay();
}

unsigned Button::state() const {
    unsigned s = Normal;
    if (_highlighted) s |= Highlighted;
    if (!_enabled) s |= Disabled;
    if (_selected) s |= Selected;
    return s;
}

void Button::setEnabled(bool enabled) {
    if (enabled == _enabled) return;
    _enabled = enabled;
    if (!enabled) setHighlighted(false);
    setNeedsDisplay();
}

void Button::setSelected(bool selected) {
    if (selected == _selected) return;
    _selected = selected;
    setNeedsDisplay();
}

void Button::setHighlighted(bool highlighted) {
    if (highlighted == _highlighted) return;
    _highlighted = highlighted;
    setNeedsDisplay();
}

void Button::setShowsTouchWhenHighlighted(bool on) {
    _showsTouchWhenHighlighted = on;
    setNeedsDisplay();
}

void Button::setAdjustsImageWhenHighlighted(bool on) {
    _adjustsImageWhenHighlighted = on;
    setNeedsDisplay();
}

void Button::addAction(Action action, Event event) {
    if (action) _actions.emplace_back(event, std::move(action));
}

void Button::removeAllActions() {
    _actions.clear();
}

void Button::sendActions(Event event) {
    // An action may change the list or let go of the button: run a copy, keeping it alive.
    auto keepAlive = weak_from_this().lock();
    auto actions = _actions;
    for (auto& [e, action] : actions) {
        if (e == event) action(*this);
    }
}

View* Button::hitTest(Point p) {
    if (!_enabled) return nullptr;
    return View::hitTest(p);
}

bool Button::touchInside(const Touch& touch) const {
    Point p = touch.locationIn(this);
    return bounds().insetBy(-kTouchSlop, -kTouchSlop).contains(p);
}

void Button::touchesBegan(const std::vector<Touch>& touches) {
    if (touches.empty() || _trackingTouch || !_enabled) return;
    _trackingTouch = touches.front().id;
    setHighlighted(true);
    sendActions(Event::TouchDown);
}

void Button::touchesMoved(const std::vector<Touch>& touches) {
    for (const Touch& touch : touches) {
        if (touch.id == _trackingTouch) setHighlighted(touchInside(touch));
    }
}

void Button::touchesEnded(const std::vector<Touch>& touches) {
    for (const Touch& touch : touches) {
        if (touch.id != _trackingTouch) continue;
        _trackingTouch.reset();
        bool inside = touchInside(touch);
        setHighlighted(false);
        if (_enabled) sendActions(inside ? Event::TouchUpInside : Event::TouchUpOutside);
        return;
    }
}

void Button::touchesCancelled(const std::vector<Touch>& touches) {
    for (const Touch& touch : touches) {
        if (touch.id != _trackingTouch) continue;
        _trackingTouch.reset();
        setHighlighted(false);
        sendActions(Event::TouchCancel);
        return;
    }
}

void Button::draw(Canvas& canvas) {
    Rect b = bounds();
    unsigned s = state();
    double contentAlpha = _enabled ? 1.0 : 0.5;

    if (_type == Type::RoundedRect) {
        canvas.beginPath();
        canvas.addRoundedRect(b.insetBy(0.5, 0.5), 9);
        canvas.fill(_highlighted ? Color{0.02, 0.45, 0.94, 1} : Color::white(), true);
        canvas.setLineWidth(1);
        canvas.stroke(Color{0.55, 0.55, 0.58, 1});
    }

    if (auto background = backgroundImageForState(s)) {
        canvas.drawImage(*background, b, contentAlpha);
    }

    // Image and title side by side, centred together.
    auto image = imageForState(s);
    if (image && _highlighted && _adjustsImageWhenHighlighted && !_images.count(Highlighted)) {
        image = darkened(*image);
    }
    auto title = titleForState(s);
    Size imageSize = image ? Size{double(image->width()), double(image->height())} : Size{};
    if (image && (imageSize.width > b.width() || imageSize.height > b.height())) {
        double k = std::min(b.width() / imageSize.width, b.height() / imageSize.height);
        imageSize = {imageSize.width * k, imageSize.height * k};
    }
    Size titleSize = title ? measuringCanvas().measureText(*title, _font) : Size{};
    titleSize.width = std::min(titleSize.width, b.width() - imageSize.width);
    double total = imageSize.width + titleSize.width;
    double x = std::floor(b.midX() - total / 2);
    if (image) {
        canvas.drawImage(
            *image,
            Rect(x, std::floor(b.midY() - imageSize.height / 2), imageSize.width, imageSize.height),
            contentAlpha);
        x += imageSize.width;
    }
    if (title && titleSize.width > 0) {
        Color color = titleColorForState(s);
        color.a *= contentAlpha;
        canvas.drawText(*title, Rect(x, b.minY(), titleSize.width + 1, b.height()), _font, color,
                        TextAlignment::Center);
    }

    if (_highlighted && _showsTouchWhenHighlighted) {
        // A soft white glow: concentric discs, brightest in the middle.
        double radius = std::min(20.0, std::max(b.width(), b.height()) / 2);
        for (int ring = 8; ring >= 1; --ring) {
            double r = radius * ring / 8;
            canvas.beginPath();
            canvas.arc({b.midX(), b.midY()}, r, 0, 2 * M_PI);
            canvas.fill(Color{1, 1, 1, 0.12});
        }
    }
}

}  // namespace quorbit::platform
