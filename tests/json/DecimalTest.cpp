#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "json/Decimal.h"

namespace quorbit::json {
namespace {

struct TextCase {
    std::string text;
    std::optional<std::string> plain;  // the normalised plain text, or empty when refused
};

class DecimalText : public ::testing::TestWithParam<TextCase> {};

TEST_P(DecimalText, ReadsAndPrintsExactly) {
    std::optional<Decimal> decimal = Decimal::fromString(GetParam().text);
    ASSERT_EQ(decimal.has_value(), GetParam().plain.has_value());
    if (!decimal) return;
    EXPECT_EQ(decimal->toString(), *GetParam().plain);
    // The printed text reads back as the same number.
    EXPECT_EQ(Decimal::fromString(decimal->toString()), decimal);
}

const std::string k38 = "12345678901234567890123456789012345678";

INSTANTIATE_TEST_SUITE_P(
    Limits, DecimalText,
    ::testing::Values(TextCase{"0", "0"}, TextCase{"-0.000", "0"}, TextCase{"007.50", "7.5"},
                      TextCase{"1.5e3", "1500"}, TextCase{"-2E-2", "-0.02"}, TextCase{"0.1", "0.1"},
                      // 38 significant digits, and any number of zeros around them.
                      TextCase{k38, k38}, TextCase{"0.000" + k38 + "000", "0.000" + k38},
                      TextCase{k38 + "00000e-5", k38}, TextCase{k38 + "9", std::nullopt},
                      TextCase{"1" + std::string(37, '0') + "1", std::nullopt},
                      // Exponents -128..127 of the normalised significand.
                      TextCase{"1e127", "1" + std::string(127, '0')},
                      TextCase{"10e126", "1" + std::string(127, '0')},
                      TextCase{"1e128", std::nullopt},
                      TextCase{"0.1e-127", "0." + std::string(127, '0') + "1"},
                      TextCase{"1e-129", std::nullopt}, TextCase{"0e-999999", "0"},
                      // Not decimal text.
                      TextCase{"", std::nullopt}, TextCase{"-", std::nullopt},
                      TextCase{".5", "0.5"}, TextCase{"5.", std::nullopt},
                      TextCase{"1e", std::nullopt}, TextCase{"1x", std::nullopt},
                      TextCase{"+1", std::nullopt}));

TEST(Decimal, OrdersByValue) {
    auto d = [](const char* text) { return *Decimal::fromString(text); };
    const char* ascending[] = {"-1e100", "-12.5",  "-12.25", "-1",        "-0.001",
                               "0",      "1e-128", "0.5",    "0.55",      "1",
                               "9",      "10",     "10.5",   k38.c_str(), "1e127"};
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
