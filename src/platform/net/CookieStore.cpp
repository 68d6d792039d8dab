#include "platform/net/CookieStore.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "platform/core/Log.h"
#include "platform/core/Text.h"

namespace quorbit::platform {
namespace {

// libcurl reads and writes cookies as lines of the Netscape cookie file: domain, include
// subdomains, path, secure, expiry, name, value, separated by tabs; an HttpOnly cookie's
// line starts with "#HttpOnly_".
constexpr const char* kHttpOnlyPrefix = "#HttpOnly_";

std::string toLine(const HttpCookie& cookie) {
    std::string domain = lower(cookie.domain);
    if (cookie.includesSubdomains) domain = "." + domain;
    std::ostringstream line;
    line << (cookie.httpOnly ? kHttpOnlyPrefix : "") << domain << '\t'
         << (cookie.includesSubdomains ? "TRUE" : "FALSE") << '\t'
         << (cookie.path.empty() ? "/" : cookie.path) << '\t' << (cookie.secure ? "TRUE" : "FALSE")
         << '\t' << cookie.expires << '\t' << cookie.name << '\t' << cookie.value;
    return line.str();
}

bool fromLine(std::string line, HttpCookie& cookie) {
    cookie = HttpCookie{};
    if (line.rfind(kHttpOnlyPrefix, 0) == 0) {
        cookie.httpOnly = true;
        line.erase(0, std::char_traits<char>::length(kHttpOnlyPrefix));
    }
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    if (fields.size() < 6) return false;
    std::string domain = lower(fields[0]);
    if (!domain.empty() && domain.front() == '.') domain.erase(0, 1);
    cookie.domain = domain;
    cookie.includesSubdomains = fields[1] == "TRUE";
    cookie.path = fields[2];
    cookie.secure = fields[3] == "TRUE";
    cookie.expires = std::strtoll(fields[4].c_str(), nullptr, 10);
    cookie.name = fields[5];
    cookie.value = fields.size() > 6 ? fields[6] : "";
    return true;
}

// An easy handle attached to the share, through which the shared cookies are read and
// written (libcurl has no call that works on a share handle directly).
struct ScratchHandle {
    CURL* easy;
    explicit ScratchHandle(CURLSH* share) : easy(curl_easy_init()) {
        if (easy) curl_easy_setopt(easy, CURLOPT_SHARE, share);
    }
    ~ScratchHandle() {
        if (easy) curl_easy_cleanup(easy);
    }
};

}  // namespace

bool HttpCookie::matchesHost(const std::string& host) const {
    std::string h = lower(host);
    if (h.size() > 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
    if (h == domain) return true;
    return includesSubdomains && h.size() > domain.size() &&
           h.compare(h.size() - domain.size(), domain.size(), domain) == 0 &&
           h[h.size() - domain.size() - 1] == '.';
}

CookieStore& CookieStore::shared() {
    static CookieStore* store = new CookieStore();  // lives as long as the process
    return *store;
}

CookieStore::CookieStore() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    _share = curl_share_init();
    if (_share) curl_share_setopt(_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
}

CookieStore::~CookieStore() {
    if (_share) curl_share_cleanup(_share);
}

std::vector<HttpCookie> CookieStore::cookies() const {
    std::vector<HttpCookie> result;
    ScratchHandle handle(_share);
    if (!handle.easy) return result;
    curl_easy_setopt(handle.easy, CURLOPT_COOKIEFILE, "");  // turns the cookie engine on
    curl_slist* list = nullptr;
    if (curl_easy_getinfo(handle.easy, CURLINFO_COOKIELIST, &list) != CURLE_OK) return result;
    for (curl_slist* item = list; item; item = item->next) {
        HttpCookie cookie;
        if (fromLine(item->data, cookie)) result.push_back(std::move(cookie));
    }
    curl_slist_free_all(list);
    return result;
}

std::vector<HttpCookie> CookieStore::cookiesForHost(const std::string& host) const {
    std::vector<HttpCookie> all = cookies();
    std::erase_if(all, [&host](const HttpCookie& c) { return !c.matchesHost(host); });
    return all;
}

void CookieStore::setCookie(const HttpCookie& cookie) {
    ScratchHandle handle(_share);
    if (!handle.easy) return;
    curl_easy_setopt(handle.easy, CURLOPT_COOKIELIST, toLine(cookie).c_str());
}

size_t CookieStore::deleteCookiesForHost(const std::string& host) {
    std::vector<HttpCookie> all = cookies();
    auto doomed = std::count_if(all.begin(), all.end(),
                                [&host](const HttpCookie& c) { return c.matchesHost(host); });
    if (doomed == 0) return 0;
    // libcurl deletes cookies only all at once: clear the jar and put back the others.
    ScratchHandle handle(_share);
    if (!handle.easy) return 0;
    curl_easy_setopt(handle.easy, CURLOPT_COOKIELIST, "ALL");
    for (const HttpCookie& cookie : all) {
        if (!cookie.matchesHost(host))
            curl_easy_setopt(handle.easy, CURLOPT_COOKIELIST, toLine(cookie).c_str());
    }
    Log::debug(format("deleted %zu cookie(s) of %s", static_cast<size_t>(doomed), host.c_str()));
    return static_cast<size_t>(doomed);
}

void CookieStore::deleteAllCookies() {
    ScratchHandle handle(_share);
    if (handle.easy) curl_easy_setopt(handle.easy, CURLOPT_COOKIELIST, "ALL");
}

}  // namespace quorbit::platform
