#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Byte scanning shared by the parser and the writer: sixteen bytes at a time where the
// processor allows it, one at a time otherwise.
namespace quorbit::json::detail {

// Bytes that end a run of plain string content for the parser: the double quote, the
// backslash, 0 to 31 (the end of input included) and every byte of 128 and above (those are
// checked as UTF-8 one sequence at a time). The same set serves the writer, which escapes
// the first three kinds and checks the last, sixteen bytes at a time through specialMask16.
inline bool isStringSpecial(unsigned char c) {
    return c == '"' || c == '\\' || c < 0x20 || c >= 0x80;
}

inline int firstBit(unsigned mask) {
    return __builtin_ctz(mask);
}

#if defined(__SSE2__)
// One bit per byte of the 16 at p that ends a run of plain string content: a quote, a
// backslash or a control byte. A signed compare below 0x20 also catches every byte of 0x80
// and above, which the slow path then looks at.
inline unsigned specialMask16(const char* p) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('"')),
                                                   _mm_cmpeq_epi8(block, _mm_set1_epi8('\\'))),
                                      _mm_cmplt_epi8(block, _mm_set1_epi8(0x20)));
    return static_cast<unsigned>(_mm_movemask_epi8(hits));
}
#endif

// The first special byte at or after `p`. The input must end with a 0 byte followed by at
// least 15 readable bytes, so that whole blocks can be read up to the end.
inline const char* findStringSpecial(const char* p) {
#if defined(__SSE2__)
    for (;;) {
        if (unsigned mask = specialMask16(p)) return p + firstBit(mask);
        p += 16;
    }
#else
    while (!isStringSpecial(static_cast<unsigned char>(*p)))
        ++p;
    return p;
#endif
}

// JSON white space as this parser reads it: space, tab, line feed, vertical tab, form feed
// and carriage return.
inline bool isWhitespace(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The first byte at or after `p` that is not white space; same input rule as above.
inline const char* skipWhitespace(const char* p) {
    if (!isWhitespace(static_cast<unsigned char>(*p))) return p;
    ++p;
    if (!isWhitespace(static_cast<unsigned char>(*p))) return p;
#if defined(__SSE2__)
    // Long runs (indentation) are skipped a block at a time.
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i belowTab = _mm_set1_epi8('\t' - 1);
    const __m128i aboveReturn = _mm_set1_epi8('\r' + 1);
    for (;;) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i white = _mm_or_si128(
            _mm_cmpeq_epi8(block, space),
            _mm_and_si128(_mm_cmpgt_epi8(block, belowTab), _mm_cmplt_epi8(block, aboveReturn)));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(white)) ^ 0xFFFFu;
        if (mask) return p + firstBit(mask);
        p += 16;
    }
#else
    while (isWhitespace(static_cast<unsigned char>(*p)))
        ++p;
    return p;
#endif
}

// The length of the valid UTF-8 sequence starting at `p` (whose first byte is 0x80 or
// above), or 0 when it is not valid: overlong forms, surrogates, code points above U+10FFFF
// and sequences cut short are all refused. Stops reading at the first byte that does not fit,
// so it never reads past a terminating 0.
inline int utf8SequenceLength(const unsigned char* p) {
    unsigned char lead = p[0];
    auto continuation = [](unsigned char c) { return (c & 0xC0) == 0x80; };
    if (lead < 0xC2) return 0;
    if (lead < 0xE0) return continuation(p[1]) ? 2 : 0;
    if (lead < 0xF0) {
        unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        if (p[1] < low || p[1] > high) return 0;
        return continuation(p[2]) ? 3 : 0;
    }
    if (lead < 0xF5) {
        unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        if (p[1] < low || p[1] > high) return 0;
        if (!continuation(p[2])) return 0;
        return continuation(p[3]) ? 4 : 0;
    }
    return 0;
}

// The same for a bounded run: `available` bytes from `p` may be read.
inline int utf8SequenceLength(const unsigned char* p, std::size_t available) {
    unsigned char copy[4] = {0, 0, 0, 0};
    std::memcpy(copy, p, available < 4 ? available : 4);
    return utf8SequenceLength(copy);
}

// Appends the UTF-8 form of a code point (at most U+10FFFF, not a surrogate).
inline char* encodeUtf8(char* out, std::uint32_t codePoint) {
    if (codePoint < 0x80) {
        *out++ = static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        *out++ = static_cast<char>(0xC0 | (codePoint >> 6));
        *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (codePoint >> 12));
        *out++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (codePoint >> 18));
        *out++ = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
    }
    return out;
}

}  // namespace quorbit::json::detail
