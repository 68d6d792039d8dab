#pragma once

#include <memory>

#include "platform/core/NotificationCenter.h"
#include "platform/core/Translate.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/TableView.h"
#include "screens/share/ChildScreen.h"

namespace quorbit::share {

class PhotoViewController;

// The settings screen: under a title bar with a back control ("settings-back"), a one-row
// table in the section "Facebook" through which the user signs in ("Login") or out
// ("Logout: NAME"). The sign-in state is the share screen's; the row follows it through
// the notification the share screen posts whenever it changes.
class SettingsView : public ChildScreen {
  public:
    static constexpr const char* kCellIdentifier = "FacebookCell";
    static constexpr const char* kHeader = platform::N_("Facebook");
    static constexpr const char* kFooter = platform::N_(
        "If you are experiencing problems with Facebook, logout and login again using the "
        "button above.");

    SettingsView();
    ~SettingsView() override;

    // The share screen that keeps the Facebook state; not owned.
    void setPhotoViewController(std::weak_ptr<PhotoViewController> screen) {
        _photoViewController = std::move(screen);
    }

    const std::shared_ptr<platform::TableView>& settingsTable() const { return _settingsTable; }
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void reload();
    // The row's text for the current state.
    std::string rowText() const;
    void didSelectRow(platform::IndexPath path);

  protected:
    void loadContent(platform::View& root, platform::Rect area) override;

  private:
    std::weak_ptr<PhotoViewController> _photoViewController;
    std::shared_ptr<platform::TableView> _settingsTable;
    platform::TableViewDataSource _dataSource;
    platform::TableViewDelegate _tableDelegate;
    platform::AlertViewDelegate _alertDelegate;
    platform::NotificationCenter::Id _observer = 0;
};

}  // namespace quorbit::share
