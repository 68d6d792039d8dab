#include "screens/share/PhotoViewController.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>

#include "platform/core/Bundle.h"
#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Translate.h"
#include "platform/gfx/ImageCodec.h"
#include "platform/host/Application.h"
#include "platform/ui/ControlNames.h"
#include "platform/ui/Window.h"
#include "screens/share/NetworkCheck.h"

namespace quorbit::share {

namespace {

constexpr const char* kSubject = platform::N_("Check out my Flurio photo!");
// TRANSLATORS: %@ stands for the link to the application in the store.
constexpr const char* kBodyFormat =
    platform::N_("Photo taken with Flurio for Linux.\n\nCheck it out in the Flathub store:\n%@");
constexpr const char* kStoreLinkTemplate = "https://flathub.org/apps/APP_ID";
constexpr const char* kDefaultSupportEmail = "support@flurio.app";
constexpr const char* kUploadFailedTitle =
    platform::N_("There was an problem uploading your photo to Facebook.");
// TRANSLATORS: %s is the support address.
constexpr const char* kUploadFailedMessage = platform::N_(
    "Please try again later.  You may try to logout and login, under the in-app Settings "
    "page.  If the problem persists, contact us at %s");

std::string environment(const char* name, std::string fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
        text.replace(at, from.size(), to), at += to.size();
}

void showNoNetworkAlert(platform::AlertViewDelegate* delegate) {
    platform::AlertView::create(platform::tr("Cannot use Facebook"),
                                platform::tr("Currently not connected to the internet"), delegate,
                                platform::tr("Cancel"))
        ->show();
}

}  // namespace

// Hears the user-info loader; the screen holds it, the loader only refers to it.
struct PhotoViewController::InfoListener : facebook::UserInfoLoadDelegate {
    PhotoViewController* owner;
    explicit InfoListener(PhotoViewController* o) : owner(o) {}
    void userInfoDidLoad() override { owner->userInfoDidLoad(); }
    void userInfoFailToLoad() override { owner->userInfoFailToLoad(); }
};

PhotoViewController::Services PhotoViewController::Services::application() {
    Services services;
    services.defaults = &platform::UserDefaults::standard();
    services.configuration = facebook::FBConfiguration::fromEnvironment();
    services.storeId = environment("QUORBIT_STORE_ID", platform::Bundle::main().identifier());
    services.supportEmail = environment("QUORBIT_SUPPORT_EMAIL", kDefaultSupportEmail);
    return services;
}

PhotoViewController::PhotoViewController() : PhotoViewController(Services::application()) {}

PhotoViewController::PhotoViewController(Services services)
    : ChildScreen(platform::trc("share screen title", "Photo"), controls::kShareBack),
      _services(std::move(services)) {
    _dataSource.numberOfSections = [](platform::TableView&) { return 1; };
    _dataSource.numberOfRowsInSection = [](platform::TableView&, int) { return 2; };
    _dataSource.titleForHeaderInSection = [](platform::TableView&, int) {
        return std::optional<std::string>();
    };
    _dataSource.cellForRow = [this](platform::TableView& table, platform::IndexPath path) {
        auto cell = table.dequeueReusableCell(kCellIdentifier);
        if (!cell) {
            cell = std::make_shared<platform::TableViewCell>(
                platform::TableViewCell::Style::Default, kCellIdentifier);
            cell->setAccessoryType(platform::TableViewCell::Accessory::DisclosureIndicator);
        }
        if (path.row == 0)
            cell->textLabel()->setText(_currentClip.empty()
                                           ? platform::tr("Share on Facebook")
                                           : platform::tr("Facebook: photos only"));
        if (path.row == 1) cell->textLabel()->setText(platform::tr("Share with E-mail"));
        return cell;
    };
    _tableDelegate.heightForRow = [](platform::TableView&, platform::IndexPath) {
        return kRowHeight;
    };
    _tableDelegate.didSelectRow = [this](platform::TableView&, platform::IndexPath path) {
        didSelectRow(path);
    };

    // Facebook: the saved session's client when it holds a sign-in that has not expired.
    _sessionDelegate = std::make_shared<facebook::FBSessionDelegate>();
    _sessionDelegate->fbDidLogin = [this] { fbDidLogin(); };
    _sessionDelegate->fbDidNotLogin = [this](bool cancelled) { fbDidNotLogin(cancelled); };
    _sessionDelegate->fbDidLogout = [this] { fbDidLogout(); };
    _requestDelegate = std::make_shared<facebook::FBRequestDelegate>();
    _requestDelegate->didLoad = [this](facebook::FBRequest&, const facebook::FBResult&) {
        requestDidLoad();
    };
    _requestDelegate->didFailWithError = [this](facebook::FBRequest&, const platform::Error& e) {
        requestDidFailWithError(e);
    };
    _infoListener = std::make_shared<InfoListener>(this);

    _isLoggedInToFB = false;
    _permissions = {"publish_stream", "read_stream", "offline_access"};
    platform::UserDefaults& store = defaults();
    _session = std::make_unique<facebook::Session>(store, _services.configuration);
    _facebook = _session->restore();
    if (_facebook) {
        _isLoggedInToFB = true;
        fbDidLogin();
    } else {
        _facebook =
            facebook::Facebook::create(_services.configuration.appId, _services.configuration);
    }
}

PhotoViewController::~PhotoViewController() {
    if (_shareTable) {
        _shareTable->setDataSource(nullptr);
        _shareTable->setTableDelegate(nullptr);
    }
}

void PhotoViewController::changeImage(std::shared_ptr<const platform::Image> image) {
    _currentImage = std::move(image);
    _currentClip.clear();
    if (_photoView) _photoView->setImage(_currentImage);
    if (_shareTable) _shareTable->reloadData();
}

void PhotoViewController::changeClip(std::shared_ptr<const platform::Image> firstFrame,
                                     std::filesystem::path path) {
    changeImage(std::move(firstFrame));
    _currentClip = std::move(path);
    if (_shareTable) _shareTable->reloadData();
}

void PhotoViewController::loadContent(platform::View& root, platform::Rect area) {
    // The table's two rows at the bottom, the photo scaled to fit the space above them.
    const double tableHeight = 2 * kRowHeight + 20;
    platform::Rect photoArea(area.minX(), area.minY(), area.width(), area.height() - tableHeight);
    _photoView = std::make_shared<platform::ImageView>(photoArea);
    _photoView->setContentMode(platform::ImageView::ContentMode::ScaleAspectFit);
    _photoView->setBackgroundColor(platform::Color::black());
    _photoView->setControlName(controls::kSharePhoto);
    _photoView->setImage(_currentImage);
    _photoView->setAutoresizingMask(platform::View::FlexibleWidth | platform::View::FlexibleHeight);
    root.addSubview(_photoView);

    _shareTable = std::make_shared<platform::TableView>(
        platform::Rect(area.minX(), area.maxY() - tableHeight, area.width(), tableHeight));
    _shareTable->setRowHeight(kRowHeight);
    _shareTable->setDataSource(&_dataSource);
    _shareTable->setTableDelegate(&_tableDelegate);
    _shareTable->setAutoresizingMask(platform::View::FlexibleWidth |
                                     platform::View::FlexibleTopMargin);
    root.addSubview(_shareTable);
}

void PhotoViewController::viewWillAppear(bool animated) {
    ChildScreen::viewWillAppear(animated);
    if (_userInfoPending && _isLoggedInToFB && _userInfo) {
        _userInfoPending = false;
        _userInfo->requestAllInfo();
    }
    if (_photoView) _photoView->setImage(_currentImage);
}

void PhotoViewController::didSelectRow(platform::IndexPath path) {
    platform::UserDefaults& store = defaults();
    if (path.row == 0 && !_currentClip.empty()) {
        platform::AlertView::inform(platform::tr("Facebook: photos only"),
                                    platform::tr("Clips are shared by e-mail. Uploads to "
                                                 "Facebook take photos only."));
    } else if (path.row == 0) {
        if (!connectedToNetwork()) {
            showNoNetworkAlert(&_alertDelegate);
        } else if (_isLoggedInToFB) {
            publishPhoto(_currentImage);
        } else {
            login();
            store.setBool(kOneClickPublishKey, true);
        }
    } else if (path.row == 1) {
        displayComposerSheet();
    }
    if (_shareTable) _shareTable->deselectRowAtIndexPath(path, true);
}

std::string PhotoViewController::attachmentName(std::chrono::system_clock::time_point now) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    // The hour counts 1 to 24: the first hour after midnight is 24.
    int hour = local.tm_hour == 0 ? 24 : local.tm_hour;
    char text[80];
    std::snprintf(text, sizeof text, "Flurio-%04d%02d%02d%02d%02d%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, hour, local.tm_min, local.tm_sec);
    return text;
}

std::string PhotoViewController::storeLink() const {
    std::string link = kStoreLinkTemplate;
    replaceAll(link, "APP_ID", _services.storeId);
    return link;
}

platform::MailMessage PhotoViewController::composeMessage(
    std::chrono::system_clock::time_point now) const {
    platform::MailMessage message;
    message.subject = platform::tr(kSubject);
    // Mail programs take the type from the file name, so the name says what the data is.
    message.attachmentName = attachmentName(now) + ".jpg";
    message.attachmentType = "image/jpeg";
    if (!_currentClip.empty()) {
        // The clip goes as it is, however large.
        message.attachmentFile = _currentClip;
        message.attachmentName = _currentClip.filename().string();
        message.attachmentType = _currentClip.extension() == ".webm" ? "video/webm" : "video/mp4";
    } else if (_currentImage) {
        auto jpeg = platform::ImageCodec::encodeJpeg(*_currentImage, 100);
        if (jpeg) message.attachmentData = std::move(jpeg.value());
    }
    message.body = platform::tr(kBodyFormat);
    replaceAll(message.body, "%@", storeLink());
    return message;
}

void PhotoViewController::displayComposerSheet() {
    platform::MailMessage message = composeMessage(std::chrono::system_clock::now());
    auto problem = [this](const std::string& why) {
        platform::Log::error("cannot hand the photo to the mail program: " + why);
        platform::AlertView::create(platform::tr("Cannot send e-mail"),
                                    platform::tr("No mail program could be opened."),
                                    &_alertDelegate, platform::tr("OK"))
            ->show();
    };
    if (!_currentImage || (message.attachmentData.empty() && message.attachmentFile.empty())) {
        problem("there is no photo to attach");
        return;
    }
    std::weak_ptr<platform::ViewController> self = weak_from_this();
    auto written = platform::MailComposer::compose(
        message, [self, problem](const std::optional<platform::Error>& error) {
            // The composer is the mail program's window: nothing here to dismiss.
            if (error && !self.expired()) problem(error->localizedDescription());
        });
    if (!written) problem(written.error().localizedDescription());
}

// Facebook.

void PhotoViewController::postStatusChange() {
    platform::NotificationCenter::defaultCenter().post(kFBUserLoginStatusChange);
}

void PhotoViewController::login() {
    _facebook->authorize(_permissions, _sessionDelegate);
    _session->save();
}

void PhotoViewController::logout() {
    _session->unsave();
    _facebook->logout(_sessionDelegate);
    _isLoggedInToFB = false;
    platform::UserDefaults& store = defaults();
    store.removeObjectForKey(kFBUserNameKey);
    postStatusChange();
}

void PhotoViewController::fbDidLogin() {
    bool changed = !_isLoggedInToFB;
    setIsLoggedInToFB(true);
    _userInfo = std::make_shared<facebook::UserInfo>(_facebook, _infoListener);
    if (changed) postStatusChange();
    _userInfo->requestAllInfo();
}

void PhotoViewController::fbDidNotLogin(bool cancelled) {
    (void)cancelled;
    // Turned down or failed: the user stays signed out, and the post that waited for the
    // sign-in is not made by a later one.
    platform::UserDefaults& store = defaults();
    store.setBool(kOneClickPublishKey, false);
    if (_isLoggedInToFB) {
        _isLoggedInToFB = false;
        postStatusChange();
    }
}

void PhotoViewController::fbDidLogout() {
    _session->unsave();
    _isLoggedInToFB = false;
    platform::UserDefaults& store = defaults();
    store.removeObjectForKey(kFBUserNameKey);
    postStatusChange();
}

void PhotoViewController::userInfoDidLoad() {
    if (!_userInfo) return;
    _session->setSessionWithFacebook(_facebook, _userInfo->uid());
    _session->save();
    platform::UserDefaults& store = defaults();
    if (_userInfo->name()) store.setString(kFBUserNameKey, *_userInfo->name());
    postStatusChange();
}

void PhotoViewController::userInfoFailToLoad() {
    // Only the service can say a sign-in is over. A failure of the network or of the
    // service keeps the session and the saved name; the user is asked for again when the
    // screen next opens (or at the next start).
    if (_userInfo && _userInfo->signInRejected()) {
        logout();
        return;
    }
    platform::Log::info("the user's information did not load; the sign-in is kept");
    _userInfoPending = true;
}

std::optional<std::string> PhotoViewController::userName() const {
    return defaults().stringForKey(kFBUserNameKey);
}

platform::UserDefaults& PhotoViewController::defaults() const {
    return _services.defaults ? *_services.defaults : platform::UserDefaults::standard();
}

platform::View* PhotoViewController::overlayHost() {
    if (isViewLoaded()) {
        platform::View* root = view()->rootView();
        if (root && root != view().get()) return root;
    }
    // The screen is not up (a post finished after the sign-in returned): the main window.
    return platform::Application::shared().mainWindow().get();
}

void PhotoViewController::publishPhoto(std::shared_ptr<const platform::Image> image) {
    if (!image || !_isLoggedInToFB) return;
    ++_uploadNumber;
    if (platform::View* host = overlayHost()) {
        auto hud = hud::ProgressHud::showHUDAddedTo(host, true);
        hud->setLabelText(platform::tr("Uploading Photo"));
        _HUD = hud;
    } else {
        _HUD.reset();
    }
    auto params = std::make_shared<facebook::FBParams>();
    params->set("picture", std::move(image));
    params->set("message", platform::tr(kUploadMessage));
    _upload = _facebook->requestWithGraphPath("me/photos", params, "POST", _requestDelegate);
    if (auto hud = _HUD.lock()) {
        // The rest of the window stays covered; the overlay's Cancel (and Escape) stop it.
        hud->setCancelAction([weak = weak_from_this()] {
            if (auto self = weak.lock())
                std::static_pointer_cast<PhotoViewController>(self)->cancelUpload();
        });
        hud->cancelButton()->setControlName(controls::kUploadCancel);
    }
}

void PhotoViewController::cancelUpload() {
    ++_uploadNumber;
    if (auto request = _upload.lock()) request->cancel();
    _upload.reset();
    platform::Log::info("the photo upload was cancelled");
    auto hud = _HUD.lock();
    if (!hud) return;
    hud->setCancelAction(nullptr);
    hud->setLabelText(platform::tr("Upload cancelled"));
    platform::RunLoop::main().addTimer(kCancelledShownFor, [weak = _HUD] {
        if (auto shown = weak.lock()) shown->hide(true);
    });
}

void PhotoViewController::requestDidLoad() {
    // Only an answer the client accepted counts as done.
    endUpload(true);
}

void PhotoViewController::requestDidFailWithError(const platform::Error& error) {
    platform::Log::error("the photo upload failed: " + error.localizedDescription());
    endUpload(false);
}

void PhotoViewController::endUpload(bool succeeded) {
    // The screen stays alive until the work has run, in a later turn of the main loop.
    auto self = weak_from_this().lock();
    if (!self) return;
    platform::RunLoop::main().post([this, self, succeeded, number = _uploadNumber] {
        if (number != _uploadNumber) return;  // cancelled meanwhile
        if (auto hud = _HUD.lock()) {
            hud->setCancelAction(nullptr);
            if (succeeded) hud->setLabelText(platform::trc("upload finished", "Complete"));
            hud->hide(true);
        }
        if (!succeeded) {
            platform::AlertView::inform(platform::tr(kUploadFailedTitle),
                                        platform::format(platform::tr(kUploadFailedMessage).c_str(),
                                                         _services.supportEmail.c_str()));
        }
    });
}

}  // namespace quorbit::share
