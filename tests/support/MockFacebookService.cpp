#include "support/MockFacebookService.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/core/Text.h"

namespace quorbit::testing {
namespace {

using Req = httplib::Request;
using Res = httplib::Response;

// The sign-in form, its fields large enough to click; redirectUri is the client's own.
std::string signInPage(const std::string& redirectUri) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Sign in to Mockbook</title>"
           "<style>body{font:16px sans-serif;margin:12px;background:#fff}input,button{font-size:"
           "16px;margin:4px 0;display:block;width:90%}</style></head><body><form method=\"post\" "
           "action=\"/dialog/oauth\"><input type=\"hidden\" name=\"redirect_uri\" value=\"" +
           redirectUri +
           "\"><input name=\"user\" id=\"user\"><input name=\"password\" id=\"password\">"
           "<button id=\"login\" type=\"submit\" name=\"action\" value=\"login\">Log In</button>"
           "<button id=\"cancel\" type=\"submit\" name=\"action\" value=\"cancel\">Cancel</button>"
           "</form></body></html>";
}

}  // namespace

std::optional<std::string> MockFacebookService::Received::param(const std::string& key) const {
    if (auto it = query.find(key); it != query.end()) return it->second;
    return std::nullopt;
}

std::string MockFacebookService::Received::text(const std::string& name) const {
    auto it = std::find_if(parts.begin(), parts.end(), [&](auto& p) { return p.name == name; });
    return it == parts.end() ? "" : it->content;
}

MockFacebookService::MockFacebookService() {
    httplib::Server& s = _server.server();
    // The web engine opens connections ahead of need; idle ones are dropped soon, since an
    // open connection holds the server's stop up.
    s.set_keep_alive_timeout(1);

    // Records the request, its multipart body (if a reader is given) read part by part as a
    // strict parser does; none, answered with 400, when the parser refuses the body.
    auto receive = [this](const Req& req, Res& res,
                          const httplib::ContentReader* reader = nullptr) {
        Received r{req.method,
                   req.path,
                   req.target,
                   req.params,
                   req.get_header_value("User-Agent"),
                   req.get_header_value("Content-Type"),
                   {}};
        auto header = [&r](const httplib::MultipartFormData& f) {
            r.parts.push_back(Part{f.name, f.filename, f.content_type, ""});
            return !f.name.empty();
        };
        auto content = [&r](const char* data, size_t n) {
            r.parts.back().content.append(data, n);
            return true;
        };
        bool read = !reader || (*reader)(header, content);
        std::lock_guard lock(_mutex);
        _received.push_back(r);
        if (!read) res.status = 400;
        return read ? std::optional(r) : std::nullopt;
    };
    auto validToken = [this](const Received& r) {
        return r.param("access_token").value_or(r.text("access_token")) == kToken &&
               !tokenExpired();
    };
    auto authError = [](Res& res) {
        res.status = 400;
        res.set_content(
            R"({"error":{"type":"OAuthException","code":190,"message":"The access token has expired."}})",
            "application/json");
    };

    s.Get("/graph/me", [=](const Req& req, Res& res) {
        if (!validToken(*receive(req, res))) return authError(res);
        res.set_content(R"({"id":"42","name":"Ann"})", "application/json");
    });
    s.Post("/graph/me/photos",
           [=, this](const Req& req, Res& res, const httplib::ContentReader& reader) {
               auto r = receive(req, res, &reader);
               if (!r) return;
               if (!validToken(*r)) return authError(res);
               std::lock_guard lock(_mutex);
               _uploads.push_back(Upload{r->text("message"), r->text("picture")});
               res.set_content(R"({"id":"1001"})", "application/json");
           });
    s.Get("/method/auth.expireSession", [=, this](const Req& req, Res& res) {
        bool valid = validToken(*receive(req, res));
        std::lock_guard lock(_mutex);
        _tokenExpired = _tokenExpired || valid;
        res.set_content(valid ? "true" : "false", "text/plain");
    });
    s.Post("/method/fql.query", [=](const Req& req, Res& res,
                                    const httplib::ContentReader& reader) {
        if (!receive(req, res, &reader)) return;
        res.set_content(
            R"([{"uid":7,"name":"Bo","pic_square":"https://pics.invalid/7.jpg","status":{"message":"hi"}},)"
            R"({"uid":8,"name":null,"pic_square":"https://pics.invalid/8.jpg","status":null}])",
            "application/json");
    });
    s.Get("/dialog/oauth", [=](const Req& req, Res& res) {
        receive(req, res);
        res.set_content(signInPage(req.get_param_value("redirect_uri")), "text/html");
    });
    s.Post("/dialog/oauth", [=](const Req& req, Res& res) {
        receive(req, res);
        std::string redirect = req.get_param_value("redirect_uri");
        if (req.get_param_value("action") == "cancel") {
            bool dialog = redirect.starts_with("fbconnect:");
            return res.set_redirect(dialog ? "fbconnect://cancel"
                                           : redirect + "#error=access_denied");
        }
        if (req.get_param_value("user") != kUser || req.get_param_value("password") != kPassword)
            return res.set_content(signInPage(redirect), "text/html");
        res.set_redirect(redirect + "#access_token=" + platform::percentEncode(kToken) +
                         "&expires_in=3600");
    });
    auto canned = [=, this](const Req& req, Res& res) {
        receive(req, res);
        std::lock_guard lock(_mutex);
        auto it = _canned.find(req.matches[1]);
        auto [body, status, type] = it == _canned.end() ? std::tuple("", 200, "") : it->second;
        res.status = status;
        res.set_content(body, type.empty() ? "text/plain" : type);
    };
    s.Get("/canned/(.+)", canned);
    s.Post("/canned/(.+)", canned);
    s.Get("/slow", [=](const Req& req, Res& res) {
        receive(req, res);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        res.set_content("true", "text/plain");
    });
    _server.start();
}

facebook::FBConfiguration MockFacebookService::configuration(const std::string& appId) const {
    return {appId, url("/graph/"), url("/method/"), url("/dialog/"), url("/login.php")};
}

void MockFacebookService::setCanned(const std::string& name, std::string body, int status,
                                    std::string contentType) {
    std::lock_guard lock(_mutex);
    _canned[name] = {std::move(body), status, std::move(contentType)};
}

std::optional<MockFacebookService::Received> MockFacebookService::last(
    const std::string& path) const {
    auto all = received();
    auto it = std::find_if(all.rbegin(), all.rend(), [&](auto& r) { return r.path == path; });
    return it == all.rend() ? std::nullopt : std::optional(*it);
}

}  // namespace quorbit::testing
