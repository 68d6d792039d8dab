#include "facebook/FBConfiguration.h"

#include <cctype>
#include <cstdlib>

#include "facebook/FBUrl.h"
#include "platform/core/Log.h"

namespace quorbit::facebook {
namespace {

bool isLoopbackHost(const std::string& host) {
    if (host == "localhost" || host == "::1") return true;
    // 127.0.0.0/8 in dotted decimal.
    if (host.rfind("127.", 0) != 0) return false;
    int parts = 0;
    size_t start = 0;
    while (start <= host.size()) {
        size_t dot = host.find('.', start);
        if (dot == std::string::npos) dot = host.size();
        std::string part = host.substr(start, dot - start);
        if (part.empty() || part.size() > 3) return false;
        for (char c : part) {
            if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        }
        if (std::atoi(part.c_str()) > 255) return false;
        ++parts;
        start = dot + 1;
    }
    return parts == 4;
}

void replaceFrom(const char* variable, std::string& endpoint) {
    const char* value = std::getenv(variable);
    if (!value || !*value) return;
    if (!FBConfiguration::isAllowedEndpoint(value)) {
        platform::Log::warn(platform::format(
            "%s is not an HTTPS URL (plain HTTP is only for the loopback address); using %s",
            variable, endpoint.c_str()));
        return;
    }
    endpoint = value;
}

}  // namespace

FBConfiguration FBConfiguration::builtIn() {
    FBConfiguration c;
    c.appId = QUORBIT_FB_APP_ID;
    c.graphURL = "https://graph.facebook.com/";
    c.restURL = "https://api.facebook.com/method/";
    c.dialogURL = "https://m.facebook.com/dialog/";
    c.loginURL = "https://login.facebook.com/login.php";
    return c;
}

FBConfiguration FBConfiguration::fromEnvironment() {
    FBConfiguration c = builtIn();
    if (const char* appId = std::getenv("QUORBIT_FB_APP_ID"); appId && *appId) {
        if (isValidAppId(appId)) {
            c.appId = appId;
        } else {
            platform::Log::warn("QUORBIT_FB_APP_ID must be letters and digits only; using " +
                                c.appId);
        }
    }
    replaceFrom("QUORBIT_FB_GRAPH_URL", c.graphURL);
    replaceFrom("QUORBIT_FB_REST_URL", c.restURL);
    replaceFrom("QUORBIT_FB_DIALOG_URL", c.dialogURL);
    replaceFrom("QUORBIT_FB_LOGIN_URL", c.loginURL);
    return c;
}

bool FBConfiguration::isAllowedEndpoint(const std::string& url) {
    // Parsers disagree about backslashes and blanks in the authority; none is needed here.
    for (char c : url) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || c == '\\') return false;
    }
    auto scheme = FBUrl::schemeOf(url);
    auto host = FBUrl::hostOf(url);
    if (!scheme || !host) return false;
    if (*scheme == "https") return true;
    return *scheme == "http" && isLoopbackHost(*host);
}

bool FBConfiguration::isValidAppId(const std::string& appId) {
    if (appId.empty()) return false;
    for (char c : appId) {
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

}  // namespace quorbit::facebook
