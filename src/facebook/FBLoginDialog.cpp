#include "facebook/FBLoginDialog.h"

#include "facebook/FBUrl.h"
#include "platform/core/Log.h"
#include "platform/core/Translate.h"
#include "platform/net/UrlError.h"
#include "platform/web/WebView.h"

namespace quorbit::facebook {

std::shared_ptr<FBLoginDialog> FBLoginDialog::create(
    const std::string& url, std::shared_ptr<FBParams> params,
    std::weak_ptr<FBLoginDialogDelegate> loginDelegate) {
    std::shared_ptr<FBLoginDialog> dialog(new FBLoginDialog());
    dialog->build();
    dialog->_serverURL = url;
    dialog->_params = std::move(params);
    dialog->_loginDelegate = std::move(loginDelegate);
    return dialog;
}

void FBLoginDialog::dialogDidSucceed(const std::string& url) {
    auto keep = self();
    std::optional<std::string> token = getStringFromUrl(url, "access_token=");
    std::optional<std::string> lifetime = getStringFromUrl(url, "expires_in=");
    if (!token || token->empty()) {
        dialogDidCancel(url);
        return;
    }
    // No lifetime means no expiry, as on the callback URL's path; an absent date would make
    // the fresh session invalid at once.
    Date expiry = distantFuture();
    if (lifetime) {
        long long seconds = FBUrl::integerValue(*lifetime);
        if (seconds != 0) expiry = expiryAfter(std::chrono::system_clock::now(), seconds);
    }
    if (auto d = _loginDelegate.lock()) d->fbDialogLogin(*token, expiry);
    dismissWithSuccess(true, true);
}

void FBLoginDialog::dialogDidCancel(const std::optional<std::string>&) {
    auto keep = self();
    dismissWithSuccess(false, true);
    if (auto d = _loginDelegate.lock()) d->fbDialogNotLogin(true);
}

void FBLoginDialog::webViewDidFailLoad(const platform::Error& error) {
    if (platform::isUrlError(error, platform::UrlError::Cancelled)) return;
    if (error.is(platform::PageLoadError::FrameLoadInterrupted)) return;
    auto keep = self();
    if (error.is(platform::WebError::EngineUnavailable)) {
        // No page can be shown in this process: say so in words a person can act on; signing
        // in through the browser needs no web engine and still works.
        platform::Error unavailable = error;
        std::string why = error.underlying ? error.underlying->localizedDescription()
                                           : error.localizedDescription();
        // The log in English, the alert in the user's language.
        platform::Log::warn("The sign-in window cannot be shown: " + why);
        unavailable.message = platform::format(
            platform::tr("The sign-in window cannot be shown: %s").c_str(), why.c_str());
        FBDialog::webViewDidFailLoad(unavailable);
    } else {
        FBDialog::webViewDidFailLoad(error);
    }
    if (auto d = _loginDelegate.lock()) d->fbDialogNotLogin(false);
}

}  // namespace quorbit::facebook
