#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorbit::platform {

// What a URL connection sends: the URL, the method, header fields in order, a body, and
// the limits of the load. Nothing is ever answered from a cache: every load goes to the
// server.
struct UrlRequest {
    std::string url;
    std::string httpMethod = "GET";
    // Sent to the URL's own origin (scheme, host and port); after a redirect to another
    // origin only the User-Agent goes on, and the Content-Type where the body does.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // How long the load may go without any progress (connecting, sending or receiving)
    // before it fails as timed out.
    std::chrono::duration<double> timeoutInterval{60.0};
    // The longest the whole load may take, however steadily it moves, before it fails as
    // timed out; 0 sets no limit.
    std::chrono::duration<double> deadline{0.0};
    // The load fails as timed out when it moves fewer than lowSpeedBytesPerSecond bytes a
    // second for lowSpeedWindow on end (libcurl's low-speed limit); 0 sets no floor.
    long lowSpeedBytesPerSecond = 0;
    std::chrono::seconds lowSpeedWindow{0};
    // The largest response body accepted; 0 accepts any size.
    std::size_t maximumBodySize = 0;
    // Whether a redirect may lead anywhere (HTTP or HTTPS), or only to the URL's own host
    // and never from HTTPS to plain HTTP; a redirect the request does not allow fails the
    // load before anything is sent to its target.
    bool redirectsWithinHostOnly = false;

    explicit UrlRequest(std::string url = {}) : url(std::move(url)) {}

    // Sets a header field, replacing one of the same name (names compare case-blind).
    void setValue(const std::string& value, const std::string& field);
    std::optional<std::string> valueForHeader(const std::string& field) const;
};

}  // namespace quorbit::platform
