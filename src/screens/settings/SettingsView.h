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
// two sections. In "Camera" the row "Photo size" ("photo-size") switches between photos of
// the screen's size (the default) and of the camera's full size, which it names; the row
// "Detect codes" ("detect-codes"), checked while on (the default), switches the reading of
// codes in the live view on and off; the row "Front photos" ("mirror-photos") chooses whether
// the front camera's photos are mirrored as the view shows them (the default) or turned back
// the way others see the person; the row "Record sound" ("record-sound"), checked while on (the
// default), records clips with the microphone's sound or without. In "Facebook" one row signs the
// user in ("Login") or out
// ("Logout: NAME"); the sign-in state is the share screen's, and the row follows it through
// the notification the share screen posts whenever it changes.
class SettingsView : public ChildScreen {
  public:
    static constexpr const char* kCellIdentifier = "FacebookCell";
    static constexpr const char* kHeader = platform::N_("Facebook");
    static constexpr const char* kCameraHeader = platform::N_("Camera");
    static constexpr const char* kDetectCodesRow = platform::N_("Detect codes");
    // Where the code setting is kept (absent: on).
    static constexpr const char* kDetectCodesKey = "DetectCodes";
    // Where the photo size is kept: kPhotoSizeScreen or kPhotoSizeFull (anything else, or
    // nothing, is the screen's size).
    static constexpr const char* kPhotoSizeKey = "PhotoSize";
    static constexpr const char* kPhotoSizeScreen = "screen";
    static constexpr const char* kPhotoSizeFull = "full";
    // The sections and the camera section's rows.
    static constexpr int kCameraSection = 0, kFacebookSection = 1;
    static constexpr int kPhotoSizeIndex = 0, kDetectCodesIndex = 1, kMirrorPhotosIndex = 2,
                         kRecordSoundIndex = 3, kCameraRows = 4;
    // Whether clips are recorded with the microphone's sound (absent: on).
    static constexpr const char* kRecordSoundKey = "RecordSound";
    static constexpr const char* kRecordSoundRow = platform::N_("Record sound");
    // Where the front photos' choice is kept: true (or absent, or unreadable) mirrored.
    static constexpr const char* kMirrorFrontPhotosKey = "MirrorFrontPhotos";
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
    bool fullSizePhotos() const;
    bool mirrorFrontPhotos() const;
    bool recordSound() const;
    // "Front photos: Mirrored, as in the view" or "Front photos: As others see you".
    std::string mirrorPhotosText() const;
    // Tells the upright size a full-size photo has with the current camera (none: unknown),
    // for the photo size row; the camera screen gives it.
    void setFullPhotoSize(std::function<std::optional<platform::Size>()> size) {
        _fullPhotoSize = std::move(size);
    }
    // The photo size row's text: "Photo size: Screen" or "Photo size: Full (W x H)".
    std::string photoSizeText() const;

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
    std::function<std::optional<platform::Size>()> _fullPhotoSize;
};

}  // namespace quorbit::share
