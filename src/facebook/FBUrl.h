#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

// Text rules of the URLs the Facebook client builds and reads (values are escaped with
// platform::percentEncode). Nothing beyond the standard library and platform/core's text.
namespace quorbit::facebook::FBUrl {

// Replaces "%XX" escapes by their bytes. Empty when an escape is malformed or the result is
// not UTF-8. "+" stays "+".
std::optional<std::string> unescape(std::string_view text);

bool isValidUtf8(std::string_view text);

// Splits "key=value&key=value": the key as it stands, the value unescaped. A piece without
// "=" has no value and is skipped, as is a piece whose value does not unescape; a later key
// replaces an earlier one. Text after a second "=" in a piece is not part of the value.
std::map<std::string, std::string> parseParams(std::string_view query);

// The value after the first occurrence of needle (which includes its "="), up to the next
// "&" or the end, unescaped. Empty when the needle is missing or the value does not unescape.
std::optional<std::string> valueForNeedle(std::string_view url, std::string_view needle);

// The fragment of url (after the first "#"), when it has one; otherwise its query (after
// the first "?"); otherwise empty.
std::optional<std::string_view> fragmentOrQuery(std::string_view url);

// Whether url has a query part ("?" before any "#").
bool hasQuery(std::string_view url);

// The scheme (lower case) and the host (lower case, IPv6 brackets removed) of an absolute
// URL; empty when it has none.
std::optional<std::string> schemeOf(std::string_view url);
std::optional<std::string> hostOf(std::string_view url);

// The integer at the start of text, after blanks: an optional sign and digits, up to the
// first other character; 0 without digits; the largest or smallest value when it does not
// fit.
long long integerValue(std::string_view text);

}  // namespace quorbit::facebook::FBUrl
