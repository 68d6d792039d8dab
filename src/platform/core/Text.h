#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorbit::platform {

// text without the white space (space, tab, CR, LF, vertical tab, form feed) at either end.
std::string trim(std::string_view text);

// text with the ASCII capitals A-Z made small; every other byte (UTF-8 included) unchanged,
// whatever the locale: for names, schemes, header fields and keywords, never for prose.
std::string lower(std::string_view text);

// text with every byte but the unreserved characters of a URL (A-Z a-z 0-9 - . _ ~) written
// as %XX (capital hex digits), so that it stands as one component of a URL or a form.
std::string percentEncode(std::string_view text);

// The bytes that %XX sequences stand for, other bytes as they are; empty when a '%' is not
// followed by two hex digits. "+" is left as it is.
std::optional<std::string> percentDecode(std::string_view text);

// The length of the valid UTF-8 sequence at the start of text, with its code point in out;
// 0 when the bytes there are none (overlong forms, surrogates and values past U+10FFFF are
// not valid).
std::size_t decodeUtf8(std::string_view text, char32_t& out);

// Whether text is valid UTF-8 throughout.
bool isValidUtf8(std::string_view text);

}  // namespace quorbit::platform
