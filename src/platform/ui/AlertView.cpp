#include "platform/ui/AlertView.h"

#include <algorithm>
#include <cmath>

#include "platform/core/Log.h"
#include "platform/core/Translate.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/Window.h"

namespace quorbit::platform {

namespace {

constexpr double kWidth = 284;
constexpr double kMargin = 12;
constexpr double kButtonHeight = 43;
constexpr double kButtonGap = 8;
const Color kBoxColor{0.05, 0.12, 0.33, 0.88};
const Color kButtonColor{0.42, 0.48, 0.62, 0.9};
const Color kCancelButtonColor{0.25, 0.30, 0.42, 0.9};

// Alerts on screen, bottom to top; each keeps itself alive while it is here.
std::vector<std::shared_ptr<AlertView>>& shownAlerts() {
    static std::vector<std::shared_ptr<AlertView>> alerts;
    return alerts;
}

Canvas& measuringCanvas() {
    static Canvas canvas(1, 1);
    return canvas;
}

// A rounded, translucent button drawn on the alert's box.
class AlertButton : public Button {
  public:
    explicit AlertButton(bool cancel) : _cancel(cancel) {
        setFont(Font::boldSystem(17));
        setTitleColor(Color::white());
    }
    void draw(Canvas& canvas) override {
        Rect b = bounds().insetBy(0.5, 0.5);
        canvas.beginPath();
        canvas.addRoundedRect(b, 6);
        Color fill = _cancel ? kCancelButtonColor : kButtonColor;
        if (isHighlighted()) fill = Color{0.55, 0.65, 0.85, 1};
        canvas.fill(fill, true);
        canvas.setLineWidth(1);
        canvas.stroke(Color{1, 1, 1, 0.5});
        Button::draw(canvas);
    }

  private:
    bool _cancel;
};

}  // namespace

AlertView::AlertView(std::string title, std::string message, AlertViewDelegate* delegate,
                     std::optional<std::string> cancelButtonTitle,
                     std::vector<std::string> otherButtonTitles)
    : View(Rect(0, 0, kWidth, 100)),
      _title(std::move(title)),
      _message(std::move(message)),
      _delegate(delegate) {
    setOpaque(false);
    setControlName("alert");
    if (cancelButtonTitle) {
        _cancelButtonIndex = 0;
        _buttonTitles.push_back(std::move(*cancelButtonTitle));
    }
    for (auto& other : otherButtonTitles)
        _buttonTitles.push_back(std::move(other));

    _titleLabel = std::make_shared<Label>();
    _titleLabel->setFont(Font::boldSystem(18));
    _titleLabel->setTextColor(Color::white());
    _titleLabel->setTextAlignment(TextAlignment::Center);
    _titleLabel->setNumberOfLines(0);
    _titleLabel->setText(_title);
    _titleLabel->setControlName("alert-title");
    addSubview(_titleLabel);
    _messageLabel = std::make_shared<Label>();
    _messageLabel->setFont(Font::system(16));
    _messageLabel->setTextColor(Color::white());
    _messageLabel->setTextAlignment(TextAlignment::Center);
    _messageLabel->setNumberOfLines(0);
    _messageLabel->setText(_message);
    _messageLabel->setControlName("alert-message");
    addSubview(_messageLabel);
}

AlertView::~AlertView() = default;

std::shared_ptr<AlertView> AlertView::create(std::string title, std::string message,
                                             AlertViewDelegate* delegate,
                                             std::optional<std::string> cancelButtonTitle,
                                             std::vector<std::string> otherButtonTitles) {
    return std::make_shared<AlertView>(std::move(title), std::move(message), delegate,
                                       std::move(cancelButtonTitle), std::move(otherButtonTitles));
}

void AlertView::inform(std::string title, std::string message) {
    create(std::move(title), std::move(message), nullptr, tr("OK"))->show();
}

AlertView* AlertView::visibleAlert() {
    auto& alerts = shownAlerts();
    for (auto it = alerts.rbegin(); it != alerts.rend(); ++it) {
        if (!(*it)->_dismissing) return it->get();
    }
    return nullptr;
}

std::string AlertView::buttonTitleAtIndex(int index) const {
    if (index < 0 || index >= numberOfButtons()) return {};
    return _buttonTitles[static_cast<size_t>(index)];
}

int AlertView::addButtonWithTitle(std::string title) {
    _buttonTitles.push_back(std::move(title));
    if (_visible) {
        rebuildButtons();
        setNeedsLayout();
    }
    return numberOfButtons() - 1;
}

Button* AlertView::buttonAtIndex(int index) const {
    if (index < 0 || index >= static_cast<int>(_buttons.size())) return nullptr;
    return _buttons[static_cast<size_t>(index)].get();
}

void AlertView::rebuildButtons() {
    for (auto& button : _buttons)
        button->removeFromSuperview();
    _buttons.clear();
    for (int i = 0; i < numberOfButtons(); ++i) {
        auto button = std::make_shared<AlertButton>(i == _cancelButtonIndex);
        button->setTitle(_buttonTitles[static_cast<size_t>(i)]);
        button->setControlName("alert-button-" + std::to_string(i));
        std::weak_ptr<View> weak = weak_from_this();
        button->addAction([weak, i](Button&) {
            if (auto self = weak.lock()) {
                static_cast<AlertView*>(self.get())->dismissWithClickedButtonIndex(i, true);
            }
        });
        addSubview(button);
        _buttons.push_back(button);
    }
}

// Title and message wrap; two buttons sit side by side (cancel on the left), any other
// number stacks with the cancel button at the bottom.
double AlertView::layoutHeight(bool apply) {
    double inner = kWidth - 2 * kMargin;
    double y = kMargin + 4;
    auto place = [&](Label& label) {
        if (label.text().empty()) return;
        Size size = measuringCanvas().measureText(label.text(), label.font(), inner);
        double h = std::ceil(size.height);
        if (apply) label.setFrame(Rect(kMargin, y, inner, h));
        y += h + 8;
    };
    place(*_titleLabel);
    place(*_messageLabel);
    y += 4;
    int count = static_cast<int>(_buttons.size());
    if (count == 2) {
        double w = (inner - kButtonGap) / 2;
        if (apply) {
            _buttons[0]->setFrame(Rect(kMargin, y, w, kButtonHeight));
            _buttons[1]->setFrame(Rect(kMargin + w + kButtonGap, y, w, kButtonHeight));
        }
        y += kButtonHeight + kMargin;
    } else if (count > 0) {
        std::vector<int> order;
        for (int i = 0; i < count; ++i) {
            if (i != _cancelButtonIndex) order.push_back(i);
        }
        if (_cancelButtonIndex >= 0) order.push_back(_cancelButtonIndex);
        for (int i : order) {
            if (apply)
                _buttons[static_cast<size_t>(i)]->setFrame(Rect(kMargin, y, inner, kButtonHeight));
            y += kButtonHeight + kButtonGap;
        }
        y += kMargin - kButtonGap;
    }
    return std::ceil(y);
}

void AlertView::layoutSubviews() {
    layoutHeight(true);
}

void AlertView::draw(Canvas& canvas) {
    Rect b = bounds().insetBy(1, 1);
    canvas.beginPath();
    canvas.addRoundedRect(b, 10);
    canvas.fill(kBoxColor, true);
    canvas.setLineWidth(2);
    canvas.stroke(Color{1, 1, 1, 0.9});
}

void AlertView::show() {
    if (_visible) return;
    auto self = std::static_pointer_cast<AlertView>(shared_from_this());
    _visible = true;
    _dismissing = false;
    shownAlerts().push_back(self);
    // A modal box takes every touch from here on.
    Window::cancelAllTouches();

    rebuildButtons();
    Rect screen = Window::screenBounds();
    _window = std::make_shared<Window>(screen);
    _window->setWindowLevel(Window::kLevelAlert);
    _window->setOpaque(false);
    _window->setBackgroundColor(Color{0, 0, 0, 0.4});
    _window->setControlName("alert-window");
    double height = layoutHeight(false);
    setTransform(AffineTransform::identity());
    setAlpha(1);
    setFrame(Rect(std::floor(screen.midX() - kWidth / 2), std::floor(screen.midY() - height / 2),
                  kWidth, height));
    layoutHeight(true);
    // The box stays in the middle when the window is resized.
    setAutoresizingMask(FlexibleLeftMargin | FlexibleRightMargin | FlexibleTopMargin |
                        FlexibleBottomMargin);
    _window->addSubview(self);
    _previousKeyWindow = Window::keyWindow();
    if (_delegate && _delegate->willPresent) _delegate->willPresent(*this);
    _window->makeKeyAndVisible();
    _window->setFocusedView(this);

    // Pop in: grow a little past full size, then settle.
    setTransform(AffineTransform::scale(0.6, 0.6));
    setAlpha(0);
    std::weak_ptr<AlertView> weak = self;
    Animation::animate(
        0.15,
        [&] {
            setTransform(AffineTransform::scale(1.05, 1.05));
            setAlpha(1);
        },
        [weak](bool) {
            auto alert = weak.lock();
            if (!alert || alert->_dismissing) return;
            Animation::animate(
                0.1, [&] { alert->setTransform(AffineTransform::identity()); },
                [weak](bool) {
                    auto alert = weak.lock();
                    if (alert && !alert->_dismissing && alert->_delegate &&
                        alert->_delegate->didPresent) {
                        alert->_delegate->didPresent(*alert);
                    }
                });
        });
}

void AlertView::dismissWithClickedButtonIndex(int index, bool animated) {
    if (!_visible || _dismissing) return;
    if (index < 0 || index >= numberOfButtons()) {
        Log::warn(format("alert \"%s\": no button %d to dismiss with", _title.c_str(), index));
        return;
    }
    auto self = std::static_pointer_cast<AlertView>(shared_from_this());
    _dismissing = true;
    if (_delegate && _delegate->clickedButtonAtIndex) _delegate->clickedButtonAtIndex(*this, index);
    if (_delegate && _delegate->willDismissWithButtonIndex) {
        _delegate->willDismissWithButtonIndex(*this, index);
    }
    Animation::finishAll(this);
    if (animated) {
        Animation::animate(
            0.2, [&] { setAlpha(0); }, [self, index](bool) { self->finishDismiss(index); });
    } else {
        finishDismiss(index);
    }
}

void AlertView::keyDown(const KeyEvent& event) {
    if (event.key == KeyEvent::Key::Escape && !event.repeat && _cancelButtonIndex >= 0)
        dismissWithClickedButtonIndex(_cancelButtonIndex, true);
}

void AlertView::finishDismiss(int index) {
    auto self = std::static_pointer_cast<AlertView>(shared_from_this());
    removeFromSuperview();
    if (_window) _window->setHidden(true);
    _window.reset();
    // Give the key back to the window that had it, if it still exists.
    auto windows = Window::windows();
    if (Window::keyWindow() == nullptr ||
        std::find(windows.begin(), windows.end(), Window::keyWindow()) == windows.end() ||
        Window::keyWindow()->controlName() == "alert-window") {
        if (std::find(windows.begin(), windows.end(), _previousKeyWindow) != windows.end()) {
            _previousKeyWindow->makeKeyWindow();
        }
    }
    _previousKeyWindow = nullptr;
    auto& alerts = shownAlerts();
    alerts.erase(std::remove(alerts.begin(), alerts.end(), self), alerts.end());
    _visible = false;
    _dismissing = false;
    setAlpha(1);
    if (_delegate && _delegate->didDismissWithButtonIndex) {
        _delegate->didDismissWithButtonIndex(*this, index);
    }
}

}  // namespace quorbit::platform
