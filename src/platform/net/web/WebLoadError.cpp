#include "platform/net/web/WebLoadError.h"

#include <gio/gio.h>
#include <libsoup/soup.h>
#include <wpe/webkit.h>

#include <memory>

namespace quorbit::platform {
namespace {

struct Mapped {
    const char* domain;
    long code;
    const char* text;  // null: the engine's own message
};

const Mapped kUnknown{kUrlErrorDomain, -1, nullptr};
const Mapped kCancelled{kUrlErrorDomain, kUrlErrorCancelled, "The page load was cancelled."};
const Mapped kCannotConnect{kUrlErrorDomain, -1004, "Could not connect to the server."};
const Mapped kCannotFindHost{kUrlErrorDomain, -1003,
                             "A server with the specified host name could not be found."};

bool is(const std::string& domain, GQuark quark) {
    return domain == g_quark_to_string(quark);
}

Mapped map(const std::string& domain, long code) {
    if (is(domain, WEBKIT_POLICY_ERROR) || is(domain, WEBKIT_PLUGIN_ERROR)) {
        switch (code) {
            case WEBKIT_POLICY_ERROR_CANNOT_SHOW_MIME_TYPE:
                return {kWebKitErrorDomain, code, "Content of this type cannot be shown."};
            case WEBKIT_POLICY_ERROR_CANNOT_SHOW_URI:
                return {kWebKitErrorDomain, code, "The URL cannot be shown."};
            case WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE:
                return {kWebKitErrorDomain, code, "Frame load interrupted"};
            case WEBKIT_POLICY_ERROR_CANNOT_USE_RESTRICTED_PORT:
                return {kWebKitErrorDomain, code, "Not allowed to use a restricted network port."};
            default:
                return {kWebKitErrorDomain, code, nullptr};
        }
    }
    if (is(domain, WEBKIT_NETWORK_ERROR)) {
        switch (code) {
            case WEBKIT_NETWORK_ERROR_CANCELLED:
                return kCancelled;
            case WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL:
                return {kUrlErrorDomain, -1002, "The URL's scheme is not supported."};
            case WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST:
                return {kUrlErrorDomain, -1100, "The requested file does not exist."};
            default:
                return kUnknown;
        }
    }
    if (is(domain, G_IO_ERROR)) {
        switch (code) {
            case G_IO_ERROR_CANCELLED:
                return kCancelled;
            case G_IO_ERROR_CONNECTION_REFUSED:
            case G_IO_ERROR_HOST_UNREACHABLE:
                return kCannotConnect;
            case G_IO_ERROR_TIMED_OUT:
                return {kUrlErrorDomain, -1001, "The request timed out."};
            case G_IO_ERROR_NETWORK_UNREACHABLE:
                return {kUrlErrorDomain, -1009, "The network connection appears to be offline."};
            case G_IO_ERROR_CONNECTION_CLOSED:
                return {kUrlErrorDomain, -1005, "The network connection was lost."};
            default:
                return kUnknown;
        }
    }
    if (is(domain, G_RESOLVER_ERROR)) return kCannotFindHost;
    if (is(domain, G_TLS_ERROR)) {
        if (code == G_TLS_ERROR_BAD_CERTIFICATE)
            return {kUrlErrorDomain, -1202, "The certificate for this server is invalid."};
        return {kUrlErrorDomain, -1200,
                "A secure connection to the server cannot be made (TLS error)."};
    }
    if (is(domain, SOUP_SESSION_ERROR)) {
        switch (code) {
            case SOUP_SESSION_ERROR_TOO_MANY_REDIRECTS:
            case SOUP_SESSION_ERROR_TOO_MANY_RESTARTS:
                return {kUrlErrorDomain, -1007, "The server redirected too many times."};
            case SOUP_SESSION_ERROR_PARSING:
            case SOUP_SESSION_ERROR_REDIRECT_NO_LOCATION:
            case SOUP_SESSION_ERROR_REDIRECT_BAD_URI:
                return {kUrlErrorDomain, -1011, "The server returned a bad response."};
            case SOUP_SESSION_ERROR_ENCODING:
                return {kUrlErrorDomain, -1015, "The server's response cannot be decoded."};
            default:
                return kUnknown;
        }
    }
    return kUnknown;
}

}  // namespace

Error webLoadError(const std::string& engineDomain, long engineCode,
                   const std::string& engineMessage, const std::string& url) {
    Mapped mapped = map(engineDomain, engineCode);
    std::string text = mapped.text ? mapped.text : engineMessage;
    if (text.empty()) text = "The page could not be loaded.";
    Error error = Error::make(mapped.domain, mapped.code, std::move(text));
    if (!url.empty()) error.userInfo[kFailingUrlKey] = url;
    error.underlying =
        std::make_shared<const Error>(Error::make(engineDomain, engineCode, engineMessage));
    return error;
}

Error webLoadInterrupted(const std::string& url) {
    Error error =
        Error::make(kWebKitErrorDomain, kWebKitErrorFrameLoadInterrupted, "Frame load interrupted");
    if (!url.empty()) error.userInfo[kFailingUrlKey] = url;
    return error;
}

}  // namespace quorbit::platform
