#pragma once

#include <cstdint>
#include <cstring>

namespace quorbit::json::detail {

// "00" "01" ... "99": two digits per table lookup.
inline constexpr char kDigitPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the decimal digits of `value` (exactly `width` of them, zero-padded on the left)
// and returns the end. `width` must be at least the number of digits.
inline char* writeUInt64Padded(char* out, std::uint64_t value, int width) {
    char* p = out + width;
    while (value >= 100) {
        p -= 2;
        std::memcpy(p, kDigitPairs + (value % 100) * 2, 2);
        value /= 100;
    }
    if (value >= 10) {
        p -= 2;
        std::memcpy(p, kDigitPairs + value * 2, 2);
    } else {
        *--p = static_cast<char>('0' + value);
    }
    while (p > out)
        *--p = '0';
    return out + width;
}

inline int digitCount(std::uint64_t value) {
    int digits = 1;
    for (std::uint64_t limit = 10; digits < 20 && value >= limit; limit *= 10)
        ++digits;
    return digits;
}

// Writes the decimal digits of `value` and returns the end.
inline char* writeUInt64(char* out, std::uint64_t value) {
    return writeUInt64Padded(out, value, digitCount(value));
}

}  // namespace quorbit::json::detail
