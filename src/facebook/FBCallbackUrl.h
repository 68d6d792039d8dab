#pragma once

#include <string>
#include <string_view>

#include "facebook/FBDate.h"

namespace quorbit::facebook {

// What the URL with which the Facebook application or the browser returns a sign-in
// ("fb" APP_ID "://authorize", the answer in its fragment or else its query) asks the
// client to do.
struct FBCallbackUrl {
    enum class Outcome {
        NotForThisApp,     // another application's URL: nothing happens
        LoggedIn,          // token and expiry
        RetryWithBrowser,  // the service wants the browser instead of its application
        RetryWithDialog,   // the service wants the in-app login dialog
        NotLoggedIn,       // cancelled says whether the user cancelled (else it failed)
    };

    Outcome outcome = Outcome::NotForThisApp;
    std::string token;
    Date expiry{};
    bool cancelled = false;

    // The prefix every callback of appId starts with.
    static std::string prefix(const std::string& appId);
    static FBCallbackUrl interpret(std::string_view url, const std::string& appId, Date now);
};

}  // namespace quorbit::facebook
