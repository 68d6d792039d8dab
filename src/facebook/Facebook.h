#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "facebook/FBConfiguration.h"
#include "facebook/FBDate.h"
#include "facebook/FBDialogDelegate.h"
#include "facebook/FBParams.h"
#include "facebook/FBRequest.h"

namespace quorbit::facebook {

class FBDialog;
class FBLoginDialog;

// Session events; an empty member is not implemented.
struct FBSessionDelegate {
    // A token was received and stored.
    std::function<void()> fbDidLogin;
    // Authorisation ended without a token: cancelled by the user, or failed.
    std::function<void(bool cancelled)> fbDidNotLogin;
    // The session was cleared.
    std::function<void()> fbDidLogout;
};

// The client through which the application talks to Facebook: the app identifier, the
// user's access token and its expiry; authorisation through the Facebook application, the
// browser or the in-app login dialog, in that order; the sign-in URL that comes back; Graph
// and REST requests with the common parameters; web dialogs; logout. Made with create()
// (it is shared with the dialogs it opens). Main thread only.
class Facebook : public FBLoginDialogDelegate, public std::enable_shared_from_this<Facebook> {
  public:
    static constexpr const char* kRedirectURL = "fbconnect://success";
    static constexpr const char* kFBAppAuthURL = "fbauth://authorize";
    static constexpr const char* kLoginDialogAction = "oauth";
    static constexpr const char* kSDK = "ios";
    static constexpr const char* kSDKVersion = "2";

    // The endpoints come from endpoints (their app identifier is not used).
    static std::shared_ptr<Facebook> create(
        std::string appId, FBConfiguration endpoints = FBConfiguration::fromEnvironment());
    ~Facebook() override;
    Facebook(const Facebook&) = delete;
    Facebook& operator=(const Facebook&) = delete;

    const std::string& appId() const { return _appId; }
    const FBConfiguration& endpoints() const { return _endpoints; }
    const std::optional<std::string>& accessToken() const { return _accessToken; }
    void setAccessToken(std::optional<std::string> token) { _accessToken = std::move(token); }
    const std::optional<Date>& expirationDate() const { return _expirationDate; }
    void setExpirationDate(std::optional<Date> date) { _expirationDate = date; }
    std::weak_ptr<FBSessionDelegate> sessionDelegate() const { return _sessionDelegate; }
    void setSessionDelegate(std::weak_ptr<FBSessionDelegate> delegate) {
        _sessionDelegate = std::move(delegate);
    }
    const std::vector<std::string>& permissions() const { return _permissions; }
    const std::shared_ptr<FBRequest>& request() const { return _request; }
    const std::shared_ptr<FBLoginDialog>& loginDialog() const { return _loginDialog; }
    const std::shared_ptr<FBDialog>& fbDialog() const { return _fbDialog; }

    // Whether another application may be opened to sign in (a desktop always can; an
    // embedding that must not leave the application turns it off).
    bool multitaskingSupported() const { return _multitaskingSupported; }
    void setMultitaskingSupported(bool supported) { _multitaskingSupported = supported; }

    // Asks for permissions: the Facebook application, then the browser, then the login dialog.
    void authorize(std::vector<std::string> permissions, std::weak_ptr<FBSessionDelegate> delegate);
    void authorizeWithFBAppAuth(bool tryFBAppAuth, bool tryBrowserAuth);
    // The sign-in URL the Facebook application or the browser came back with; false when it
    // is not this application's.
    bool handleOpenURL(const std::string& url);
    static std::map<std::string, std::string> parseURLParams(std::string_view query);
    // A token, an expiry date, and the expiry later than now.
    bool isSessionValid() const;
    void logout(std::weak_ptr<FBSessionDelegate> delegate);

    std::shared_ptr<FBRequest> requestWithGraphPath(const std::string& graphPath,
                                                    std::weak_ptr<FBRequestDelegate> delegate);
    std::shared_ptr<FBRequest> requestWithGraphPath(const std::string& graphPath,
                                                    std::shared_ptr<FBParams> params,
                                                    std::weak_ptr<FBRequestDelegate> delegate);
    std::shared_ptr<FBRequest> requestWithGraphPath(const std::string& graphPath,
                                                    std::shared_ptr<FBParams> params,
                                                    const std::string& httpMethod,
                                                    std::weak_ptr<FBRequestDelegate> delegate);
    std::shared_ptr<FBRequest> requestWithMethodName(const std::string& methodName,
                                                     std::shared_ptr<FBParams> params,
                                                     const std::string& httpMethod,
                                                     std::weak_ptr<FBRequestDelegate> delegate);
    // The REST method named by the parameter "method" (taken out of params); none, with
    // the log line "API Method must be specified", when it is missing.
    std::shared_ptr<FBRequest> requestWithParams(std::shared_ptr<FBParams> params,
                                                 std::weak_ptr<FBRequestDelegate> delegate);
    // Adds the common parameters to params (the caller's own), then starts the request.
    std::shared_ptr<FBRequest> openUrl(const std::string& url, std::shared_ptr<FBParams> params,
                                       const std::string& httpMethod,
                                       std::weak_ptr<FBRequestDelegate> delegate);

    void dialog(const std::string& action, std::weak_ptr<FBDialogDelegate> delegate);
    void dialog(const std::string& action, std::shared_ptr<FBParams> params,
                std::weak_ptr<FBDialogDelegate> delegate);

    // The login dialog's answers.
    void fbDialogLogin(const std::string& token, std::optional<Date> expiry) override;
    void fbDialogNotLogin(bool cancelled) override;

  private:
    Facebook(std::string appId, FBConfiguration endpoints);
    void showLoginDialog(const std::string& url, std::shared_ptr<FBParams> params);

    std::optional<std::string> _accessToken;
    std::optional<Date> _expirationDate;
    std::weak_ptr<FBSessionDelegate> _sessionDelegate;
    std::shared_ptr<FBRequest> _request;
    std::shared_ptr<FBLoginDialog> _loginDialog;
    std::shared_ptr<FBDialog> _fbDialog;
    std::string _appId;
    std::vector<std::string> _permissions;
    FBConfiguration _endpoints;
    bool _multitaskingSupported = true;
};

}  // namespace quorbit::facebook
