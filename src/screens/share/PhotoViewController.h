#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "facebook/FBConfiguration.h"
#include "facebook/Facebook.h"
#include "facebook/Session.h"
#include "facebook/UserInfo.h"
#include "platform/core/Translate.h"
#include "platform/core/UserDefaults.h"
#include "platform/desktop/MailComposer.h"
#include "platform/gfx/Image.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/TableView.h"
#include "screens/progress/ProgressHud.h"
#include "screens/share/ChildScreen.h"

namespace quorbit::share {

// Posted on the default centre, with no sender, when the user has signed in or out of
// Facebook or the signed-in user's name has been stored.
inline constexpr const char* kFBUserLoginStatusChange = "FBUserLoginStatusChange";
// User-defaults keys: the signed-in user's name, and a post asked for while signed out that
// is to be made when the sign-in returns.
inline constexpr const char* kFBUserNameKey = "kFBUserName";
inline constexpr const char* kOneClickPublishKey = "oneClickPublish";

// The share screen: the last photo taken above a two-row table, "Share on Facebook" and
// "Share with E-mail", under a title bar with a back control ("share-back"). It also keeps
// the application's Facebook state: the client and its saved session, whether the user
// counts as signed in, the signed-in user's name, and the photo upload with its overlay.
class PhotoViewController : public ChildScreen {
  public:
    static constexpr const char* kCellIdentifier = "sharingOptions";
    static constexpr double kRowHeight = 40.0;
    static constexpr const char* kUploadMessage = platform::N_("Shot with Flurio for Linux");

    // Where the screen keeps and finds things; the application's by default.
    struct Services {
        platform::UserDefaults* defaults = nullptr;
        facebook::FBConfiguration configuration;
        std::string storeId;
        std::string supportEmail;
        static Services application();
    };

    PhotoViewController();
    explicit PhotoViewController(Services services);
    ~PhotoViewController() override;

    // The photo the screen shows, mails and posts.
    const std::shared_ptr<const platform::Image>& currentImage() const { return _currentImage; }
    void changeImage(std::shared_ptr<const platform::Image> image);
    // A clip to share instead: firstFrame is shown, the e-mail attaches the file at path, and
    // the Facebook row says that uploads take photos only. changeImage() goes back to photos.
    void changeClip(std::shared_ptr<const platform::Image> firstFrame, std::filesystem::path path);
    const std::filesystem::path& currentClip() const { return _currentClip; }

    const std::shared_ptr<platform::ImageView>& photoView() const { return _photoView; }
    const std::shared_ptr<platform::TableView>& shareTable() const { return _shareTable; }
    void viewWillAppear(bool animated) override;

    // Row selection as the table reports it.
    void didSelectRow(platform::IndexPath path);

    // The message the e-mail row hands to the mail program, for the photo and time given.
    platform::MailMessage composeMessage(std::chrono::system_clock::time_point now) const;
    // Hands the current photo to the mail program.
    void displayComposerSheet();
    // "Flurio-" and the local time as year, month, day, hour (1 to 24), minute, second.
    static std::string attachmentName(std::chrono::system_clock::time_point now);
    // The application's page on the Linux app store.
    std::string storeLink() const;

    // Facebook.
    const std::shared_ptr<facebook::Facebook>& facebook() const { return _facebook; }
    bool getIsLoggedInToFB() const { return _isLoggedInToFB; }
    // The store of the user's name and of the post waiting for a sign-in.
    platform::UserDefaults& defaults() const;
    // The signed-in user's name as stored when the user's information loaded.
    std::optional<std::string> userName() const;
    void setIsLoggedInToFB(bool on) { _isLoggedInToFB = on; }
    void login();
    void logout();
    void publishPhoto(std::shared_ptr<const platform::Image> image);
    void publishPhotoCurrentImage() { publishPhoto(_currentImage); }
    // The overlay of the latest upload; the window it is shown on owns it.
    std::shared_ptr<hud::ProgressHud> HUD() const { return _HUD.lock(); }
    const std::shared_ptr<facebook::UserInfo>& userInfo() const { return _userInfo; }
    const std::vector<std::string>& permissions() const { return _permissions; }

    void fbDidLogin();
    void fbDidNotLogin(bool cancelled);
    void fbDidLogout();
    void userInfoDidLoad();
    void userInfoFailToLoad();
    void requestDidLoad();
    void requestDidFailWithError(const platform::Error& error);
    // Hides the overlay of the upload under way (with "Complete" when it succeeded) and, when
    // it failed, says so in an alert.
    void endUpload(bool succeeded);
    // Stops the upload under way (the overlay's Cancel and Escape): the overlay says so for
    // a moment and goes; no alert follows.
    void cancelUpload();
    static constexpr std::chrono::milliseconds kCancelledShownFor{1200};

  protected:
    void loadContent(platform::View& root, platform::Rect area) override;

  private:
    struct InfoListener;
    void postStatusChange();
    platform::View* overlayHost();

    Services _services;
    std::shared_ptr<const platform::Image> _currentImage;
    std::filesystem::path _currentClip;
    std::shared_ptr<facebook::Facebook> _facebook;
    std::unique_ptr<facebook::Session> _session;
    std::vector<std::string> _permissions;
    std::shared_ptr<facebook::UserInfo> _userInfo;
    bool _isLoggedInToFB = false;
    bool _userInfoPending = false;  // the user did not load for a passing cause: ask again
    std::weak_ptr<hud::ProgressHud> _HUD;
    std::weak_ptr<facebook::FBRequest> _upload;
    // Counts uploads started and cancelled: an answer handed on before a cancel, and run
    // after it, is dropped.
    unsigned _uploadNumber = 0;

    std::shared_ptr<platform::ImageView> _photoView;
    std::shared_ptr<platform::TableView> _shareTable;
    platform::TableViewDataSource _dataSource;
    platform::TableViewDelegate _tableDelegate;
    platform::AlertViewDelegate _alertDelegate;
    std::shared_ptr<facebook::FBSessionDelegate> _sessionDelegate;
    std::shared_ptr<facebook::FBRequestDelegate> _requestDelegate;
    std::shared_ptr<InfoListener> _infoListener;
};

}  // namespace quorbit::share
