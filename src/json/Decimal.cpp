#include "json/Decimal.h"

#include <array>
#include <charconv>
#include <cstring>
#include <limits>

#include "json/detail/DigitWriter.h"

namespace quorbit::json {

namespace {

using Significand = Decimal::Significand;

constexpr std::array<Significand, 39> makePowersOfTen() {
    std::array<Significand, 39> powers{};
    Significand value = 1;
    for (auto& power : powers) {
        power = value;
        value *= 10;
    }
    return powers;
}

constexpr std::array<Significand, 39> kPowersOfTen = makePowersOfTen();
constexpr Significand kSignificandLimit = kPowersOfTen[Decimal::kMaxDigits];

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Writes the digits of `value` (at least one) and returns the end.
char* writeSignificand(char* out, Significand value) {
    if (value <= UINT64_MAX) return detail::writeUInt64(out, static_cast<std::uint64_t>(value));
    // Split into a high part and 19 low digits.
    constexpr std::uint64_t kChunk = 10'000'000'000'000'000'000ULL;
    char* end = writeSignificand(out, value / kChunk);
    return detail::writeUInt64Padded(end, static_cast<std::uint64_t>(value % kChunk), 19);
}

}  // namespace

int decimalDigitCount(Significand value) {
    int digits = 1;
    while (digits < static_cast<int>(kPowersOfTen.size()) && value >= kPowersOfTen[digits]) {
        ++digits;
    }
    return digits;
}

Decimal Decimal::fromInt64(std::int64_t value) {
    // The magnitude of INT64_MIN does not fit an int64_t; compute it unsigned.
    std::uint64_t magnitude =
        value < 0 ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
    Decimal result = fromUInt64(magnitude);
    result._negative = value < 0;
    return result;
}

Decimal Decimal::fromUInt64(std::uint64_t value) {
    if (value == 0) return Decimal();
    int exponent = 0;
    while (value % 10 == 0) {
        value /= 10;
        ++exponent;
    }
    return Decimal(false, value, exponent);
}

std::optional<Decimal> Decimal::fromParts(bool negative, Significand significand,
                                          std::int64_t exponent) {
    if (significand == 0) return Decimal();
    while (significand % 10 == 0) {
        significand /= 10;
        ++exponent;
    }
    if (significand >= kSignificandLimit) return std::nullopt;
    if (exponent < kMinExponent || exponent > kMaxExponent) return std::nullopt;
    return Decimal(negative, significand, static_cast<int>(exponent));
}

std::optional<Decimal> Decimal::fromString(std::string_view text) {
    const char* p = text.data();
    const char* end = p + text.size();
    bool negative = false;
    if (p < end && *p == '-') {
        negative = true;
        ++p;
    }
    // Significant digits are collected with the zeros that follow them held back, so that
    // trailing zeros never count against the 38 digits.
    Significand significand = 0;
    int digits = 0;
    std::int64_t pendingZeros = 0;
    std::int64_t scale = 0;
    bool tooLong = false;
    auto addDigit = [&](char c) {
        if (c == '0') {
            if (significand != 0) ++pendingZeros;
            return;
        }
        if (digits + pendingZeros + 1 > kMaxDigits) {
            tooLong = true;
            return;
        }
        significand = significand * kPowersOfTen[pendingZeros + 1] + (c - '0');
        digits += static_cast<int>(pendingZeros) + 1;
        pendingZeros = 0;
    };
    const char* digitsStart = p;
    while (p < end && isDigit(*p))
        addDigit(*p++);
    bool any = p != digitsStart;
    if (p < end && *p == '.') {
        ++p;
        const char* fractionStart = p;
        while (p < end && isDigit(*p)) {
            addDigit(*p++);
            --scale;
        }
        if (p == fractionStart) return std::nullopt;
        any = true;
    }
    if (!any) return std::nullopt;
    std::int64_t exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negativeExponent = false;
        if (p < end && (*p == '+' || *p == '-')) negativeExponent = *p++ == '-';
        if (p == end || !isDigit(*p)) return std::nullopt;
        while (p < end && isDigit(*p)) {
            // Saturate: anything this large is out of range whatever the digits say.
            if (exponent < 1'000'000'000) exponent = exponent * 10 + (*p - '0');
            ++p;
        }
        if (negativeExponent) exponent = -exponent;
    }
    if (p != end) return std::nullopt;
    if (significand == 0) return Decimal();
    if (tooLong) return std::nullopt;
    return fromParts(negative, significand, exponent + scale + pendingZeros);
}

std::optional<Decimal> Decimal::fromDouble(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (result.ec != std::errc()) return std::nullopt;
    std::string_view text(buffer, result.ptr - buffer);
    if (text.find_first_of("ni") != std::string_view::npos) return std::nullopt;  // nan, inf
    return fromString(text);
}

char* Decimal::write(char* out) const {
    if (_negative) *out++ = '-';
    char digits[40];
    char* digitsEnd = writeSignificand(digits, _significand);
    int count = static_cast<int>(digitsEnd - digits);
    if (_exponent >= 0) {
        std::memcpy(out, digits, count);
        out += count;
        if (_significand != 0) {
            std::memset(out, '0', _exponent);
            out += _exponent;
        }
        return out;
    }
    int fraction = -_exponent;
    if (count > fraction) {
        int whole = count - fraction;
        std::memcpy(out, digits, whole);
        out += whole;
        *out++ = '.';
        std::memcpy(out, digits + whole, fraction);
        return out + fraction;
    }
    *out++ = '0';
    *out++ = '.';
    std::memset(out, '0', fraction - count);
    out += fraction - count;
    std::memcpy(out, digits, count);
    return out + count;
}

void Decimal::appendTo(std::string& out) const {
    char buffer[kMaxTextLength];
    out.append(buffer, write(buffer));
}

std::string Decimal::toString() const {
    std::string text;
    appendTo(text);
    return text;
}

double Decimal::toDouble() const {
    // Digits and exponent in scientific form, which the standard conversion rounds correctly.
    char buffer[64];
    char* p = buffer;
    if (_negative) *p++ = '-';
    p = writeSignificand(p, _significand);
    *p++ = 'e';
    p = std::to_chars(p, buffer + sizeof buffer, static_cast<int>(_exponent)).ptr;
    double value = 0;
    if (std::from_chars(buffer, p, value).ec == std::errc::result_out_of_range) {
        // Beyond the double range: too large becomes infinity, too small zero.
        double limit = _exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
        value = _negative ? -limit : limit;
    }
    return value;
}

std::optional<std::uint64_t> Decimal::toUInt64() const {
    if (_negative && _significand != 0) return std::nullopt;
    if (_exponent < 0) return std::nullopt;
    if (_exponent > 19) return std::nullopt;
    Significand value = _significand * kPowersOfTen[_exponent];
    if (value > UINT64_MAX) return std::nullopt;
    return static_cast<std::uint64_t>(value);
}

std::optional<std::int64_t> Decimal::toInt64() const {
    if (_exponent < 0 || _exponent > 19) return std::nullopt;
    Significand value = _significand * kPowersOfTen[_exponent];
    constexpr Significand kMaxMagnitude = Significand(INT64_MAX);
    if (!_negative) {
        if (value > kMaxMagnitude) return std::nullopt;
        return static_cast<std::int64_t>(value);
    }
    if (value > kMaxMagnitude + 1) return std::nullopt;
    return static_cast<std::int64_t>(~static_cast<std::uint64_t>(value) + 1);
}

std::strong_ordering operator<=>(const Decimal& a, const Decimal& b) {
    if (a._significand == 0 || b._significand == 0) {
        // Zero against a signed number, or zero against zero.
        int sa = a._significand == 0 ? 0 : (a._negative ? -1 : 1);
        int sb = b._significand == 0 ? 0 : (b._negative ? -1 : 1);
        return sa <=> sb;
    }
    if (a._negative != b._negative)
        return a._negative ? std::strong_ordering::less : std::strong_ordering::greater;
    // Compare magnitudes: first by the position of the leading digit, then digit by digit.
    int digitsA = decimalDigitCount(a._significand);
    int digitsB = decimalDigitCount(b._significand);
    std::strong_ordering magnitude = std::strong_ordering::equal;
    int leadA = a._exponent + digitsA;
    int leadB = b._exponent + digitsB;
    if (leadA != leadB) {
        magnitude = leadA <=> leadB;
    } else {
        // Same leading position: scale the shorter significand to the longer one's length.
        Significand sa = a._significand;
        Significand sb = b._significand;
        if (digitsA < digitsB) sa *= kPowersOfTen[digitsB - digitsA];
        if (digitsB < digitsA) sb *= kPowersOfTen[digitsA - digitsB];
        magnitude = sa <=> sb;
    }
    if (a._negative) return 0 <=> magnitude;
    return magnitude;
}

}  // namespace quorbit::json
