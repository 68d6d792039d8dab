#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorbit::platform {

// The header of a server's final answer to a URL request (redirects already followed).
struct UrlResponse {
    std::string url;  // where the answer came from, after redirects
    long statusCode = 0;
    std::vector<std::pair<std::string, std::string>> headers;

    // The first header field of that name (case-blind), without surrounding blanks.
    std::optional<std::string> valueForHeader(const std::string& field) const;
    // Content-Length, or -1 when the server did not say.
    long long expectedContentLength() const;
    // The media type of Content-Type without parameters, lower case ("" when absent).
    std::string mimeType() const;
};

}  // namespace quorbit::platform
