#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "facebook/FBConfiguration.h"
#include "support/LocalHttpServer.h"

namespace quorbit::testing {

// The Facebook service on 127.0.0.1, as far as the client uses it: Graph "me" (the user for
// the valid token, else an OAuth error) and "me/photos" (a multipart upload, read part by
// part as a strict parser does: 400 for a malformed body); REST "auth.expireSession" (the
// token stops being valid) and "fql.query" (two friends); the sign-in form at dialog/oauth,
// whose POST redirects to redirect_uri with "#access_token=...&expires_in=3600" (Cancel: to
// "fbconnect://cancel" for the dialog, else "#error=access_denied"); canned/NAME (what
// setCanned gave); slow (answers after 1.5 s). Every request is recorded.
class MockFacebookService {
  public:
    static constexpr const char* kUser = "ann";
    static constexpr const char* kPassword = "secret";
    static constexpr const char* kToken = "mock token/1+";  // needs escaping on the way

    struct Part {
        std::string name, filename, contentType, content;
    };
    struct Received {
        std::string method, path, target;  // target: path and query as sent
        std::multimap<std::string, std::string> query;
        std::string userAgent, contentType;
        std::vector<Part> parts;  // in the order received

        std::optional<std::string> param(const std::string& key) const;
        std::string text(const std::string& name) const;  // the part's content, or ""
    };
    struct Upload {
        std::string message, png;
    };

    MockFacebookService();
    // The server stops first: its handlers use the members below.
    ~MockFacebookService() { _server.stop(); }

    facebook::FBConfiguration configuration(const std::string& appId = "123456") const;
    std::string url(const std::string& path) const { return _server.url(path); }

    void setCanned(const std::string& name, std::string body, int status = 200,
                   std::string contentType = "text/plain");
    std::vector<Received> received() const { return locked(_received); }
    std::optional<Received> last(const std::string& path) const;
    std::vector<Upload> uploads() const { return locked(_uploads); }
    bool tokenExpired() const { return locked(_tokenExpired); }

  private:
    template <typename T>
    T locked(const T& value) const {
        std::lock_guard lock(_mutex);
        return value;
    }

    LocalHttpServer _server;
    mutable std::mutex _mutex;
    std::vector<Received> _received;
    std::map<std::string, std::tuple<std::string, int, std::string>> _canned;  // body, status, type
    std::vector<Upload> _uploads;
    bool _tokenExpired = false;
};

}  // namespace quorbit::testing
