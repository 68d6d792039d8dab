#pragma once

#include <string>

#include "platform/core/Error.h"

namespace quorbit::platform {

// The domain of URL loading failures, shared by URL connections and the web view.
inline constexpr const char* kUrlErrorDomain = "quorbit.url";

// Why a URL load failed. The codes are negative, as the domain has always numbered them.
enum class UrlError : long {
    Unknown = -1,                        // a failure with no closer code
    Cancelled = -999,                    // the load was cancelled (or replaced by another)
    BadUrl = -1000,                      // the URL cannot be parsed
    TimedOut = -1001,                    // nothing moved for the timeout, the deadline passed
                                         // or the transfer stayed under the low-speed limit
    UnsupportedUrl = -1002,              // a scheme the connection does not speak
    CannotFindHost = -1003,              // the host name does not resolve
    CannotConnectToHost = -1004,         // the host refused or never answered the connection
    NetworkConnectionLost = -1005,       // the connection broke mid-load (a truncated body too)
    HttpTooManyRedirects = -1007,        // the redirects did not end
    RedirectRefused = -1010,             // a redirect to a place the request does not allow
    InsecureConnectionRefused = -1022,   // plain HTTP where a secure connection is required
    BadServerResponse = -1011,           // the answer is not HTTP
    FileDoesNotExist = -1100,            // a file: URL names no file
    DataLengthExceedsMaximum = -1103,    // the body is larger than the request allows
    SecureConnectionFailed = -1200,      // the TLS handshake failed
    ServerCertificateUntrusted = -1202,  // the server's certificate did not verify
};
constexpr const char* errorDomain(UrlError) {
    return kUrlErrorDomain;
}

// The domain of the web engine's own load failures (a refused navigation, content it cannot
// show). Codes the engine adds later pass through with their own numbers.
inline constexpr const char* kPageLoadErrorDomain = "quorbit.page-load";
enum class PageLoadError : long {
    CannotShowMimeType = 100,    // content of a type the view cannot show
    CannotShowUrl = 101,         // a URL the view cannot show
    FrameLoadInterrupted = 102,  // the navigation filter refused the load
    RestrictedPort = 103,        // a port the engine does not connect to
};
constexpr const char* errorDomain(PageLoadError) {
    return kPageLoadErrorDomain;
}

inline Error makeUrlError(UrlError code, std::string description) {
    return Error::make(code, std::move(description));
}

inline bool isUrlError(const Error& error, UrlError code) {
    return error.is(code);
}

}  // namespace quorbit::platform
