#include "facebook/Facebook.h"

#include "facebook/FBCallbackUrl.h"
#include "facebook/FBDialog.h"
#include "facebook/FBLoginDialog.h"
#include "facebook/FBUrl.h"
#include "platform/core/Log.h"
#include "platform/desktop/UrlOpener.h"
#include "platform/net/CookieStore.h"
#include "platform/web/WebView.h"

namespace quorbit::facebook {

using platform::Log;

std::shared_ptr<Facebook> Facebook::create(std::string appId, FBConfiguration endpoints) {
    return std::shared_ptr<Facebook>(new Facebook(std::move(appId), std::move(endpoints)));
}

Facebook::Facebook(std::string appId, FBConfiguration endpoints)
    : _appId(std::move(appId)), _endpoints(std::move(endpoints)) {}

Facebook::~Facebook() = default;

void Facebook::authorize(std::vector<std::string> permissions,
                         std::weak_ptr<FBSessionDelegate> delegate) {
    _permissions = std::move(permissions);
    _sessionDelegate = std::move(delegate);
    authorizeWithFBAppAuth(true, true);
}

void Facebook::authorizeWithFBAppAuth(bool tryFBAppAuth, bool tryBrowserAuth) {
    if (_appId.empty()) Log::warn("_appId is nil!!");
    auto params = std::make_shared<FBParams>();
    if (!_appId.empty()) params->set("client_id", _appId);
    params->set("type", "user_agent");
    params->set("redirect_uri", kRedirectURL);
    params->set("display", "touch");
    params->set("sdk", "2");
    std::string loginDialogURL = _endpoints.dialogURL + kLoginDialogAction;
    if (!_permissions.empty()) {
        std::string scope;
        for (const std::string& permission : _permissions)
            scope += (scope.empty() ? "" : ",") + permission;
        params->set("scope", scope);
    }

    if (_multitaskingSupported) {
        platform::UrlOpener& opener = platform::UrlOpener::shared();
        bool opened = false;
        if (tryFBAppAuth) opened = opener.openURL(FBRequest::serializeURL(kFBAppAuthURL, *params));
        if (tryBrowserAuth && !opened) {
            // The browser returns to this application; the login dialog below keeps its own
            // parameters, whose redirect it can follow.
            FBParams browserParams = *params;
            browserParams.set("redirect_uri", FBCallbackUrl::prefix(_appId));
            if (FBConfiguration::isAllowedEndpoint(loginDialogURL)) {
                opened = opener.openURL(FBRequest::serializeURL(loginDialogURL, browserParams));
            }
        }
        if (opened) return;  // the answer comes back through handleOpenURL
    }
    showLoginDialog(loginDialogURL, params);
}

bool Facebook::handleOpenURL(const std::string& url) {
    FBCallbackUrl callback =
        FBCallbackUrl::interpret(url, _appId, std::chrono::system_clock::now());
    switch (callback.outcome) {
        case FBCallbackUrl::Outcome::NotForThisApp:
            return false;
        case FBCallbackUrl::Outcome::LoggedIn:
            fbDialogLogin(callback.token, callback.expiry);
            break;
        case FBCallbackUrl::Outcome::RetryWithBrowser:
            authorizeWithFBAppAuth(false, true);
            break;
        case FBCallbackUrl::Outcome::RetryWithDialog:
            authorizeWithFBAppAuth(false, false);
            break;
        case FBCallbackUrl::Outcome::NotLoggedIn:
            fbDialogNotLogin(callback.cancelled);
            break;
    }
    return true;
}

std::map<std::string, std::string> Facebook::parseURLParams(std::string_view query) {
    return FBUrl::parseParams(query);
}

bool Facebook::isSessionValid() const {
    return _accessToken && _expirationDate && *_expirationDate > std::chrono::system_clock::now();
}

void Facebook::logout(std::weak_ptr<FBSessionDelegate> delegate) {
    _sessionDelegate = std::move(delegate);
    // Built while the token is still there, so that it carries it. Nobody hears its answer.
    requestWithMethodName("auth.expireSession", std::make_shared<FBParams>(), "GET", {});
    _accessToken.reset();
    _expirationDate.reset();
    if (auto host = FBUrl::hostOf(_endpoints.loginURL)) {
        platform::CookieStore::shared().deleteCookiesForHost(*host);
        platform::WebView::deleteCookiesForHost(*host);
    }
    if (auto d = _sessionDelegate.lock(); d && d->fbDidLogout) d->fbDidLogout();
}

std::shared_ptr<FBRequest> Facebook::requestWithGraphPath(
    const std::string& graphPath, std::weak_ptr<FBRequestDelegate> delegate) {
    return requestWithGraphPath(graphPath, std::make_shared<FBParams>(), "GET",
                                std::move(delegate));
}

std::shared_ptr<FBRequest> Facebook::requestWithGraphPath(
    const std::string& graphPath, std::shared_ptr<FBParams> params,
    std::weak_ptr<FBRequestDelegate> delegate) {
    return requestWithGraphPath(graphPath, std::move(params), "GET", std::move(delegate));
}

std::shared_ptr<FBRequest> Facebook::requestWithGraphPath(
    const std::string& graphPath, std::shared_ptr<FBParams> params, const std::string& httpMethod,
    std::weak_ptr<FBRequestDelegate> delegate) {
    return openUrl(_endpoints.graphURL + graphPath, std::move(params), httpMethod,
                   std::move(delegate));
}

std::shared_ptr<FBRequest> Facebook::requestWithMethodName(
    const std::string& methodName, std::shared_ptr<FBParams> params, const std::string& httpMethod,
    std::weak_ptr<FBRequestDelegate> delegate) {
    return openUrl(_endpoints.restURL + methodName, std::move(params), httpMethod,
                   std::move(delegate));
}

std::shared_ptr<FBRequest> Facebook::requestWithParams(std::shared_ptr<FBParams> params,
                                                       std::weak_ptr<FBRequestDelegate> delegate) {
    std::optional<std::string> method = params ? params->text("method") : std::nullopt;
    if (!method) {
        Log::warn("API Method must be specified");
        return nullptr;
    }
    params->erase("method");
    return requestWithMethodName(*method, std::move(params), "GET", std::move(delegate));
}

std::shared_ptr<FBRequest> Facebook::openUrl(const std::string& url,
                                             std::shared_ptr<FBParams> params,
                                             const std::string& httpMethod,
                                             std::weak_ptr<FBRequestDelegate> delegate) {
    if (!params) params = std::make_shared<FBParams>();
    params->set("format", "json");
    params->set("sdk", kSDK);
    params->set("sdk_version", kSDKVersion);
    if (isSessionValid()) params->set("access_token", *_accessToken);
    _request =
        FBRequest::getRequestWithParams(std::move(params), httpMethod, std::move(delegate), url);
    _request->connect();
    return _request;
}

void Facebook::fbDialogLogin(const std::string& token, std::optional<Date> expiry) {
    setAccessToken(token);
    setExpirationDate(expiry);
    if (auto d = _sessionDelegate.lock(); d && d->fbDidLogin) d->fbDidLogin();
}

void Facebook::fbDialogNotLogin(bool cancelled) {
    if (auto d = _sessionDelegate.lock(); d && d->fbDidNotLogin) d->fbDidNotLogin(cancelled);
}

void Facebook::showLoginDialog(const std::string& url, std::shared_ptr<FBParams> params) {
    _loginDialog = FBLoginDialog::create(url, std::move(params),
                                         std::weak_ptr<FBLoginDialogDelegate>(shared_from_this()));
    _loginDialog->show();
}

void Facebook::dialog(const std::string& action, std::weak_ptr<FBDialogDelegate> delegate) {
    dialog(action, std::make_shared<FBParams>(), std::move(delegate));
}

void Facebook::dialog(const std::string& action, std::shared_ptr<FBParams> params,
                      std::weak_ptr<FBDialogDelegate> delegate) {
    _fbDialog.reset();
    std::string dialogURL = _endpoints.dialogURL + action;
    if (!params) params = std::make_shared<FBParams>();
    params->set("display", "touch");
    params->set("sdk", "2");
    params->set("redirect_uri", kRedirectURL);
    if (action == kLoginDialogAction) {
        params->set("type", "user_agent");
        _fbDialog = FBLoginDialog::create(dialogURL, params,
                                          std::weak_ptr<FBLoginDialogDelegate>(shared_from_this()));
    } else {
        params->set("app_id", _appId);
        if (isSessionValid()) {
            // A token kept escaped goes out as itself; one that does not unescape, unchanged.
            params->set("access_token", FBUrl::unescape(*_accessToken).value_or(*_accessToken));
        }
        _fbDialog = FBDialog::create(dialogURL, params, std::move(delegate));
    }
    _fbDialog->show();
}

}  // namespace quorbit::facebook
