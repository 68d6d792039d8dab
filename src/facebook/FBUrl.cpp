#include "facebook/FBUrl.h"

#include <cctype>
#include <cstdint>
#include <limits>

#include "platform/core/Text.h"

namespace quorbit::facebook::FBUrl {
std::optional<std::string> unescape(std::string_view text) {
    auto out = platform::percentDecode(text);
    if (!out || !isValidUtf8(*out)) return std::nullopt;
    return out;
}

bool isValidUtf8(std::string_view text) {
    return platform::isValidUtf8(text);
}

std::map<std::string, std::string> parseParams(std::string_view query) {
    std::map<std::string, std::string> params;
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string_view::npos) end = query.size();
        std::string_view piece = query.substr(start, end - start);
        size_t equals = piece.find('=');
        if (equals != std::string_view::npos) {
            std::string_view value = piece.substr(equals + 1);
            value = value.substr(0, value.find('='));
            if (auto unescaped = unescape(value))
                params[std::string(piece.substr(0, equals))] = std::move(*unescaped);
        }
        start = end + 1;
    }
    return params;
}

std::optional<std::string> valueForNeedle(std::string_view url, std::string_view needle) {
    size_t at = url.find(needle);
    if (at == std::string_view::npos || needle.empty()) return std::nullopt;
    std::string_view rest = url.substr(at + needle.size());
    return unescape(rest.substr(0, rest.find('&')));
}

std::optional<std::string_view> fragmentOrQuery(std::string_view url) {
    size_t hash = url.find('#');
    if (hash != std::string_view::npos) return url.substr(hash + 1);
    size_t question = url.find('?');
    if (question != std::string_view::npos) return url.substr(question + 1);
    return std::nullopt;
}

bool hasQuery(std::string_view url) {
    size_t question = url.find('?');
    return question != std::string_view::npos && question < url.find('#');
}

std::optional<std::string> schemeOf(std::string_view url) {
    size_t colon = url.find(':');
    if (colon == 0 || colon == std::string_view::npos) return std::nullopt;
    if (!std::isalpha(static_cast<unsigned char>(url[0]))) return std::nullopt;
    for (size_t i = 1; i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(url[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
    }
    return platform::lower(url.substr(0, colon));
}

std::optional<std::string> hostOf(std::string_view url) {
    auto scheme = schemeOf(url);
    if (!scheme) return std::nullopt;
    std::string_view rest = url.substr(scheme->size() + 1);
    if (rest.substr(0, 2) != "//") return std::nullopt;
    rest = rest.substr(2);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (size_t at = rest.rfind('@'); at != std::string_view::npos) rest = rest.substr(at + 1);
    std::string_view host;
    if (!rest.empty() && rest[0] == '[') {
        size_t close = rest.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = rest.substr(1, close - 1);
    } else {
        host = rest.substr(0, rest.find(':'));
    }
    if (host.empty()) return std::nullopt;
    return platform::lower(host);
}

long long integerValue(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr long long max = std::numeric_limits<long long>::max();
    unsigned long long value = 0;
    bool overflow = false;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (value > (static_cast<unsigned long long>(max) + 1 - digit) / 10) overflow = true;
        if (!overflow) value = value * 10 + digit;
    }
    if (negative) {
        if (overflow || value > static_cast<unsigned long long>(max))
            return std::numeric_limits<long long>::min();
        return -static_cast<long long>(value);
    }
    if (overflow || value > static_cast<unsigned long long>(max)) return max;
    return static_cast<long long>(value);
}

}  // namespace quorbit::facebook::FBUrl
