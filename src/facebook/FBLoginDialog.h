#pragma once

#include <memory>

#include "facebook/FBDialog.h"

namespace quorbit::facebook {

// The login dialog: the service's OAuth page in the dialog panel. The success redirect
// carries the access token and its lifetime, which go to the login delegate (the client);
// a cancellation, or a redirect without a token, reports that the user did not sign in.
class FBLoginDialog : public FBDialog {
  public:
    static std::shared_ptr<FBLoginDialog> create(
        const std::string& url, std::shared_ptr<FBParams> params,
        std::weak_ptr<FBLoginDialogDelegate> loginDelegate);

    std::weak_ptr<FBLoginDialogDelegate> loginDelegate() const { return _loginDelegate; }

    // A token, and an expiry: now plus "expires_in" seconds, or the distant future when the
    // lifetime is 0 or not given.
    void dialogDidSucceed(const std::string& url) override;
    void dialogDidCancel(const std::optional<std::string>& url) override;
    // A cancelled or refused load is no failure; any other ends the dialog with the error
    // and then reports that the user did not sign in.
    void webViewDidFailLoad(const platform::Error& error) override;

  private:
    FBLoginDialog() = default;

    std::weak_ptr<FBLoginDialogDelegate> _loginDelegate;
};

}  // namespace quorbit::facebook
