#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace quorbit::json
