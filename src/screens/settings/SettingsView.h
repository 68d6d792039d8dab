#pragma once

#include <memory>

#include "platform/core/NotificationCenter.h"
#include "platform/core/Translate.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/TableView.h"
#include "screens/share/ChildScreen.h"

namespace quorbit::share {

class PhotoViewController;

// The settings screen: under a title bar with a back control ("settings-back"), a table of
// two sections. In "Facebook" one row signs the user in ("Login") or out ("Logout: NAME");
// the sign-in state is the share screen's, and the row follows it through the notification
// the share screen posts whenever it changes. In "Camera" the row "Detect codes", checked
// while on (the default), switches the reading of codes in the live view on and off.
class SettingsView : public ChildScreen {
  public:
    static constexpr const char* kCellIdentifier = "FacebookCell";
    static constexpr const char* kHeader = platform::N_("Facebook");
    static constexpr const char* kCameraHeader = platform::N_("Camera");
    static constexpr const char* kDetectCodesRow = platform::N_("Detect codes");
    // Where the code setting is kept (absent: on).
    static constexpr const char* kDetectCodesKey = "DetectCodes";
    static constexpr const char* kFooter = platform::N_(
        "If you are experiencing problems with Facebook, logout and login again using the "
        "button above.");

    SettingsView();
    ~SettingsView() override;

    // The share screen that keeps the Facebook state; not owned.
    void setPhotoViewController(std::weak_ptr<PhotoViewController> screen) {
        _photoViewController = std::move(screen);
    }

    // Where the camera settings are kept; not owned, may be null (the row then shows on and
    // does nothing).
    void setUserDefaults(platform::UserDefaults* defaults) { _userDefaults = defaults; }
    bool detectCodes() const;

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
    platform::UserDefaults* _userDefaults = nullptr;
};

}  // namespace quorbit::share
