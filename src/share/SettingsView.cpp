#include "share/SettingsView.h"

#include "platform/ui/ControlNames.h"

namespace quorbit::share {

SettingsView::SettingsView() : ChildScreen("Settings", controls::kSettingsBack) {}

void SettingsView::loadContent(platform::View& root, platform::Rect area) {
    auto note = std::make_shared<platform::Label>(
        platform::Rect(area.minX() + 20, area.minY() + 40, area.width() - 40, 60));
    note->setText("There is nothing to set yet.");
    note->setTextColor(platform::Color{0.96, 0.96, 0.97, 0.7});
    note->setTextAlignment(platform::TextAlignment::Center);
    note->setNumberOfLines(0);
    note->setBackgroundColor(std::nullopt);
    note->setOpaque(false);
    root.addSubview(note);
}

}  // namespace quorbit::share
