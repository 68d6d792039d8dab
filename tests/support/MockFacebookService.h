#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "facebook/FBConfiguration.h"
#include "support/LocalHttpServer.h"

namespace quorbit::testing {

// A stand-in for the Facebook service on 127.0.0.1 that keeps to the contract the client
// relies on:
//   GRAPH  me (GET: {"id","name"} for the valid token, else an error object),
//          me/photos (POST, multipart with "picture" and "message": {"id"})
//   REST   auth.expireSession (GET: the token stops being valid; "true"),
//          fql.query (POST with "query": an array of friends)
//   DIALOG oauth (GET: an HTML sign-in form; its POST redirects to redirect_uri with
//          "#access_token=...&expires_in=3600", or, for Cancel, to "fbconnect://cancel" or
//          redirect_uri "#error=access_denied")
//   LOGIN  login.php (sets the cookie "fb_login=1")
//   canned/NAME answers the body, status and type set with setCanned(NAME, ...); slow
//   waits 1.5 s.
// Every request is recorded. Multipart bodies are read part by part as a strict parser
// would: a body without its closing delimiter, or a file part without a name, is refused
// with 400 and recorded as refused.
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
        bool multipartRefused = false;
        std::vector<Part> parts;                  // in the order received
        std::map<std::string, std::string> form;  // an urlencoded form's fields

        std::optional<std::string> param(const std::string& key) const;
        const Part* part(const std::string& name) const;
    };
    struct Upload {
        std::string message;
        std::string png;
    };

    MockFacebookService();
    ~MockFacebookService();

    facebook::FBConfiguration configuration(const std::string& appId = "123456") const;
    std::string url(const std::string& path) const { return _server.url(path); }
    // The same server under the host name "localhost".
    std::string localhostUrl(const std::string& path) const { return _server.localhostUrl(path); }

    void setCanned(const std::string& name, std::string body, int status = 200,
                   std::string contentType = "text/plain");
    std::vector<Received> received() const;
    std::optional<Received> last(const std::string& path) const;
    std::vector<Upload> uploads() const;
    bool tokenExpired() const;

  private:
    void record(Received r);

    LocalHttpServer _server;
    mutable std::mutex _mutex;
    std::vector<Received> _received;
    struct Canned {
        std::string body;
        int status = 200;
        std::string contentType;
    };
    std::map<std::string, Canned> _canned;
    std::vector<Upload> _uploads;
    bool _tokenExpired = false;
};

}  // namespace quorbit::testing
