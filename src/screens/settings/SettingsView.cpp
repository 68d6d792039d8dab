#include "screens/settings/SettingsView.h"

#include "platform/core/Log.h"
#include "platform/core/Translate.h"
#include "platform/ui/ControlNames.h"
#include "screens/share/NetworkCheck.h"
#include "screens/share/PhotoViewController.h"

namespace quorbit::share {

SettingsView::SettingsView() : ChildScreen(platform::tr("Settings"), controls::kSettingsBack) {
    _dataSource.numberOfSections = [](platform::TableView&) { return 2; };
    _dataSource.numberOfRowsInSection = [](platform::TableView&, int section) {
        return section == kCameraSection ? kCameraRows : 1;
    };
    _dataSource.titleForHeaderInSection = [](platform::TableView&, int section) {
        return std::optional<std::string>(
            platform::tr(section == kCameraSection ? kCameraHeader : kHeader));
    };
    _dataSource.titleForFooterInSection = [](platform::TableView&, int section) {
        return section == kFacebookSection ? std::optional<std::string>(platform::tr(kFooter))
                                           : std::nullopt;
    };
    _dataSource.cellForRow = [this](platform::TableView& table, platform::IndexPath path) {
        auto cell = table.dequeueReusableCell(kCellIdentifier);
        if (!cell) {
            cell = std::make_shared<platform::TableViewCell>(
                platform::TableViewCell::Style::Default, kCellIdentifier);
            cell->setSelectionStyle(platform::TableViewCell::SelectionStyle::Blue);
        }
        bool camera = path.section == kCameraSection;
        bool codesRow = camera && path.row == kDetectCodesIndex;
        bool sizeRow = camera && path.row == kPhotoSizeIndex;
        bool mirrorRow = camera && path.row == kMirrorPhotosIndex;
        bool soundRow = camera && path.row == kRecordSoundIndex;
        cell->textLabel()->setText(codesRow    ? platform::tr(kDetectCodesRow)
                                   : sizeRow   ? photoSizeText()
                                   : mirrorRow ? mirrorPhotosText()
                                   : soundRow  ? platform::tr(kRecordSoundRow)
                                               : rowText());
        cell->setControlName(codesRow    ? controls::kDetectCodes
                             : sizeRow   ? controls::kPhotoSize
                             : mirrorRow ? controls::kMirrorPhotos
                             : soundRow  ? controls::kRecordSound
                                         : "");
        cell->setAccessoryType((codesRow && detectCodes()) || (soundRow && recordSound())
                                   ? platform::TableViewCell::Accessory::Checkmark
                                   : platform::TableViewCell::Accessory::None);
        return cell;
    };
    _tableDelegate.didSelectRow = [this](platform::TableView&, platform::IndexPath path) {
        didSelectRow(path);
    };
}

SettingsView::~SettingsView() {
    if (_observer) platform::NotificationCenter::defaultCenter().removeObserver(_observer);
    if (_settingsTable) {
        _settingsTable->setDataSource(nullptr);
        _settingsTable->setTableDelegate(nullptr);
    }
}

void SettingsView::loadContent(platform::View& root, platform::Rect area) {
    _settingsTable =
        std::make_shared<platform::TableView>(area, platform::TableView::Style::Grouped);
    _settingsTable->setDataSource(&_dataSource);
    _settingsTable->setTableDelegate(&_tableDelegate);
    _settingsTable->setAutoresizingMask(platform::View::FlexibleWidth |
                                        platform::View::FlexibleHeight);
    root.addSubview(_settingsTable);
}

void SettingsView::viewDidLoad() {
    if (!_observer)
        _observer = platform::NotificationCenter::defaultCenter().addObserver(
            kFBUserLoginStatusChange, nullptr, [this](const platform::Notification&) { reload(); },
            this);
    ChildScreen::viewDidLoad();
}

void SettingsView::viewWillAppear(bool animated) {
    ChildScreen::viewWillAppear(animated);
    reload();
}

void SettingsView::reload() {
    if (_settingsTable) _settingsTable->reloadData();
}

std::string SettingsView::rowText() const {
    auto screen = _photoViewController.lock();
    if (!screen || !screen->getIsLoggedInToFB())
        return platform::trc("sign in to Facebook", "Login");
    // Signed in before the user's name has loaded: the name is left out.
    auto name = screen->userName();
    return name ? platform::format(
                      platform::trc("sign out of Facebook as NAME", "Logout: %s").c_str(),
                      name->c_str())
                : platform::trc("sign out of Facebook", "Logout");
}

bool SettingsView::fullSizePhotos() const {
    return _userDefaults && _userDefaults->stringForKey(kPhotoSizeKey) == kPhotoSizeFull;
}

std::string SettingsView::photoSizeText() const {
    std::string size = platform::trc("photo size", "Screen");
    if (fullSizePhotos()) {
        auto full = _fullPhotoSize ? _fullPhotoSize() : std::nullopt;
        size = full ? platform::format(platform::trc("photo size", "Full (%d x %d)").c_str(),
                                       int(full->width), int(full->height))
                    : platform::trc("photo size", "Full");
    }
    return platform::format(platform::tr("Photo size: %s").c_str(), size.c_str());
}

bool SettingsView::mirrorFrontPhotos() const {
    return !_userDefaults || _userDefaults->boolValueForKey(kMirrorFrontPhotosKey).value_or(true);
}

std::string SettingsView::mirrorPhotosText() const {
    return platform::format(platform::tr("Front photos: %s").c_str(),
                            mirrorFrontPhotos()
                                ? platform::trc("front photos", "Mirrored, as in the view").c_str()
                                : platform::trc("front photos", "As others see you").c_str());
}

bool SettingsView::recordSound() const {
    return !_userDefaults || _userDefaults->boolValueForKey(kRecordSoundKey).value_or(true);
}

bool SettingsView::detectCodes() const {
    return !_userDefaults || !_userDefaults->contains(kDetectCodesKey) ||
           _userDefaults->boolForKey(kDetectCodesKey);
}

void SettingsView::didSelectRow(platform::IndexPath path) {
    if (path.section == kCameraSection) {
        if (_userDefaults && path.row == kDetectCodesIndex)
            _userDefaults->setBool(kDetectCodesKey, !detectCodes());
        else if (_userDefaults && path.row == kMirrorPhotosIndex)
            _userDefaults->setBool(kMirrorFrontPhotosKey, !mirrorFrontPhotos());
        else if (_userDefaults && path.row == kRecordSoundIndex)
            _userDefaults->setBool(kRecordSoundKey, !recordSound());
        else if (_userDefaults)
            _userDefaults->setString(kPhotoSizeKey,
                                     fullSizePhotos() ? kPhotoSizeScreen : kPhotoSizeFull);
        reload();
        if (_settingsTable) _settingsTable->deselectRowAtIndexPath(path, true);
        return;
    }
    if (!connectedToNetwork()) {
        platform::AlertView::create(platform::tr("Cannot use Facebook"),
                                    platform::tr("Currently not connected to the internet"),
                                    &_alertDelegate, platform::tr("Cancel"))
            ->show();
    } else if (auto screen = _photoViewController.lock()) {
        if (screen->getIsLoggedInToFB())
            screen->logout();
        else
            screen->login();
    }
    if (_settingsTable) _settingsTable->deselectRowAtIndexPath(path, true);
}

}  // namespace quorbit::share
