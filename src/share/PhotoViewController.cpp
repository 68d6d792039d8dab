#include "share/PhotoViewController.h"

#include "platform/ui/ControlNames.h"

namespace quorbit::share {

PhotoViewController::PhotoViewController() : ChildScreen("Photo", controls::kShareBack) {}

void PhotoViewController::changeImage(std::shared_ptr<const platform::Image> image) {
    _currentImage = std::move(image);
    if (_photoView) _photoView->setImage(_currentImage);
}

void PhotoViewController::loadContent(platform::View& root, platform::Rect area) {
    // The photo at its own size (320 x 427 points) when it fits, else scaled to fit.
    _photoView = std::make_shared<platform::ImageView>(area);
    _photoView->setContentMode(platform::ImageView::ContentMode::ScaleAspectFit);
    _photoView->setBackgroundColor(platform::Color::black());
    _photoView->setControlName(controls::kSharePhoto);
    _photoView->setImage(_currentImage);
    root.addSubview(_photoView);
}

}  // namespace quorbit::share
