#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/core/Error.h"
#include "platform/net/UrlError.h"
#include "platform/net/UrlRequest.h"
#include "platform/net/UrlResponse.h"

namespace quorbit::platform {

class UrlConnection;

// What a connection reports about its load; an empty member is not implemented. Every
// call comes on the main thread from the run loop, never from inside another call.
struct UrlConnectionDelegate {
    // The header of the final answer; redirects are followed without a report. Once per
    // answer: a body reported after it belongs to that answer.
    std::function<void(UrlConnection&, const UrlResponse&)> didReceiveResponse;
    // The next piece of the body.
    std::function<void(UrlConnection&, std::string_view data)> didReceiveData;
    // The body is complete. The last call of the load.
    std::function<void(UrlConnection&)> didFinishLoading;
    // The load failed (kUrlErrorDomain, with libcurl's error underneath where there is one).
    // The last call of the load.
    std::function<void(UrlConnection&, const Error&)> didFailWithError;
};

// One HTTP(S) load on libcurl's multi interface, driven by the main run loop. TLS
// certificates and host names are verified; redirects are followed (up to 16, and where the
// request says so only within its host); cookies
// come from and go to CookieStore::shared(); nothing is cached. The load fails as timed out
// when nothing moves for the request's timeout interval, when its deadline passes, or when
// it stays under its low-speed limit; with
// DataLengthExceedsMaximum when the body grows past the request's limit.
//
// A loading connection keeps itself, and with it its delegate's callbacks (and whatever
// they hold), alive until the load ends, so a caller may start one and let go of it. Main
// thread only.
class UrlConnection : public std::enable_shared_from_this<UrlConnection> {
  public:
    static std::shared_ptr<UrlConnection> start(UrlRequest request, UrlConnectionDelegate delegate);
    ~UrlConnection();
    UrlConnection(const UrlConnection&) = delete;
    UrlConnection& operator=(const UrlConnection&) = delete;

    // Stops the load; the delegate hears nothing more. Nothing happens once it has ended.
    void cancel();
    bool isLoading() const;
    const UrlRequest& originalRequest() const;

    // Loads in progress in the process.
    static size_t activeCount();
    // Whether a request for original that keeps to its own host may follow a redirect to
    // target (absolute): the same host (names compare case-blind) and no step from HTTPS
    // down to plain HTTP.
    static bool isRedirectWithinHost(const std::string& original, const std::string& target);

    struct Impl;

  private:
    UrlConnection();
    std::unique_ptr<Impl> _impl;
};

}  // namespace quorbit::platform
