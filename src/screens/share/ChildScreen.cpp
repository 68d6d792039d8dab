#include "screens/share/ChildScreen.h"

#include <algorithm>
#include <cmath>

#include "platform/core/Translate.h"
#include "platform/ui/Label.h"
#include "platform/ui/Window.h"

namespace quorbit::share {

namespace {
// The colours of the camera screen's control bar, so that the child screens match it.
constexpr platform::Color kBar{0.13, 0.13, 0.15, 1};
constexpr platform::Color kText{0.96, 0.96, 0.97, 1};
constexpr platform::Color kAccent{1.0, 0.80, 0.16, 1};
}  // namespace

ChildScreen::ChildScreen(std::string title, std::string backControlName)
    : _backControlName(std::move(backControlName)) {
    setTitle(std::move(title));
}

void ChildScreen::loadView() {
    platform::Rect screen = platform::Window::screenBounds();
    auto root = std::make_shared<platform::View>(screen);
    root->setBackgroundColor(platform::Color{0.08, 0.08, 0.09, 1});

    auto bar = std::make_shared<platform::View>(platform::Rect(0, 0, screen.width(), kBarHeight));
    bar->setBackgroundColor(kBar);
    // The bar spans the window at any width; the content below follows the window's size.
    bar->setAutoresizingMask(platform::View::FlexibleWidth);
    root->addSubview(bar);
    // The back control as wide as its title needs (a longer language's word), the heading
    // between it and as much room on the other side, so that it stays in the middle.
    std::string back = platform::tr("Back");
    double backWidth = std::max(
        72.0,
        std::ceil(platform::Label::textSize(back, platform::Font::boldSystem(15)).width) + 16);
    double inset = backWidth + 8;
    auto heading = std::make_shared<platform::Label>(
        platform::Rect(inset, 0, std::max(0.0, screen.width() - 2 * inset), kBarHeight));
    heading->setText(title());
    heading->setFont(platform::Font::boldSystem(18));
    heading->setMinimumScaleFactor(0.6);
    heading->setTextColor(kText);
    heading->setTextAlignment(platform::TextAlignment::Center);
    heading->setBackgroundColor(std::nullopt);
    heading->setOpaque(false);
    heading->setAutoresizingMask(platform::View::FlexibleWidth);
    bar->addSubview(heading);

    _backButton = platform::Button::create(platform::Button::Type::Custom,
                                           platform::Rect(4, 4, backWidth, kBarHeight - 8));
    _backButton->setTitle(back);
    _backButton->setTitleColor(kAccent);
    _backButton->setControlName(_backControlName);
    _backButton->addAction([this](platform::Button&) { goBack(); });
    bar->addSubview(_backButton);

    loadContent(*root, platform::Rect(0, kBarHeight, screen.width(), screen.height() - kBarHeight));
    setView(root);
}

void ChildScreen::goBack() {
    // Only while presented and settled: a second tap during the dismissal does nothing.
    if (!parentViewController() || isTransitioning()) return;
    dismissModalViewControllerAnimated(false);
}

bool ChildScreen::handleKey(const platform::KeyEvent& event) {
    if (event.key != platform::KeyEvent::Key::Escape || event.repeat) return false;
    goBack();
    return true;
}

void ChildScreen::viewDidDisappear(bool animated) {
    platform::ViewController::viewDidDisappear(animated);
    if (_baseViewController) _baseViewController->restart();
}

}  // namespace quorbit::share
