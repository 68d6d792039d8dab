#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "json/Decimal.h"
#include "json/JsonParser.h"
#include "json/Value.h"

namespace quorbit::json {
namespace {

TEST(Value, CopiesAreDeepAndIndependent) {
    Value original =
        Value::object({{"list", Value::array({1, "a long string beyond the inline size"})},
                       {"big", *Decimal::fromString("123456789012345678901234567890")}});
    Value copy = original;
    EXPECT_EQ(copy, original);
    copy["list"].push_back(3);
    copy["list"][1] = "changed";
    EXPECT_EQ(original["list"].size(), 2u);
    EXPECT_EQ(original["list"][1].asString(), "a long string beyond the inline size");
    EXPECT_NE(copy, original);

    // Moving out of a container's own element keeps the element.
    Value self = Value::array({Value::array({1, 2})});
    self = std::move(self[0]);
    EXPECT_EQ(self, Value::array({1, 2}));
}

TEST(Value, ObjectMembers) {
    Value object;
    object["b"] = 1;
    object.set("a", "x");
    object.set(std::string(20, 'k'), true);
    object["b"] = 2;  // keeps its place
    ASSERT_EQ(object.size(), 3u);
    EXPECT_EQ(object.members()[0].key(), "b");
    EXPECT_EQ(object.members()[0].value().asInt64(), 2);
    ASSERT_NE(object.find(std::string(20, 'k')), nullptr);
    EXPECT_TRUE(object.find(std::string(20, 'k'))->asBool());
    EXPECT_EQ(object.find("c"), nullptr);
    EXPECT_TRUE(object.erase("b"));
    EXPECT_FALSE(object.erase("b"));
    EXPECT_EQ(object.members()[0].key(), "a");
    EXPECT_TRUE(std::as_const(object)["missing"].isNull());
    EXPECT_THROW(Value(1).push_back(2), std::logic_error);
}

TEST(Value, EqualityByMeaning) {
    // Numbers by value whatever their kind; objects whatever their member order.
    EXPECT_EQ(Value(1), Value(*Decimal::fromString("1.0")));
    EXPECT_EQ(Value(std::uint64_t(5)), Value(std::int64_t(5)));
    EXPECT_EQ(Value(0.1), Value(*Decimal::fromString("0.1")));
    EXPECT_NE(Value(0.1), Value(*Decimal::fromString("0.10000000000000001")));
    EXPECT_NE(Value(1), Value(true));
    EXPECT_NE(Value("1"), Value(1));
    EXPECT_EQ(Value::object({{"a", 1}, {"b", 2}}), Value::object({{"b", 2}, {"a", 1}}));
    EXPECT_NE(Value::object({{"a", 1}, {"b", 2}}), Value::object({{"a", 1}, {"c", 2}}));
    EXPECT_NE(Value::array({1, 2}), Value::array({2, 1}));
}

TEST(Value, NumberViews) {
    EXPECT_EQ(Value(*Decimal::fromString("42")).asInt64(), 42);
    EXPECT_EQ(Value(*Decimal::fromString("4.2")).asInt64(), std::nullopt);
    EXPECT_EQ(Value(*Decimal::fromString("4.2")).asDouble(), 4.2);
    EXPECT_EQ(Value(-3).asUInt64(), std::nullopt);
    EXPECT_EQ(Value(3.0).asInt64(), 3);
    EXPECT_EQ(Value(1e19).asInt64(), std::nullopt);
    EXPECT_EQ(Value("x").asDouble(), std::nullopt);
    EXPECT_EQ(Value(*Decimal::fromString("1e100")).asDecimal()->toString(),
              "1" + std::string(100, '0'));
}

TEST(Value, MillionLevelsDeep) {
    // Parsing, copying, comparing and destroying never recurse per level.
    const std::size_t depth = 1'000'000;
    JsonParser parser;
    parser.setMaxDepth(0);
    std::optional<Value> value =
        parser.objectWithString(std::string(depth, '[') + std::string(depth, ']'));
    ASSERT_TRUE(value);
    Value copy = *value;
    EXPECT_EQ(copy, *value);
    const Value* inner = &copy;
    for (std::size_t i = 1; i < depth; ++i)
        inner = &(*inner)[0];
    EXPECT_TRUE(inner->isArray());
    EXPECT_TRUE(inner->empty());

    // The failure trace holds one error per open level; building and dropping it is safe.
    EXPECT_FALSE(parser.objectWithString(std::string(depth, '[')));
    ASSERT_EQ(parser.errorTrace().size(), depth);
    EXPECT_EQ(parser.errorTrace().front()->localizedDescription(),
              "End of input while parsing array");
    JsonErrorPtr outermost = parser.errorTrace().back();
    parser.clearErrorTrace();
    EXPECT_EQ(outermost->localizedDescription(), "Expected value while parsing array");
    outermost.reset();
}

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
