#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <curl/curl.h>

namespace quorbit::platform {

// One cookie as the store keeps it.
struct HttpCookie {
    std::string domain;               // without a leading dot, lower case
    bool includesSubdomains = false;  // sent to the domain's subdomains as well
    std::string path = "/";
    bool secure = false;
    bool httpOnly = false;
    std::int64_t expires = 0;  // seconds since 1970; 0 for a session cookie
    std::string name;
    std::string value;

    // Whether the cookie is sent to host (exactly its domain, or a subdomain of it when the
    // cookie includes subdomains).
    bool matchesHost(const std::string& host) const;
};

// The process's cookies for URL connections: one libcurl share handle that every connection
// uses, so a cookie set by one answer goes with the next request. Kept in memory for the
// life of the process. Main thread only.
class CookieStore {
  public:
    static CookieStore& shared();
    CookieStore();
    ~CookieStore();
    CookieStore(const CookieStore&) = delete;
    CookieStore& operator=(const CookieStore&) = delete;

    // The share handle that connections attach to.
    CURLSH* share() const { return _share; }

    std::vector<HttpCookie> cookies() const;
    std::vector<HttpCookie> cookiesForHost(const std::string& host) const;
    // Adds or replaces a cookie.
    void setCookie(const HttpCookie& cookie);
    // Deletes every cookie that would be sent to host; returns how many went.
    size_t deleteCookiesForHost(const std::string& host);
    void deleteAllCookies();

  private:
    CURLSH* _share = nullptr;
};

}  // namespace quorbit::platform
