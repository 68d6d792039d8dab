#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorbit::codes {

// What a code holds, told from its text.
enum class ContentKind { Link, Wifi, Phone, Email, Geo, Text };

// A code's content made ready to show and act on. Every text here is safe to draw: control
// characters and bytes that are not UTF-8 are written out as escapes (escapeForDisplay).
struct CodeContent {
    ContentKind kind = ContentKind::Text;
    // The first line: a link's host, a network's name, the number, address or position, or
    // the text itself (its first kTextLimit characters).
    std::string title;
    // The second line: a link's whole address (cut to kTextLimit characters); else empty.
    std::string detail;
    // The address a tap opens; set only for http, https, mailto, tel and geo addresses made
    // of printable UTF-8, and empty for everything else.
    std::string openUrl;
    // What a tap copies when it opens nothing: a network's password, else the text (escaped
    // when it holds control characters or is not UTF-8).
    std::string copyText;
};

// Characters of a code's text shown at most.
inline constexpr std::size_t kTextLimit = 200;

// Tells what raw (a code's bytes as read) holds.
CodeContent classify(std::string_view raw);

// raw as printable UTF-8: characters below U+0020, U+007F, U+0080..U+009F and the
// direction overrides (U+202A..U+202E, U+2066..U+2069) become \n, \r, \t or \u{XXXX}, a
// backslash \\, and each byte that is not part of a valid UTF-8 sequence \xHH. At most
// limit characters of raw are written (an escape counting as one); a cut text ends in "…".
std::string escapeForDisplay(std::string_view raw, std::size_t limit = kTextLimit);

}  // namespace quorbit::codes
