#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorbit::json {

// An exact base-10 number: sign, an integer significand of at most 38 decimal digits and a
// power-of-ten exponent from -128 to 127. Numbers read from JSON text are kept in this form
// so that no digit is lost to binary floating point.
//
// A Decimal is always normalised: the significand carries no trailing zeros (they move into
// the exponent) and zero is stored as +0 x 10^0. Two decimals are therefore equal exactly
// when their fields are equal, and "1.50", "1.5" and "15e-1" are the same number.
class Decimal {
  public:
    using Significand = unsigned __int128;

    static constexpr int kMaxDigits = 38;
    static constexpr int kMinExponent = -128;
    static constexpr int kMaxExponent = 127;

    // Zero.
    constexpr Decimal() = default;
    static Decimal fromInt64(std::int64_t value);
    static Decimal fromUInt64(std::uint64_t value);

    // significand x 10^exponent, negated when `negative`; normalised first. Empty when the
    // normalised number needs more than 38 digits or an exponent outside -128..127.
    static std::optional<Decimal> fromParts(bool negative, Significand significand,
                                            std::int64_t exponent);

    // Reads decimal text: an optional '-', digits, optionally '.' and digits, optionally 'e'
    // or 'E', an optional sign and digits (leading zeros are allowed here). Empty when the
    // text is not of that form or the number is outside the range above.
    static std::optional<Decimal> fromString(std::string_view text);

    // The decimal nearest to a finite double's shortest round-trip text (0.1 -> 0.1); empty
    // for NaN, infinities and doubles outside the exponent range.
    static std::optional<Decimal> fromDouble(double value);

    Significand significand() const { return _significand; }
    int exponent() const { return _exponent; }

    // The exact value in plain notation, without an exponent: "-12.5", "1000", "0.001".
    std::string toString() const;
    void appendTo(std::string& out) const;
    // Writes the plain notation into `out`, which has room for kMaxTextLength bytes, and
    // returns the end. The longest text is a sign, 38 digits and 127 zeros.
    static constexpr std::size_t kMaxTextLength = 1 + kMaxDigits + kMaxExponent;
    char* write(char* out) const;

    // The nearest double (correctly rounded).
    double toDouble() const;
    // The value when it is an integer that fits, else empty.
    std::optional<std::int64_t> toInt64() const;
    std::optional<std::uint64_t> toUInt64() const;

    friend bool operator==(const Decimal&, const Decimal&) = default;
    friend std::strong_ordering operator<=>(const Decimal& a, const Decimal& b);

  private:
    constexpr Decimal(bool negative, Significand significand, int exponent)
        : _significand(significand),
          _exponent(static_cast<std::int16_t>(exponent)),
          _negative(negative) {}

    Significand _significand = 0;
    std::int16_t _exponent = 0;
    bool _negative = false;

    friend class Value;
};

// Number of decimal digits of a significand (1 for zero).
int decimalDigitCount(Decimal::Significand value);

}  // namespace quorbit::json
