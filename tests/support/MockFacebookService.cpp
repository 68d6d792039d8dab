#include "support/MockFacebookService.h"

#include <chrono>
#include <thread>

#include "facebook/FBUrl.h"
#include "platform/core/Text.h"

namespace quorbit::testing {
namespace {

using namespace std::chrono_literals;

std::string htmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string signInPage(const std::string& redirectUri, const std::string& notice) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Sign in to Mockbook</title>"
           "<style>body{font:16px sans-serif;margin:12px;background:#fff}input,button{font-size:"
           "16px;margin:4px 0;display:block;width:90%}</style></head><body>"
           "<p id=\"notice\">" +
           htmlEscape(notice) +
           "</p>"
           "<form method=\"post\" action=\"/dialog/oauth\">"
           "<input type=\"hidden\" name=\"redirect_uri\" value=\"" +
           htmlEscape(redirectUri) +
           "\">"
           "<input name=\"user\" id=\"user\" placeholder=\"user\" autofocus>"
           "<input name=\"password\" id=\"password\" type=\"password\" placeholder=\"password\">"
           "<button id=\"login\" type=\"submit\" name=\"action\" value=\"login\">Log In</button>"
           "<button id=\"cancel\" type=\"submit\" name=\"action\" value=\"cancel\">Cancel</button>"
           "</form></body></html>";
}

}  // namespace

std::optional<std::string> MockFacebookService::Received::param(const std::string& key) const {
    if (auto it = query.find(key); it != query.end()) return it->second;
    return std::nullopt;
}

const MockFacebookService::Part* MockFacebookService::Received::part(
    const std::string& name) const {
    for (const Part& p : parts) {
        if (p.name == name) return &p;
    }
    return nullptr;
}

MockFacebookService::MockFacebookService() {
    httplib::Server& s = _server.server();
    // The web engine opens connections ahead of need; idle ones are dropped soon, since an
    // open connection holds the server's stop up.
    s.set_keep_alive_timeout(1);

    auto common = [](const httplib::Request& req) {
        Received r;
        r.method = req.method;
        r.path = req.path;
        r.target = req.target;
        for (const auto& [k, v] : req.params)
            r.query.emplace(k, v);
        r.userAgent = req.get_header_value("User-Agent");
        r.contentType = req.get_header_value("Content-Type");
        return r;
    };
    // Reads a multipart body part by part; false when the parser refuses it.
    auto readParts = [](const httplib::Request& req, const httplib::ContentReader& reader,
                        Received& r) {
        if (!req.is_multipart_form_data()) {
            std::string body;
            reader([&body](const char* data, size_t n) {
                body.append(data, n);
                return true;
            });
            return true;
        }
        bool ok = reader(
            [&r](const httplib::MultipartFormData& file) {
                r.parts.push_back(Part{file.name, file.filename, file.content_type, ""});
                return !file.name.empty();
            },
            [&r](const char* data, size_t n) {
                r.parts.back().content.append(data, n);
                return true;
            });
        r.multipartRefused = !ok;
        return ok;
    };
    auto tokenOf = [](const Received& r) -> std::optional<std::string> {
        if (auto t = r.param("access_token")) return t;
        if (const Part* p = r.part("access_token")) return p->content;
        return std::nullopt;
    };
    auto authError = [](httplib::Response& res) {
        res.status = 400;
        res.set_content(
            R"({"error":{"type":"OAuthException","code":190,"message":"The access token has expired."}})",
            "application/json");
    };

    s.Get("/graph/me", [=, this](const httplib::Request& req, httplib::Response& res) {
        Received r = common(req);
        bool valid = tokenOf(r) == std::string(kToken) && !tokenExpired();
        record(r);
        if (!valid) return authError(res);
        res.set_content(R"({"id":"42","name":"Ann"})", "application/json");
    });
    s.Post("/graph/me/photos", [=, this](const httplib::Request& req, httplib::Response& res,
                                         const httplib::ContentReader& reader) {
        Received r = common(req);
        if (!readParts(req, reader, r)) {
            record(r);
            res.status = 400;
            res.set_content("malformed multipart body", "text/plain");
            return;
        }
        bool valid = tokenOf(r) == std::string(kToken) && !tokenExpired();
        const Part* picture = r.part("picture");
        const Part* message = r.part("message");
        record(r);
        if (!valid) return authError(res);
        if (!picture || picture->contentType != "image/png") {
            res.set_content(
                R"({"error":{"type":"Exception","message":"(#324) Requires upload file"}})",
                "application/json");
            return;
        }
        {
            std::lock_guard lock(_mutex);
            _uploads.push_back(Upload{message ? message->content : "", picture->content});
        }
        res.set_content(R"({"id":"1001"})", "application/json");
    });
    s.Get("/method/auth.expireSession",
          [=, this](const httplib::Request& req, httplib::Response& res) {
              Received r = common(req);
              bool valid = tokenOf(r) == std::string(kToken);
              record(r);
              if (valid) {
                  std::lock_guard lock(_mutex);
                  _tokenExpired = true;
              }
              res.set_content(valid ? "true" : "false", "text/plain");
          });
    s.Post("/method/fql.query", [=, this](const httplib::Request& req, httplib::Response& res,
                                          const httplib::ContentReader& reader) {
        Received r = common(req);
        bool ok = readParts(req, reader, r);
        record(r);
        if (!ok) {
            res.status = 400;
            return;
        }
        res.set_content(
            R"([{"uid":7,"name":"Bo","pic_square":"https://pics.invalid/7.jpg","status":{"message":"hi"}},)"
            R"({"uid":8,"name":null,"pic_square":"https://pics.invalid/8.jpg","status":null}])",
            "application/json");
    });
    s.Get("/dialog/oauth", [=, this](const httplib::Request& req, httplib::Response& res) {
        Received r = common(req);
        record(r);
        res.set_content(signInPage(r.param("redirect_uri").value_or(""), ""), "text/html");
    });
    s.Post("/dialog/oauth", [=, this](const httplib::Request& req, httplib::Response& res) {
        Received r = common(req);
        for (const auto& [k, v] : req.params)
            r.form[k] = v;
        record(r);
        std::string redirect = r.form["redirect_uri"];
        if (r.form["action"] == "cancel") {
            bool dialog = redirect.rfind("fbconnect:", 0) == 0;
            res.set_redirect(dialog ? "fbconnect://cancel" : redirect + "#error=access_denied");
            return;
        }
        if (r.form["user"] != kUser || r.form["password"] != kPassword) {
            res.set_content(signInPage(redirect, "Wrong user or password"), "text/html");
            return;
        }
        res.set_redirect(redirect + "#access_token=" + platform::percentEncode(kToken) +
                         "&expires_in=3600");
    });
    s.Get("/login.php", [=, this](const httplib::Request& req, httplib::Response& res) {
        record(common(req));
        res.set_header("Set-Cookie", "fb_login=1; Path=/");
        res.set_content("signed in", "text/plain");
    });
    auto canned = [=, this](const httplib::Request& req, httplib::Response& res) {
        record(common(req));
        std::lock_guard lock(_mutex);
        const Canned& canned = _canned[req.matches[1]];
        res.status = canned.status;
        res.set_content(canned.body,
                        canned.contentType.empty() ? "text/plain" : canned.contentType);
    };
    s.Get("/canned/(.+)", canned);
    s.Post("/canned/(.+)", canned);
    s.Get("/slow", [=, this](const httplib::Request& req, httplib::Response& res) {
        record(common(req));
        std::this_thread::sleep_for(1500ms);
        res.set_content("true", "text/plain");
    });
    _server.start();
}

MockFacebookService::~MockFacebookService() = default;

facebook::FBConfiguration MockFacebookService::configuration(const std::string& appId) const {
    facebook::FBConfiguration c;
    c.appId = appId;
    c.graphURL = _server.url("/graph/");
    c.restURL = _server.url("/method/");
    c.dialogURL = _server.url("/dialog/");
    c.loginURL = _server.url("/login.php");
    return c;
}

void MockFacebookService::setCanned(const std::string& name, std::string body, int status,
                                    std::string contentType) {
    std::lock_guard lock(_mutex);
    _canned[name] = Canned{std::move(body), status, std::move(contentType)};
}

void MockFacebookService::record(Received r) {
    std::lock_guard lock(_mutex);
    _received.push_back(std::move(r));
}

std::vector<MockFacebookService::Received> MockFacebookService::received() const {
    std::lock_guard lock(_mutex);
    return _received;
}

std::optional<MockFacebookService::Received> MockFacebookService::last(
    const std::string& path) const {
    std::lock_guard lock(_mutex);
    for (auto it = _received.rbegin(); it != _received.rend(); ++it) {
        if (it->path == path) return *it;
    }
    return std::nullopt;
}

std::vector<MockFacebookService::Upload> MockFacebookService::uploads() const {
    std::lock_guard lock(_mutex);
    return _uploads;
}

bool MockFacebookService::tokenExpired() const {
    std::lock_guard lock(_mutex);
    return _tokenExpired;
}

}  // namespace quorbit::testing
