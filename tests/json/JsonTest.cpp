// Values and decimals, the parser, the writer, the facade and conveniences, and qjson.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <unordered_map>

#include "json/Decimal.h"
#include "json/Json.h"
#include "json/JsonConveniences.h"
#include "json/JsonParser.h"
#include "json/JsonWriter.h"
#include "support/Scratch.h"

namespace quorbit::json {
namespace {

using TraceLines = std::vector<std::pair<unsigned, std::string>>;
using Line = TraceLines::value_type;

// The codes and messages of a trace, innermost first.
TraceLines linesOf(const ErrorTrace& trace) {
    TraceLines lines;
    for (const JsonErrorPtr& error : trace)
        lines.emplace_back(error->code(), error->localizedDescription());
    return lines;
}

// Every error is in the JSON domain and wraps the one before it; the first wraps nothing.
::testing::AssertionResult isChained(const ErrorTrace& trace) {
    for (std::size_t i = 0; i < trace.size(); ++i) {
        if (trace[i]->domain() != kJsonErrorDomain)
            return ::testing::AssertionFailure() << "error " << i << " has another domain";
        if (trace[i]->underlyingError() != (i == 0 ? nullptr : trace[i - 1]))
            return ::testing::AssertionFailure()
                   << "error " << i << " does not wrap the one before";
    }
    return ::testing::AssertionSuccess();
}

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

// Numbers by value whatever their kind; objects whatever their member order.
TEST(Value, EqualityByMeaningAndNumberViews) {
    auto d = [](const char* text) { return Value(*Decimal::fromString(text)); };
    EXPECT_EQ(Value(1), d("1.0"));
    EXPECT_EQ(Value(std::uint64_t(5)), Value(std::int64_t(5)));
    EXPECT_EQ(Value(0.1), d("0.1"));
    EXPECT_NE(Value(0.1), d("0.10000000000000001"));
    EXPECT_NE(Value(1), Value(true));
    EXPECT_NE(Value("1"), Value(1));
    EXPECT_EQ(Value::object({{"a", 1}, {"b", 2}}), Value::object({{"b", 2}, {"a", 1}}));
    EXPECT_NE(Value::object({{"a", 1}, {"b", 2}}), Value::object({{"a", 1}, {"c", 2}}));
    EXPECT_NE(Value::array({1, 2}), Value::array({2, 1}));

    EXPECT_EQ(d("42").asInt64(), 42);
    EXPECT_EQ(d("4.2").asInt64(), std::nullopt);
    EXPECT_EQ(d("4.2").asDouble(), 4.2);
    EXPECT_EQ(Value(-3).asUInt64(), std::nullopt);
    EXPECT_EQ(Value(3.0).asInt64(), 3);
    EXPECT_EQ(Value(1e19).asInt64(), std::nullopt);
    EXPECT_EQ(Value("x").asDouble(), std::nullopt);
    EXPECT_EQ(d("1e100").asDecimal()->toString(), "1" + std::string(100, '0'));
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

TEST(Decimal, OrdersByValueAndConverts) {
    auto d = [](const char* text) { return *Decimal::fromString(text); };
    // clang-format off
    const char* ascending[] = {"-1e100", "-12.5", "-12.25", "-1", "-0.001", "0", "1e-128", "0.5",
                               "0.55", "1", "9", "10", "10.5", k38.c_str(), "1e127"};
    // clang-format on
    for (std::size_t i = 0; i + 1 < std::size(ascending); ++i) {
        EXPECT_LT(d(ascending[i]), d(ascending[i + 1])) << ascending[i];
        EXPECT_GT(d(ascending[i + 1]), d(ascending[i])) << ascending[i];
    }
    EXPECT_EQ(d("1.50"), d("15e-1"));

    EXPECT_EQ(d("0.1").toDouble(), 0.1);
    EXPECT_EQ(d("-2.5e-7").toDouble(), -2.5e-7);
    EXPECT_EQ(d("1e127").toDouble(), 1e127);
    EXPECT_EQ(d("1e-128").toDouble(), 1e-128);
    EXPECT_EQ(d("9223372036854775807").toInt64(), INT64_MAX);
    EXPECT_EQ(d("-9223372036854775808").toInt64(), INT64_MIN);
    EXPECT_EQ(d("9223372036854775808").toInt64(), std::nullopt);
    EXPECT_EQ(d("18446744073709551615").toUInt64(), UINT64_MAX);
    EXPECT_EQ(d("1.5").toInt64(), std::nullopt);
    EXPECT_EQ(d("-1").toUInt64(), std::nullopt);
    EXPECT_EQ(Decimal::fromInt64(INT64_MIN).toString(), "-9223372036854775808");
    EXPECT_EQ(Decimal::fromUInt64(1000).toString(), "1000");
    EXPECT_EQ(Decimal::fromDouble(0.1), d("0.1"));
    EXPECT_EQ(Decimal::fromDouble(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
    EXPECT_EQ(Decimal::fromDouble(1e300), std::nullopt);
}

// The outer error of a failure inside an array.
const Line kInArray = {3, "Expected value while parsing array"};

// One row per message of the parser's error table, in the context that produces it: the
// trace, innermost first.
TEST(Parser, ReportsEachErrorWithItsContext) {
    const Line decimal = {2, "Failed creating decimal instance"};
    const Line leading = {3, "Unrecognised leading character"};
    const Line noKey = {3, "Object key string expected"}, bad = {6, "Broken unicode character"};
    const Line digit = {6, "Missing hex digit in quad"}, quad = {6, "Missing hex quad"};
    const Line noLow = {6, "Missing low character in surrogate pair"};
    const Line badByte = {13, "Invalid UTF-8 sequence starting with byte '0xff'"};
    auto valueFor = [](const char* key) {
        return Line{3, std::string("Object value expected for key: ") + key};
    };
    struct Case {
        std::string text;
        bool fragment;
        TraceLines trace;
        unsigned maxDepth = 512;
    };
    // clang-format off
    const Case cases[] = {
        {"+1", true, {{2, "Leading + disallowed in number"}}},
        {"01", true, {{2, "Leading 0 disallowed in number"}}},
        {"[-01]", false, {{2, "Leading 0 disallowed in number"}, kInArray}},
        {"-", true, {{2, "No digits after initial minus"}}},
        {"[-a]", false, {{2, "No digits after initial minus"}, kInArray}},
        {"1.", true, {{2, "No digits after decimal point"}}},
        {"1e+", true, {{2, "No digits after exponent"}}},
        {"2Ex", true, {{2, "No digits after exponent"}}},
        {"1e128", true, {decimal}},
        {"1e-129", true, {decimal}},
        {"1234567890123456789012345678901234567891", true, {decimal}},
        {"1e99999999999999999999999", true, {decimal}},
        {"[?]", false, {leading, kInArray}},
        {"nul", true, {{3, "Expected 'null'"}}},
        {"[fals]", false, {{3, "Expected 'false'"}, kInArray}},
        {"tru", true, {{3, "Expected 'true'"}}},
        {"{a:1}", false, {noKey}},
        {"{\"a\\q\":1}", false, {{8, "Illegal escape sequence '0x71'"}, noKey}},
        {"{\"a\" 1}", false, {{3, "Expected ':' separating key and value"}}},
        {"{\"k\":}", false, {leading, valueFor("k")}},
        {"123", false, {{4, "Valid fragment, but not JSON"}}},
        {"\"x\"", false, {{4, "Valid fragment, but not JSON"}}},
        {"[\"a\tb\"]", false, {{5, "Unescaped control character '0x9'"}, kInArray}},
        {"\"\x1f\"", true, {{5, "Unescaped control character '0x1f'"}}},
        {"[\"\\u12\"]", false, {digit, quad, bad, kInArray}},
        // Hex digits end at 9, F and f: the characters after them are none.
        {"\"\\u00:0\"", true, {digit, quad, bad}},
        {"\"\\u00G0\"", true, {digit, quad, bad}},
        {"\"\\ud83d\"", true, {noLow, bad}},
        {"\"\\ud83d\\u00g0\"", true, {digit, noLow, bad}},
        {"\"\\ud83d\\u0041\"", true, {{6, "Invalid low surrogate char"}, bad}},
        {"\"\\uD83D\\uDBFF\"", true, {{6, "Invalid low surrogate char"}, bad}},
        {"\"\\ude00\"", true, {{6, "Invalid high character in surrogate pair"}, bad}},
        {"\"\\uDC00\"", true, {{6, "Invalid high character in surrogate pair"}, bad}},
        {"[\"\\x\"]", false, {{8, "Illegal escape sequence '0x78'"}, kInArray}},
        {"[1,]", false, {{9, "Trailing comma disallowed in array"}}},
        {"{\"a\":1 , }", false, {{9, "Trailing comma disallowed in object"}}},
        {"[1] x", false, {{10, "Garbage after JSON"}}},
        {"truex", true, {{10, "Garbage after JSON"}}},
        {"", true, {{11, "Unexpected end of string"}}},
        {" \t\n\v\f\r", true, {{11, "Unexpected end of string"}}},
        {"\"abc", true, {{11, "Unexpected EOF while parsing string"}}},
        {"{", false, {{11, "End of input while parsing object"}}},
        {"[1", false, {{11, "End of input while parsing array"}}},
        // White space before the end makes the element scan itself meet the end.
        {"[ ", false, {{11, "Unexpected end of string"}, kInArray}},
        {"{ ", false, {{3, "Object key string expected"}}},
        {"{\"a\":[{\"b\":[1,}]}]}", false,
         {leading, kInArray, valueFor("b"), kInArray, valueFor("a")}},
        {"[\"a\xff\"]", false, {badByte, kInArray}},
        {"[\xc3\xa9]", false, {leading, kInArray}},
        // Objects count as levels as arrays do, and their keys name the context.
        {"{\"a\":{\"b\":[]}}", false, {{7, "Nested too deep"}, valueFor("b"), valueFor("a")}, 2},
    };
    // clang-format on
    JsonParser parser;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        parser.setMaxDepth(c.maxDepth);
        EXPECT_FALSE(c.fragment ? parser.fragmentWithString(c.text)
                                : parser.objectWithString(c.text));
        EXPECT_EQ(linesOf(parser.errorTrace()), c.trace);
        EXPECT_TRUE(isChained(parser.errorTrace()));
    }
    // No text at all has no place in it.
    EXPECT_FALSE(parser.fragmentWithString(std::optional<std::string_view>()));
    EXPECT_EQ(linesOf(parser.errorTrace()), (TraceLines{{12, "Input was 'nil'"}}));
    EXPECT_FALSE(parser.errorTrace().front()->position());
    EXPECT_FALSE(parser.objectWithString(static_cast<const char*>(nullptr)));
    EXPECT_EQ(linesOf(parser.errorTrace()), (TraceLines{{12, "Input was 'nil'"}}));
    // A success clears the trace.
    EXPECT_TRUE(parser.objectWithString("[1]"));
    EXPECT_TRUE(parser.errorTrace().empty());
}

// Where a broken document failed: the byte offset, and the line and column (characters,
// not bytes) that every error of its trace carries.
TEST(Parser, EveryErrorNamesWhereTheTextFailed) {
    const std::string deep = std::string(513, '['), deeper = std::string(3000, '[') + "x";
    struct Case {
        std::string text;
        bool fragment;
        unsigned maxDepth;
        unsigned code;  // of the innermost error, so that each row fails where it means to
        TextPosition at;
    };
    const Case cases[] = {
        {"x[]", true, 512, 3, {0, 1, 1}},
        {"", true, 512, 11, {0, 1, 1}},
        {"[1, 2", false, 512, 11, {5, 1, 6}},
        {"[1,\r\n", false, 512, 11, {5, 2, 1}},
        // e-acute, the euro sign and an emoji: 9 bytes, 3 characters.
        {"[\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\", x]", false, 512, 3, {14, 1, 9}},
        {"[\"\xc3\xa9\xff\"]", false, 512, 13, {4, 1, 4}},
        {"{\r\n  \"a\": 1,\r\n  \"b\": tru\r\n}", false, 512, 3, {24, 3, 11}},
        {"[1,\r2,\n\r\n\t?]", false, 512, 3, {10, 4, 2}},
        {"\"a\r\n\"", true, 512, 5, {2, 1, 3}},
        {"[1,\n 1e999]", false, 512, 2, {5, 2, 2}},
        {"[-01]", false, 512, 2, {3, 1, 4}},
        {"{\"a\":[1,]}", false, 512, 9, {8, 1, 9}},
        {"[\"\\q\"]", false, 512, 8, {3, 1, 4}},
        {"[\"\\u12\"]", false, 512, 6, {6, 1, 7}},
        {"\"ab\\ude00\"", true, 512, 6, {3, 1, 4}},
        {"\"\\ud83d\\u0041\"", true, 512, 6, {7, 1, 8}},
        {"  \n 42", false, 512, 4, {4, 2, 2}},
        {"[]\n\n  x", false, 512, 10, {6, 3, 3}},
        {deep, false, 512, 7, {512, 1, 513}},
        {deeper, false, 0, 3, {3000, 1, 3001}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        JsonParser parser;
        parser.setMaxDepth(c.maxDepth);
        EXPECT_FALSE(c.fragment ? parser.fragmentWithString(c.text)
                                : parser.objectWithString(c.text));
        const ErrorTrace& trace = parser.errorTrace();
        ASSERT_FALSE(trace.empty());
        EXPECT_EQ(trace.front()->code(), c.code) << trace.front()->localizedDescription();
        for (const JsonErrorPtr& error : trace) {
            ASSERT_TRUE(error->position()) << error->localizedDescription();
            const TextPosition& p = *error->position();
            EXPECT_EQ(std::tuple(p.offset, p.line, p.column),
                      std::tuple(c.at.offset, c.at.line, c.at.column))
                << error->localizedDescription();
        }
    }
}

// Texts that parse, with the compact text of what they yield.
TEST(Parser, YieldsTheValue) {
    const std::string x100 = std::string(100, 'x'), zeros = std::string(127, '0');
    const std::string emoji = "\xf0\x9f\x98\x80", eAcute = "\xc3\xa9", euro = "\xe2\x82\xac";
    const std::string mixed = "\"" + euro + " " + emoji + " " + eAcute + "\"";
    const std::string u10000 = "\xf0\x90\x80\x80";
    const std::pair<std::string, std::string> cases[] = {
        // Leniencies: missing commas, vertical tab and form feed, NUL ending the input.
        {"[1 2]", "[1,2]"},
        {"[truefalse\"x\"null]", "[true,false,\"x\",null]"},
        {"{\"a\":1 \"b\":2}", "{\"a\":1,\"b\":2}"},
        {"\v\f[1]\v\f\r\n\t ", "[1]"},
        {std::string("[1]\0garbage", 11), "[1]"},
        // A repeated key keeps its first place and its last value.
        {"{\"a\":1,\"b\":2,\"a\":3}", "{\"a\":3,\"b\":2}"},
        // Numbers are exact decimals in plain notation, to the decimal's limits.
        {"[-0,0.5,-1.5e+3,1E2,2.50,0.1]", "[0,0.5,-1500,100,2.5,0.1]"},
        {"[1e127,1e-128]", "[1" + zeros + ",0." + zeros + "1]"},
        {"12345678901234567890123456789012345678e-10", "1234567890123456789012345678.9012345678"},
        {"-9223372036854775809", "-9223372036854775809"},
        {k38 + "0000000", k38 + "0000000"},
        {"0e999999999999", "0"},
        // Escapes, their hex digits in either case, and UTF-8.
        {"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "\"\\\"\\\\/\\b\\f\\n\\r\\t\""},
        {"\"\\u00e9\\u00E9\\u00c9\\u0000\"", "\"" + eAcute + eAcute + "\xc3\x89\\u0000\""},
        {"\"\\u0009\\u00Af\\uFFFF\"", "\"\\t\xc2\xaf\xef\xbf\xbf\""},
        {"\"\\ud83d\\ude00\\udbff\\udfff\"", "\"" + emoji + "\xf4\x8f\xbf\xbf\""},
        {"\"\\uD83D\\uDE00\\uD83d\\uDe00\\ud800\\udc00\"", "\"" + emoji + emoji + u10000 + "\""},
        {mixed, mixed},
        {"\"" + x100 + "\\n\"", "\"" + x100 + "\\n\""},
    };
    JsonParser parser;
    JsonWriter writer;
    for (const auto& [text, written] : cases) {
        std::optional<Value> value = parser.fragmentWithString(text);
        ASSERT_TRUE(value) << text << ": " << linesOf(parser.errorTrace()).front().second;
        EXPECT_TRUE(parser.errorTrace().empty());
        EXPECT_EQ(writer.stringWithFragment(*value), written) << text;
    }
}

TEST(Parser, RefusesMalformedUtf8InStringsAndKeys) {
    // Overlong forms, surrogates, beyond U+10FFFF, a cut sequence, a stray continuation byte.
    // clang-format off
    const char* const bad[] = {"\xc0\x80", "\xe0\x80\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80",
                               "\xf5\x80\x80\x80", "\xe2\x82", "\x80", "\xf0\x9f\x98"};
    // clang-format on
    JsonParser parser;
    for (const char* bytes : bad) {
        for (std::string text :
             {std::string("{\"k\":\"ok ") + bytes + "\"}", std::string("{\"") + bytes + "\":1}"}) {
            EXPECT_FALSE(parser.objectWithString(text)) << text;
            EXPECT_EQ(parser.errorTrace()[0]->code(), 13u) << text;
        }
    }
}

TEST(Parser, ManyMembersWithRepeatedKeys) {
    // Large objects resolve repeated keys through a hash table rather than pairwise.
    std::string text = "{";
    for (int round = 0; round < 3; ++round)
        for (int i = 0; i < 200; ++i)
            text += "\"key" + std::string(i % 3 == 0 ? 20 : 0, 'x') + std::to_string(i) +
                    "\":" + std::to_string(round * 1000 + i) + ",";
    text.back() = '}';
    JsonParser parser;
    std::optional<Value> value = parser.objectWithString(text);
    ASSERT_TRUE(value);
    ASSERT_EQ(value->size(), 200u);
    EXPECT_EQ(value->members()[7].key(), "key7");
    EXPECT_EQ(value->members()[9].key(), "key" + std::string(20, 'x') + "9");
    EXPECT_EQ(value->members()[9].value().asInt64(), 2009);
}

TEST(Parser, KeepsOutOfRangeNumbersAsDoublesWhenAsked) {
    const double kMax = std::numeric_limits<double>::max();
    // clang-format off
    const std::pair<std::string, double> cases[] = {
        {"1e200", 1e200}, {"-1e-129", -1e-129}, {"5e-324", 5e-324}, {"1e400", kMax},
        {"12345678901234567890123456789012345678901", 1.2345678901234568e40},
        {"-123.4e307", -kMax}, {"0.5e309", kMax}, {"1e99999999999999999999999", kMax},
        {"1e-400", 0.0}, {"-0.0001e-330", 0.0}, {"1234e-330", 0.0},
    };
    // clang-format on
    JsonParser parser;
    parser.setOutOfRangeNumbersAsDoubles(true);
    for (const auto& [text, number] : cases) {
        std::optional<Value> value = parser.fragmentWithString(text);
        ASSERT_TRUE(value) << text;
        ASSERT_EQ(value->numberKind(), Value::NumberKind::Double) << text;
        EXPECT_EQ(value->asDouble(), number) << text;
    }
    // Numbers a decimal holds stay exact decimals, and the rest of a document is kept.
    std::optional<Value> doc = parser.objectWithString(R"({"a": 1e200, "b": 0.1, "c": [1e-400]})");
    ASSERT_TRUE(doc);
    EXPECT_EQ((*doc)["b"].numberKind(), Value::NumberKind::Decimal);
    EXPECT_EQ((*doc)["a"].asDouble(), 1e200);
    // Off, the same numbers fail as before.
    parser.setOutOfRangeNumbersAsDoubles(false);
    EXPECT_FALSE(parser.fragmentWithString("1e200"));
    EXPECT_EQ(parser.errorTrace().front()->code(), 2u);
}

struct Opaque {};
struct Point {
    int x, y;
    Value proxyForJson() const { return Value::object({{"x", x}, {"y", y}}); }
};
struct Label {
    std::string proxyForJson() const { return "label"; }
};
struct Hollow {
    Opaque proxyForJson() const { return {}; }
};
// A type that nests through its own proxy: Chain{n} is n + 1 arrays deep.
struct Chain {
    int depth;
    std::vector<Chain> proxyForJson() const {
        return depth > 0 ? std::vector<Chain>{Chain{depth - 1}} : std::vector<Chain>{};
    }
};

Value nestedArrays(std::size_t depth) {
    Value value = Value::array();
    for (; depth > 1; --depth) {
        Value outer = Value::array();
        outer.push_back(std::move(value));
        value = std::move(outer);
    }
    return value;
}

const Value kSample = Value::object({{"a", 1}, {"b", Value::array({1, 2})}});

using Write = std::function<std::optional<std::string>(JsonWriter&)>;
template <typename T>
Write native(T value, bool asFragment = false) {
    return [value, asFragment](JsonWriter& w) {
        return asFragment ? w.stringWithFragment(value) : w.stringWithObject(value);
    };
}
Write object(Value value) {
    return native(std::move(value));
}
Write fragment(Value value) {
    return native(std::move(value), true);
}

// What each rule writes, or the errors it reports instead, innermost first.
TEST(Writer, WritesOrReportsByTheRules) {
    enum Options { Plain = 0, Sorted = 1, Pretty = 2 };
    struct Case {
        const char* name;
        Write write;
        std::optional<std::string> text;  // expected output, or
        TraceLines trace = {};            // expected errors
        int options = Plain;
        unsigned maxDepth = JsonBase::kDefaultMaxDepth;
    };
    const std::string cannot = "JSON serialisation not supported for ";
    const Line notValid = {4, "Not valid type for JSON"}, tooDeep = {7, "Nested too deep"};
    const Line numberKey = {1, "JSON object key must be string"};
    const Line unsupported = {1, cannot + detail::readableTypeName(typeid(Opaque))};
    const Line nonFinite = {1, cannot + "non-finite number"};
    const Line badUtf8 = {1, cannot + "invalid UTF-8 text"};
    auto forKey = [](std::string key) {
        return Line{1, "Unsupported value for key " + key + " in object"};
    };
    auto in = [](const char* key, Value value) { return Value::object({{key, std::move(value)}}); };
    const Value unsorted =
        Value::object({{"b", 1}, {"a", Value::object({{"z", 1}, {"y", 2}})}, {"c", 3}});
    const Value empties = Value::array({Value::object(), Value::array()});
    const Value numbers =
        Value::array({std::numeric_limits<std::int64_t>::min(),
                      std::numeric_limits<std::uint64_t>::max(), 0.1, 1e21, -0.0, 5e-324, 1.5f,
                      *Decimal::fromString("-1234567890123456789012345678.9012345678")});
    const std::unordered_map<std::string, int> keys{{"b", 2}, {"a", 1}, {"\xc3\xa9", 3}, {"B", 4}};
    const std::map<int, int> numberKeys{{1, 2}};
    const std::string pretty = "{\n  \"a\" : 1,\n  \"b\" : [\n    1,\n    2\n  ]\n}";
    const std::string deepest = std::string(512, '[') + std::string(512, ']');
    const std::optional<std::string> none;
    // clang-format off
    const std::vector<Case> cases = {
        // Escapes: the short forms, \u00XX for the other controls, everything else as is.
        {"escapes", fragment("q\" b\\ t\t n\n r\r b\b f\f \x01\x1f\x7f / \xc3\xa9"),
         "\"q\\\" b\\\\ t\\t n\\n r\\r b\\b f\\f \\u0001\\u001f\x7f / \xc3\xa9\""},
        {"NUL in a string", fragment(std::string("a\0b", 3)), "\"a\\u0000b\""},
        {"long plain string", fragment(std::string(40, 'x')), "\"" + std::string(40, 'x') + "\""},
        {"numbers", object(numbers), "[-9223372036854775808,18446744073709551615,0.1,1e+21,-0,"
                                     "5e-324,1.5,-1234567890123456789012345678.9012345678]"},
        // Layouts.
        {"compact", object(kSample), "{\"a\":1,\"b\":[1,2]}"},
        {"pretty", object(kSample), pretty, {}, Pretty},
        {"empty containers", object(empties), "[\n  {},\n  []\n]", {}, Pretty},
        {"empty, compact", object(Value::object()), "{}"},
        // Sorting: byte order, at every level; otherwise insertion order.
        {"unsorted", object(unsorted), "{\"b\":1,\"a\":{\"z\":1,\"y\":2},\"c\":3}"},
        {"sorted", object(unsorted), "{\"a\":{\"y\":2,\"z\":1},\"b\":1,\"c\":3}", {}, Sorted},
        {"sorted native", native(keys), "{\"B\":4,\"a\":1,\"b\":2,\"\xc3\xa9\":3}", {}, Sorted},
        // Top level.
        {"bare string", object("x"), none, {notValid}},
        {"bare string, fragment", fragment("x"), "\"x\""},
        {"bools", fragment(Value::array({true, false, 1, 0, nullptr})), "[true,false,1,0,null]"},
        // Depth.
        {"depth 512", object(nestedArrays(512)), deepest},
        {"depth 513", object(nestedArrays(513)), none, {tooDeep}},
        {"depth in objects", object(in("a", in("b", Value::array()))), none,
         {tooDeep, forKey("b"), forKey("a")}, Plain, 2},
        {"no limit", object(nestedArrays(3)), "[\n  [\n    []\n  ]\n]", {}, Pretty, 0},
        // Keys that are not strings fail the object, sorted or not, unless there are none.
        {"number key", native(numberKeys), none, {numberKey}},
        {"number key, sorted", native(numberKeys), none, {numberKey}, Sorted},
        {"no keys", native(std::map<int, int>{}), "{}"},
        // Unsupported values: inside an object the key is added, inside an array nothing.
        {"unsupported in an object", native(std::map<std::string, Opaque>{{"k", {}}}), none,
         {unsupported, forKey("k")}},
        {"unsupported in an array", native(std::vector<Opaque>(2)), none, {unsupported}},
        {"NaN", object(in("k", Value::array({std::nan("")}))), none, {nonFinite, forKey("k")}},
        {"infinity", fragment(std::numeric_limits<double>::infinity()), none, {nonFinite}},
        {"bad UTF-8 value", object(in("k", std::string("\xff"))), none, {badUtf8, forKey("k")}},
        {"bad UTF-8 key", object(in("o", in("\xe2\x82", 1))), none, {badUtf8, forKey("o")}},
        // Proxies stand in for their values, at any level.
        {"proxy", native(Point{1, 2}), "{\"x\":1,\"y\":2}"},
        {"proxies", native(std::vector<Point>{{1, 2}, {3, 4}}),
         "[{\"x\":1,\"y\":2},{\"x\":3,\"y\":4}]"},
        {"scalar proxy", native(Label{}), none, {notValid}},
        {"scalar proxy, fragment", native(Label{}, true), "\"label\""},
        {"unwritable proxy", native(std::map<std::string, Hollow>{{"h", {}}}), none,
         {unsupported, forKey("h")}},
        {"unwritable proxy, top level", native(Hollow{}), none, {notValid}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JsonWriter writer;
        writer.setSortKeys(c.options & Sorted);
        writer.setHumanReadable(c.options & Pretty);
        writer.setMaxDepth(c.maxDepth);
        EXPECT_EQ(c.write(writer), c.text);
        EXPECT_EQ(linesOf(writer.errorTrace()), c.trace);
        EXPECT_TRUE(isChained(writer.errorTrace()));
    }
}

TEST(Writer, EscapesAndCharactersAtEveryPlaceOfABlock) {
    // Strings are copied sixteen bytes at a time and cut at special bytes: a special byte or
    // a multi-byte character at each place of strings around one and two blocks long, as a
    // key and as a value, must come out as it would alone.
    // clang-format off
    const std::pair<std::string, std::string> specials[] = {
        {"\"", "\\\""}, {"\\", "\\\\"}, {"\n", "\\n"}, {"\x01", "\\u0001"},
        {"\xc3\xa9", "\xc3\xa9"}, {"\xe2\x82\xac", "\xe2\x82\xac"},
        {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"}};
    // clang-format on
    JsonWriter writer;
    for (std::size_t length : {1, 13, 14, 15, 16, 17, 31, 32, 33}) {
        for (std::size_t at = 0; at < length; ++at) {
            for (const auto& [special, written] : specials) {
                std::string before(at, 'a'), after(length - at - 1, 'b');
                std::string raw = before + special + after;
                std::string quoted = "\"" + before + written + after + "\"";
                EXPECT_EQ(writer.stringWithObject(Value::object({{raw, raw}})),
                          "{" + quoted + ":" + quoted + "}")
                    << length << " " << at;
            }
        }
    }
    // A character cut short by the end of the string is refused, not read past.
    for (std::size_t length : {2, 15, 16, 17, 40}) {
        std::string cut = std::string(length - 2, 'a') + "\xf0\x9f";
        EXPECT_FALSE(writer.stringWithObject(Value::array({cut}))) << length;
        EXPECT_EQ(writer.errorTrace().front()->code(), 1u);
    }
    // Escapes in a string far longer than the last output make the output grow mid-string.
    std::string many, expected = "[\"";
    for (int i = 0; i < 20000; ++i) {
        many += "ab\t\"cd";
        expected += "ab\\t\\\"cd";
    }
    EXPECT_EQ(writer.stringWithObject(Value::array({many})), expected + "\"]");
}

// Value trees are written without recursion, however deep; native types nest through the
// stack, up to a bound.
TEST(Writer, DeepNestingWithoutLimit) {
    JsonWriter writer;
    writer.setMaxDepth(0);
    EXPECT_EQ(writer.stringWithObject(nestedArrays(200'000)),
              std::string(200'000, '[') + std::string(200'000, ']'));
    EXPECT_EQ(writer.stringWithObject(Chain{3}), "[[[[]]]]");
    EXPECT_TRUE(writer.stringWithObject(Chain{int(JsonWriter::kNativeNestingLimit) - 1}));
    EXPECT_FALSE(writer.stringWithFragment(Chain{int(JsonWriter::kNativeNestingLimit)}));
    EXPECT_EQ(writer.errorTrace().front()->localizedDescription(), "Nested too deep");
    // The writer is whole again after a failure.
    EXPECT_EQ(writer.stringWithObject(kSample), "{\"a\":1,\"b\":[1,2]}");
    EXPECT_TRUE(writer.errorTrace().empty());
}

TEST(Facade, KeepsTheLastFailureUntilTheNextFailure) {
    Json json;
    JsonErrorPtr error;
    EXPECT_FALSE(json.objectWithString("[1,]", &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), 9u);
    EXPECT_EQ(linesOf(json.errorTrace()), (TraceLines{{9, "Trailing comma disallowed in array"}}));

    // A success leaves the facade's copy alone.
    EXPECT_TRUE(json.objectWithString("[1]"));
    EXPECT_EQ(json.errorTrace().size(), 1u);

    // Writing failures replace it, with the outermost error handed out.
    EXPECT_FALSE(json.stringWithObject(Value("x"), &error));
    EXPECT_EQ(linesOf(json.errorTrace()), (TraceLines{{4, "Not valid type for JSON"}}));
    EXPECT_EQ(error, json.errorTrace().back());

    EXPECT_FALSE(json.fragmentWithString(static_cast<const char*>(nullptr)));
    EXPECT_EQ(linesOf(json.errorTrace()), (TraceLines{{12, "Input was 'nil'"}}));
    EXPECT_EQ(json.fragmentWithString("12")->asInt64(), 12);
    EXPECT_EQ(json.stringWithFragment(Value(12)), "12");
}

TEST(Facade, OptionsReachParserAndWriter) {
    Json json;
    EXPECT_EQ(json.maxDepth(), 512u);
    json.setMaxDepth(1);
    EXPECT_FALSE(json.objectWithString("[[]]"));
    EXPECT_EQ(json.errorTrace().front()->code(), 7u);
    EXPECT_FALSE(json.stringWithObject(Value::array({Value::array()})));
    EXPECT_EQ(json.errorTrace().front()->code(), 7u);

    json.setMaxDepth(512);
    json.setSortKeys(true);
    json.setHumanReadable(true);
    EXPECT_EQ(json.stringWithObject(*json.objectWithString("{\"b\":1,\"a\":[]}")),
              "{\n  \"a\" : [],\n  \"b\" : 1\n}");
}

TEST(Conveniences, LogTheTraceOnFailure) {
    std::vector<std::string> lines;
    JsonLog::Sink previous = JsonLog::setSink([&](const std::string& l) { lines.push_back(l); });
    EXPECT_EQ(JSONValue("{\"a\":[1]}"), Value::object({{"a", Value::array({1})}}));
    EXPECT_EQ(JSONFragmentValue("\"s\""), Value("s"));
    EXPECT_EQ(JSONRepresentation(Value::array({1})), "[1]");
    EXPECT_EQ(JSONFragment(true), "true");
    EXPECT_TRUE(lines.empty());

    EXPECT_FALSE(JSONValue("7"));
    EXPECT_FALSE(JSONFragmentValue("[\"\\u12\"]"));
    EXPECT_FALSE(JSONRepresentation(Value("x")));
    EXPECT_FALSE(JSONFragment(Value::object({{"k", std::nan("")}})));
    JsonLog::setSink(std::move(previous));
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  "-JSONValue failed. Error trace is: [4 \"Valid fragment, but not JSON\"]",
                  "-JSONFragmentValue failed. Error trace is: [6 \"Missing hex digit in quad\", 6 "
                  "\"Missing hex quad\", 6 \"Broken unicode character\", 3 \"Expected value while "
                  "parsing array\"]",
                  "-JSONRepresentation failed. Error trace is: [4 \"Not valid type for JSON\"]",
                  "-JSONFragment failed. Error trace is: [1 \"JSON serialisation not supported for "
                  "non-finite number\", 1 \"Unsupported value for key k in object\"]"}));
}

class SampleDocument : public ::testing::TestWithParam<const char*> {};

TEST_P(SampleDocument, ReadsBackEqualInEveryLayout) {
    const char* data = std::getenv("QUORBIT_TEST_DATA");
    std::ifstream in(std::string(data ? data : "tests/data") + "/json/" + GetParam());
    std::string text{std::istreambuf_iterator<char>(in), {}};
    ASSERT_FALSE(text.empty()) << "missing sample " << GetParam();
    JsonParser parser;
    std::optional<Value> value = parser.objectWithString(text);
    ASSERT_TRUE(value);
    for (int options = 0; options < 4; ++options) {
        JsonWriter writer;
        writer.setSortKeys(options & 1);
        writer.setHumanReadable(options & 2);
        std::optional<std::string> written = writer.stringWithObject(*value);
        ASSERT_TRUE(written);
        std::optional<Value> back = parser.objectWithString(*written);
        ASSERT_TRUE(back);
        EXPECT_TRUE(*back == *value) << "options " << options;
        // Writing is deterministic: the same tree gives the same text again.
        EXPECT_EQ(writer.stringWithObject(*back), written);
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, SampleDocument,
                         ::testing::Values("canada.json", "citm_catalog.json", "twitter.json"));

// Runs the qjson program of the same build (beside the tests folder of the build tree) as
// `qjson ARGS < IN > OUT 2> err`, IN a file holding input unless given; its status.
class Qjson : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(qjson)) GTEST_SKIP() << "qjson is not built beside the tests";
    }
    int run(const std::string& args, const std::string& input, std::string out = "",
            std::string in = "") {
        if (in.empty()) in = scratch.write("in", input).string();
        if (out.empty()) out = (scratch / "out").string();
        std::string command = qjson.string() + " " + args + " < " + in + " > " + out + " 2> " +
                              (scratch / "err").string();
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string err() const { return scratch.read("err"); }

    const std::filesystem::path qjson =
        std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "qjson";
    quorbit::testing::ScratchDir scratch{"qjson-test"};
};

TEST_F(Qjson, ExitStatusesAndTheTraceWithLinesAndColumns) {
    EXPECT_EQ(run("", "[\"\\u12\"]"), 1);
    EXPECT_EQ(scratch.read("out"), "");
    EXPECT_EQ(err(),
              "1:7: 6 Missing hex digit in quad\n1:7: 6 Missing hex quad\n"
              "1:7: 6 Broken unicode character\n1:7: 3 Expected value while parsing array\n");
    EXPECT_EQ(run("", "{ \"b\" : [1, 2.50], \"a\" : null }"), 0);
    EXPECT_EQ(scratch.read("out"), "{\"b\":[1,2.5],\"a\":null}\n");
    EXPECT_EQ(run("--pretty --quiet --pretty", "[1]"), 2);
    EXPECT_THAT(err(), ::testing::HasSubstr("--pretty is given more than once"));
    EXPECT_EQ(run((scratch / "missing.json").string(), ""), 2);
    // An endless device on standard input is refused before anything is read.
    EXPECT_EQ(run("", "", "", "/dev/zero"), 2);
    EXPECT_EQ(err(),
              "qjson: standard input is a character device, not a file, a pipe or a "
              "terminal\n");
    // Output that cannot be written, far beyond any buffer, so the writes fail part way.
    EXPECT_EQ(run("", "[\"" + std::string(300000, 'x') + "\"]", "/dev/full"), 1);
    EXPECT_EQ(err(), "qjson: cannot write the output: No space left on device\n");
}

}  // namespace
}  // namespace quorbit::json
