#include "facebook/FBCallbackUrl.h"

#include "facebook/FBUrl.h"

namespace quorbit::facebook {

std::string FBCallbackUrl::prefix(const std::string& appId) {
    return "fb" + appId + "://authorize";
}

FBCallbackUrl FBCallbackUrl::interpret(std::string_view url, const std::string& appId, Date now) {
    FBCallbackUrl result;
    if (url.substr(0, prefix(appId).size()) != prefix(appId)) return result;

    auto params = FBUrl::parseParams(FBUrl::fragmentOrQuery(url).value_or(""));
    auto token = params.find("access_token");
    // An empty token is no sign-in: storing it would report success with a session that
    // cannot be used.
    if (token != params.end() && !token->second.empty()) {
        result.outcome = Outcome::LoggedIn;
        result.token = token->second;
        result.expiry = distantFuture();
        if (auto lifetime = params.find("expires_in"); lifetime != params.end()) {
            long long seconds = FBUrl::integerValue(lifetime->second);
            if (seconds != 0) result.expiry = expiryAfter(now, seconds);
        }
        return result;
    }
    auto error = params.find("error");
    if (error != params.end() && error->second == "service_disabled_use_browser") {
        result.outcome = Outcome::RetryWithBrowser;
    } else if (error != params.end() && error->second == "service_disabled") {
        result.outcome = Outcome::RetryWithDialog;
    } else {
        result.outcome = Outcome::NotLoggedIn;
        result.cancelled = !params.count("error_code") &&
                           (error == params.end() || error->second == "access_denied");
    }
    return result;
}

}  // namespace quorbit::facebook
