#include "codes/CodeContent.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "platform/core/Text.h"

namespace quorbit::codes {

namespace {

bool needsEscape(char32_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), s.begin(), [](char a, char b) {
               return std::tolower(std::uint8_t(a)) == std::tolower(std::uint8_t(b));
           });
}

// Printable UTF-8 with no spaces: the only text an address may be opened from.
bool isCleanAddress(std::string_view raw) {
    if (!platform::isValidUtf8(raw)) return false;
    for (std::size_t i = 0; i < raw.size();) {
        char32_t c;
        i += platform::decodeUtf8(raw.substr(i), c);
        if (needsEscape(c) || c == ' ') return false;
    }
    return true;
}

// The host of an http(s) address: between "//" and the path, without user information or
// port. Empty when there is none or it holds characters no host has.
std::string hostOf(std::string_view url) {
    std::size_t start = url.find("//");
    if (start == std::string_view::npos) return {};
    std::string_view authority = url.substr(start + 2);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (auto at = authority.rfind('@'); at != std::string_view::npos)
        authority = authority.substr(at + 1);
    std::string_view host = authority;
    if (!host.empty() && host.front() == '[') {
        host = host.substr(0, host.find(']') + 1);
    } else {
        host = host.substr(0, host.find(':'));
    }
    for (char c : host)
        if (c == '\\' || c == '%' || c == '"' || c == '<' || c == '>') return {};
    return std::string(host);
}

// The value of field in a Wi-Fi code's "WIFI:S:name;T:WPA;P:secret;;", with its backslash
// escapes undone; nullopt when absent.
std::optional<std::string> wifiField(std::string_view body, char field) {
    std::size_t i = 0;
    while (i < body.size()) {
        std::size_t nameEnd = body.find(':', i);
        if (nameEnd == std::string_view::npos) return std::nullopt;
        std::string_view name = body.substr(i, nameEnd - i);
        std::string value;
        std::size_t j = nameEnd + 1;
        for (; j < body.size() && body[j] != ';'; ++j) {
            if (body[j] == '\\' && j + 1 < body.size()) ++j;
            value += body[j];
        }
        if (name.size() == 1 && std::toupper(std::uint8_t(name[0])) == field) return value;
        i = j + 1;
    }
    return std::nullopt;
}

// The part of an address after its scheme, up to any query.
std::string_view afterScheme(std::string_view raw, std::size_t schemeLength) {
    std::string_view rest = raw.substr(schemeLength);
    return rest.substr(0, rest.find('?'));
}

bool looksLikeEmail(std::string_view raw) {
    std::size_t at = raw.find('@');
    if (at == 0 || at == std::string_view::npos || raw.find('@', at + 1) != std::string_view::npos)
        return false;
    std::size_t dot = raw.find('.', at);
    return dot != std::string_view::npos && dot > at + 1 && dot + 1 < raw.size() &&
           isCleanAddress(raw) && raw.find_first_of("/:;,<>()[]\\\"") == std::string_view::npos;
}

}  // namespace

std::string escapeForDisplay(std::string_view raw, std::size_t limit) {
    std::string out;
    std::size_t shown = 0, i = 0;
    while (i < raw.size()) {
        if (shown == limit) {
            out += "…";
            break;
        }
        char32_t c;
        std::size_t n = platform::decodeUtf8(raw.substr(i), c);
        char escape[16];
        if (n == 0) {
            std::snprintf(escape, sizeof escape, "\\x%02X", unsigned(std::uint8_t(raw[i])));
            out += escape;
            n = 1;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (needsEscape(c)) {
            std::snprintf(escape, sizeof escape, "\\u{%04X}", unsigned(c));
            out += escape;
        } else {
            out.append(raw.substr(i, n));
        }
        i += n;
        ++shown;
    }
    return out;
}

CodeContent classify(std::string_view raw) {
    CodeContent content;
    bool clean = isCleanAddress(raw);
    auto openable = [&](ContentKind kind, std::string_view shown) {
        content.kind = kind;
        content.title = escapeForDisplay(shown);
        content.openUrl = std::string(raw);
        return content;
    };
    if (clean && (startsWithNoCase(raw, "http://") || startsWithNoCase(raw, "https://"))) {
        std::string host = hostOf(raw);
        if (!host.empty()) {
            openable(ContentKind::Link, host);
            content.detail = escapeForDisplay(raw);
            return content;
        }
    }
    if (clean && startsWithNoCase(raw, "mailto:") && raw.size() > 7)
        return openable(ContentKind::Email, afterScheme(raw, 7));
    if (clean && startsWithNoCase(raw, "tel:") && raw.size() > 4)
        return openable(ContentKind::Phone, afterScheme(raw, 4));
    if (clean && startsWithNoCase(raw, "geo:") && raw.size() > 4)
        return openable(ContentKind::Geo, afterScheme(raw, 4));
    if (startsWithNoCase(raw, "WIFI:")) {
        std::string_view body = raw.substr(5);
        if (auto ssid = wifiField(body, 'S')) {
            content.kind = ContentKind::Wifi;
            content.title = escapeForDisplay(*ssid);
            content.copyText = wifiField(body, 'P').value_or("");
            return content;
        }
    }
    if (looksLikeEmail(raw)) {
        content.kind = ContentKind::Email;
        content.title = escapeForDisplay(raw);
        content.openUrl = "mailto:" + std::string(raw);
        return content;
    }
    content.kind = ContentKind::Text;
    content.title = escapeForDisplay(raw);
    // Line breaks and tabs are copied as they are; anything else unprintable is copied as
    // it is shown.
    bool plain = platform::isValidUtf8(raw);
    for (std::size_t i = 0; plain && i < raw.size();) {
        char32_t c;
        i += platform::decodeUtf8(raw.substr(i), c);
        plain = !needsEscape(c) || c == '\n' || c == '\t' || c == '\r';
    }
    content.copyText = plain ? std::string(raw) : escapeForDisplay(raw, raw.size());
    return content;
}

}  // namespace quorbit::codes
