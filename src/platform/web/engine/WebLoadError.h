#pragma once

#include <string>

#include "platform/core/Error.h"
#include "platform/net/UrlError.h"

namespace quorbit::platform {

// The key of the URL that failed to load (the web engine's own domain and codes are in
// platform/net/UrlError.h).
inline constexpr const char* kFailingUrlKey = "NSErrorFailingURLStringKey";

// The error a web view reports for a page load that failed with the engine's error (its
// GLib error domain name, code and message) at url. A cancelled load is quorbit.url
// -999; the engine's policy errors (a refused navigation is 102) keep their codes in
// quorbit.page-load; network failures become quorbit.url codes with a readable text
// that ends in the engine's message. The engine's error is kept as the underlying error.
Error webLoadError(const std::string& engineDomain, long engineCode,
                   const std::string& engineMessage, const std::string& url);

// The error of a navigation that the navigation filter refused.
Error webLoadInterrupted(const std::string& url);

}  // namespace quorbit::platform
