#include "platform/net/UrlRequest.h"

#include <strings.h>

namespace quorbit::platform {

void UrlRequest::setValue(const std::string& value, const std::string& field) {
    for (auto& [name, existing] : headers) {
        if (strcasecmp(name.c_str(), field.c_str()) == 0) {
            existing = value;
            return;
        }
    }
    headers.emplace_back(field, value);
}

std::optional<std::string> UrlRequest::valueForHeader(const std::string& field) const {
    for (const auto& [name, value] : headers) {
        if (strcasecmp(name.c_str(), field.c_str()) == 0) return value;
    }
    return std::nullopt;
}

}  // namespace quorbit::platform
