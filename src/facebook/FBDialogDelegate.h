#pragma once

#include <functional>
#include <optional>
#include <string>

#include "facebook/FBDate.h"
#include "platform/core/Error.h"

namespace quorbit::facebook {

class FBDialog;

// What a web dialog reports; an empty member is not implemented. All on the main thread.
struct FBDialogDelegate {
    // Dismissed with success.
    std::function<void(FBDialog&)> dialogDidComplete;
    // The success redirect arrived; its URL.
    std::function<void(const std::string& url)> dialogCompleteWithUrl;
    // Dismissed without success.
    std::function<void(FBDialog&)> dialogDidNotComplete;
    // Cancelled: the cancel redirect's URL, or "" when the close button was used.
    std::function<void(const std::string& url)> dialogDidNotCompleteWithUrl;
    // The page failed to load, or the dialog ended with an error.
    std::function<void(FBDialog&, const platform::Error&)> didFailWithError;
    // The user tapped a link that leaves the dialog; false keeps it from opening.
    std::function<bool(FBDialog&, const std::string& url)> shouldOpenURLInExternalBrowser;
};

// What the login dialog reports to the client.
class FBLoginDialogDelegate {
  public:
    virtual ~FBLoginDialogDelegate() = default;
    // A token arrived; expiry is empty when the service gave no lifetime.
    virtual void fbDialogLogin(const std::string& token, std::optional<Date> expiry) = 0;
    virtual void fbDialogNotLogin(bool cancelled) = 0;
};

}  // namespace quorbit::facebook
