#include "platform/web/engine/WebLoadError.h"

#include <gio/gio.h>
#include <libsoup/soup.h>
#include <wpe/webkit.h>

#include <memory>

namespace quorbit::platform {
namespace {

struct Mapped {
    const char* domain;
    long code;
    const char* text;        // null: the engine's own message alone
    bool withDetail = true;  // the engine's message follows the text
};

Mapped url(UrlError code, const char* text) {
    return {kUrlErrorDomain, static_cast<long>(code), text};
}

const Mapped kUnknown{kUrlErrorDomain, static_cast<long>(UrlError::Unknown), nullptr};
const Mapped kCancelled{kUrlErrorDomain, static_cast<long>(UrlError::Cancelled),
                        "The load was cancelled", false};

bool is(const std::string& domain, GQuark quark) {
    return domain == g_quark_to_string(quark);
}

Mapped map(const std::string& domain, long code) {
    if (is(domain, WEBKIT_POLICY_ERROR) || is(domain, WEBKIT_PLUGIN_ERROR)) {
        // The engine numbers these as the web view's error domain always has.
        switch (code) {
            case WEBKIT_POLICY_ERROR_CANNOT_SHOW_MIME_TYPE:
                return {kPageLoadErrorDomain, code, "Content of this type cannot be shown", false};
            case WEBKIT_POLICY_ERROR_CANNOT_SHOW_URI:
                return {kPageLoadErrorDomain, code, "The URL cannot be shown", false};
            case WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE:
                return {kPageLoadErrorDomain, code, "Frame load interrupted", false};
            case WEBKIT_POLICY_ERROR_CANNOT_USE_RESTRICTED_PORT:
                return {kPageLoadErrorDomain, code, "Not allowed to use a restricted network port",
                        false};
            default:
                return {kPageLoadErrorDomain, code, nullptr};
        }
    }
    if (is(domain, WEBKIT_NETWORK_ERROR)) {
        switch (code) {
            case WEBKIT_NETWORK_ERROR_CANCELLED:
                return kCancelled;
            case WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL:
                return url(UrlError::UnsupportedUrl, "The URL's scheme is not supported");
            case WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST:
                return url(UrlError::FileDoesNotExist, "The file does not exist");
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
            case G_IO_ERROR_NETWORK_UNREACHABLE:
                return url(UrlError::CannotConnectToHost, "Could not connect to the server");
            case G_IO_ERROR_TIMED_OUT:
                return url(UrlError::TimedOut, "The request timed out");
            case G_IO_ERROR_CONNECTION_CLOSED:
                return url(UrlError::NetworkConnectionLost, "The network connection was lost");
            default:
                return kUnknown;
        }
    }
    if (is(domain, G_RESOLVER_ERROR))
        return url(UrlError::CannotFindHost, "The server's name could not be found");
    if (is(domain, G_TLS_ERROR)) {
        if (code == G_TLS_ERROR_BAD_CERTIFICATE)
            return url(UrlError::ServerCertificateUntrusted,
                       "The server's certificate is not trusted");
        return url(UrlError::SecureConnectionFailed, "A secure connection failed");
    }
    if (is(domain, SOUP_SESSION_ERROR)) {
        switch (code) {
            case SOUP_SESSION_ERROR_TOO_MANY_REDIRECTS:
            case SOUP_SESSION_ERROR_TOO_MANY_RESTARTS:
                return url(UrlError::HttpTooManyRedirects, "Too many redirects");
            case SOUP_SESSION_ERROR_PARSING:
            case SOUP_SESSION_ERROR_ENCODING:
            case SOUP_SESSION_ERROR_REDIRECT_NO_LOCATION:
            case SOUP_SESSION_ERROR_REDIRECT_BAD_URI:
                return url(UrlError::BadServerResponse, "The server's answer is not valid");
            default:
                return kUnknown;
        }
    }
    return kUnknown;
}

}  // namespace

Error webLoadError(const std::string& engineDomain, long engineCode,
                   const std::string& engineMessage, const std::string& failingUrl) {
    Mapped mapped = map(engineDomain, engineCode);
    std::string text;
    if (!mapped.text)
        text = engineMessage.empty() ? "The page could not be loaded" : engineMessage;
    else if (mapped.withDetail && !engineMessage.empty())
        text = std::string(mapped.text) + ": " + engineMessage;
    else
        text = mapped.text;
    Error error = Error::make(mapped.domain, mapped.code, std::move(text));
    if (!failingUrl.empty()) error.userInfo[kFailingUrlKey] = failingUrl;
    error.underlying =
        std::make_shared<const Error>(Error::make(engineDomain, engineCode, engineMessage));
    return error;
}

Error webLoadInterrupted(const std::string& failingUrl) {
    Error error = Error::make(PageLoadError::FrameLoadInterrupted, "Frame load interrupted");
    if (!failingUrl.empty()) error.userInfo[kFailingUrlKey] = failingUrl;
    return error;
}

}  // namespace quorbit::platform
