#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "json/Decimal.h"

namespace quorbit::json {
namespace {

const std::string k38 = "12345678901234567890123456789012345678";

TEST(Decimal, ReadsAndPrintsExactly) {
    const std::string zeros127 = std::string(127, '0');
    // The normalised plain text, or none when refused.
    // clang-format off
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"0", "0"}, {"-0.000", "0"}, {"007.50", "7.5"}, {"1.5e3", "1500"}, {"-2E-2", "-0.02"},
        {"0.1", "0.1"}, {".5", "0.5"},
        // 38 significant digits, and any number of zeros around them.
        {k38, k38}, {"0.000" + k38 + "000", "0.000" + k38}, {k38 + "00000e-5", k38},
        {k38 + "9", std::nullopt}, {"1" + std::string(37, '0') + "1", std::nullopt},
        // Exponents -128..127 of the normalised significand.
        {"1e127", "1" + zeros127}, {"10e126", "1" + zeros127}, {"1e128", std::nullopt},
        {"0.1e-127", "0." + zeros127 + "1"}, {"1e-129", std::nullopt}, {"0e-999999", "0"},
        // Not decimal text.
        {"", std::nullopt}, {"-", std::nullopt}, {"5.", std::nullopt}, {"1e", std::nullopt},
        {"1x", std::nullopt}, {"+1", std::nullopt},
    };
    // clang-format on
    for (const auto& [text, plain] : cases) {
        SCOPED_TRACE(text);
        std::optional<Decimal> decimal = Decimal::fromString(text);
        ASSERT_EQ(decimal.has_value(), plain.has_value());
        if (!decimal) continue;
        EXPECT_EQ(decimal->toString(), *plain);
        // The printed text reads back as the same number.
        EXPECT_EQ(Decimal::fromString(decimal->toString()), decimal);
    }
}

TEST(Decimal, OrdersByValue) {
    auto d = [](const char* text) { return *Decimal::fromString(text); };
    // clang-format off
    const char* ascending[] = {"-1e100", "-12.5", "-12.25", "-1", "-0.001", "0", "1e-128", "0.5",
                               "0.55", "1", "9", "10", "10.5", k38.c_str(), "1e127"};
    // clang-format on
    for (std::size_t i = 0; i + 1 < std::size(ascending); ++i) {
        EXPECT_LT(d(ascending[i]), d(ascending[i + 1]))
            << ascending[i] << " < " << ascending[i + 1];
        EXPECT_GT(d(ascending[i + 1]), d(ascending[i]));
    }
    EXPECT_EQ(d("1.50"), d("15e-1"));
}

TEST(Decimal, Conversions) {
    EXPECT_EQ(Decimal::fromString("0.1")->toDouble(), 0.1);
    EXPECT_EQ(Decimal::fromString("-2.5e-7")->toDouble(), -2.5e-7);
    EXPECT_EQ(Decimal::fromString("1e127")->toDouble(), 1e127);
    EXPECT_EQ(Decimal::fromString("1e-128")->toDouble(), 1e-128);
    EXPECT_EQ(Decimal::fromString("9223372036854775807")->toInt64(), INT64_MAX);
    EXPECT_EQ(Decimal::fromString("-9223372036854775808")->toInt64(), INT64_MIN);
    EXPECT_EQ(Decimal::fromString("9223372036854775808")->toInt64(), std::nullopt);
    EXPECT_EQ(Decimal::fromString("18446744073709551615")->toUInt64(), UINT64_MAX);
    EXPECT_EQ(Decimal::fromString("1.5")->toInt64(), std::nullopt);
    EXPECT_EQ(Decimal::fromString("-1")->toUInt64(), std::nullopt);
    EXPECT_EQ(Decimal::fromInt64(INT64_MIN).toString(), "-9223372036854775808");
    EXPECT_EQ(Decimal::fromUInt64(1000).toString(), "1000");
    EXPECT_EQ(Decimal::fromDouble(0.1), Decimal::fromString("0.1"));
    EXPECT_EQ(Decimal::fromDouble(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
    EXPECT_EQ(Decimal::fromDouble(1e300), std::nullopt);
}

}  // namespace
}  // namespace quorbit::json
