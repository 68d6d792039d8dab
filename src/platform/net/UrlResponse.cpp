#include "platform/net/UrlResponse.h"

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "platform/core/Text.h"

namespace quorbit::platform {

std::optional<std::string> UrlResponse::valueForHeader(const std::string& field) const {
    for (const auto& [name, value] : headers) {
        if (strcasecmp(name.c_str(), field.c_str()) == 0) return value;
    }
    return std::nullopt;
}

long long UrlResponse::expectedContentLength() const {
    auto value = valueForHeader("Content-Length");
    if (!value || value->empty()) return -1;
    for (char c : *value) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    }
    errno = 0;
    long long length = std::strtoll(value->c_str(), nullptr, 10);
    return errno == 0 ? length : -1;
}

std::string UrlResponse::mimeType() const {
    auto value = valueForHeader("Content-Type");
    if (!value) return {};
    std::string type = value->substr(0, value->find(';'));
    return lower(trim(type));
}

}  // namespace quorbit::platform
