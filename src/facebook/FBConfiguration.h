#pragma once

#include <string>

namespace quorbit::facebook {

// Where the Facebook client talks to and who it is: the app identifier and the four
// endpoints. The environment may replace each (QUORBIT_FB_APP_ID, QUORBIT_FB_GRAPH_URL,
// QUORBIT_FB_REST_URL, QUORBIT_FB_DIALOG_URL, QUORBIT_FB_LOGIN_URL); an endpoint that is
// not HTTPS, other than one on the loopback address (tests, a local mock service), is
// refused with a log line and the built-in one stays.
struct FBConfiguration {
    std::string appId;
    std::string graphURL;   // ends in "/"; a graph path is appended
    std::string restURL;    // ends in "method/"; a REST method name is appended
    std::string dialogURL;  // ends in "dialog/"; a dialog action is appended
    std::string loginURL;   // the login host: its cookies go at logout

    static FBConfiguration builtIn();
    static FBConfiguration fromEnvironment();

    // HTTPS, or plain HTTP to 127.0.0.0/8, ::1 or localhost.
    static bool isAllowedEndpoint(const std::string& url);
    // Letters and digits only, as the URL scheme made from it needs.
    static bool isValidAppId(const std::string& appId);

    // The URL scheme the sign-in returns with: "fb" and the app identifier.
    std::string callbackScheme() const { return "fb" + appId; }
};

}  // namespace quorbit::facebook
