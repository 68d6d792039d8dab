#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "json/JsonParser.h"
#include "json/JsonWriter.h"
#include "json/TraceMatchers.h"

namespace quorbit::json {
namespace {

using testing::isChained;
using testing::linesOf;
using testing::TraceLines;

constexpr unsigned kArrayWrap = 3;
const char* const kInArray = "Expected value while parsing array";

struct FailureCase {
    const char* name;
    std::string text;
    bool fragment;
    TraceLines trace;
};

std::ostream& operator<<(std::ostream& out, const FailureCase& c) {
    return out << c.name;
}

class ParserFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ParserFailure, ReportsTheTraceInnermostFirst) {
    const FailureCase& c = GetParam();
    JsonParser parser;
    std::optional<Value> value =
        c.fragment ? parser.fragmentWithString(c.text) : parser.objectWithString(c.text);
    EXPECT_FALSE(value.has_value());
    EXPECT_EQ(linesOf(parser.errorTrace()), c.trace);
    EXPECT_TRUE(isChained(parser.errorTrace()));
}

// One row per message of the parser's error table, in the context that produces it.
INSTANTIATE_TEST_SUITE_P(
    ErrorTable, ParserFailure,
    ::testing::Values(
        FailureCase{"LeadingPlus", "+1", true, {{2, "Leading + disallowed in number"}}},
        FailureCase{"LeadingZero", "01", true, {{2, "Leading 0 disallowed in number"}}},
        FailureCase{"NegativeLeadingZero",
                    "[-01]",
                    false,
                    {{2, "Leading 0 disallowed in number"}, {kArrayWrap, kInArray}}},
        FailureCase{"LoneMinus", "-", true, {{2, "No digits after initial minus"}}},
        FailureCase{"MinusLetter",
                    "[-a]",
                    false,
                    {{2, "No digits after initial minus"}, {kArrayWrap, kInArray}}},
        FailureCase{"NoFraction", "1.", true, {{2, "No digits after decimal point"}}},
        FailureCase{"NoExponent", "1e+", true, {{2, "No digits after exponent"}}},
        FailureCase{"ExponentLetter", "2Ex", true, {{2, "No digits after exponent"}}},
        FailureCase{"ExponentTooLarge", "1e128", true, {{2, "Failed creating decimal instance"}}},
        FailureCase{"ExponentTooSmall", "1e-129", true, {{2, "Failed creating decimal instance"}}},
        FailureCase{"TooManyDigits",
                    "1234567890123456789012345678901234567891",
                    true,
                    {{2, "Failed creating decimal instance"}}},
        FailureCase{"HugeExponentText",
                    "1e99999999999999999999999",
                    true,
                    {{2, "Failed creating decimal instance"}}},
        FailureCase{"LeadingCharacter",
                    "[?]",
                    false,
                    {{3, "Unrecognised leading character"}, {kArrayWrap, kInArray}}},
        FailureCase{"BadNull", "nul", true, {{3, "Expected 'null'"}}},
        FailureCase{"BadFalse", "[fals]", false, {{3, "Expected 'false'"}, {kArrayWrap, kInArray}}},
        FailureCase{"BadTrue", "tru", true, {{3, "Expected 'true'"}}},
        FailureCase{"UnquotedKey", "{a:1}", false, {{3, "Object key string expected"}}},
        FailureCase{"BrokenKey",
                    "{\"a\\q\":1}",
                    false,
                    {{8, "Illegal escape sequence '0x71'"}, {3, "Object key string expected"}}},
        FailureCase{
            "MissingColon", "{\"a\" 1}", false, {{3, "Expected ':' separating key and value"}}},
        FailureCase{
            "MissingValue",
            "{\"k\":}",
            false,
            {{3, "Unrecognised leading character"}, {3, "Object value expected for key: k"}}},
        FailureCase{"NotContainer", "123", false, {{4, "Valid fragment, but not JSON"}}},
        FailureCase{"StringNotContainer", "\"x\"", false, {{4, "Valid fragment, but not JSON"}}},
        FailureCase{"RawTab",
                    "[\"a\tb\"]",
                    false,
                    {{5, "Unescaped control character '0x9'"}, {kArrayWrap, kInArray}}},
        FailureCase{
            "RawUnitSeparator", "\"\x1f\"", true, {{5, "Unescaped control character '0x1f'"}}},
        FailureCase{"ShortQuad",
                    "[\"\\u12\"]",
                    false,
                    {{6, "Missing hex digit in quad"},
                     {6, "Missing hex quad"},
                     {6, "Broken unicode character"},
                     {kArrayWrap, kInArray}}},
        FailureCase{
            "LoneHighSurrogate",
            "\"\\ud83d\"",
            true,
            {{6, "Missing low character in surrogate pair"}, {6, "Broken unicode character"}}},
        FailureCase{"BadSecondQuad",
                    "\"\\ud83d\\u00g0\"",
                    true,
                    {{6, "Missing hex digit in quad"},
                     {6, "Missing low character in surrogate pair"},
                     {6, "Broken unicode character"}}},
        FailureCase{"NotLowSurrogate",
                    "\"\\ud83d\\u0041\"",
                    true,
                    {{6, "Invalid low surrogate char"}, {6, "Broken unicode character"}}},
        FailureCase{
            "LowSurrogateFirst",
            "\"\\ude00\"",
            true,
            {{6, "Invalid high character in surrogate pair"}, {6, "Broken unicode character"}}},
        FailureCase{"UnknownEscape",
                    "[\"\\x\"]",
                    false,
                    {{8, "Illegal escape sequence '0x78'"}, {kArrayWrap, kInArray}}},
        FailureCase{
            "TrailingCommaArray", "[1,]", false, {{9, "Trailing comma disallowed in array"}}},
        FailureCase{"TrailingCommaObject",
                    "{\"a\":1 , }",
                    false,
                    {{9, "Trailing comma disallowed in object"}}},
        FailureCase{"Garbage", "[1] x", false, {{10, "Garbage after JSON"}}},
        FailureCase{"GarbageAfterLiteral", "truex", true, {{10, "Garbage after JSON"}}},
        FailureCase{"Empty", "", true, {{11, "Unexpected end of string"}}},
        FailureCase{"OnlyWhiteSpace", " \t\n\v\f\r", true, {{11, "Unexpected end of string"}}},
        FailureCase{"UnclosedString", "\"abc", true, {{11, "Unexpected EOF while parsing string"}}},
        FailureCase{"UnclosedObject", "{", false, {{11, "End of input while parsing object"}}},
        FailureCase{"UnclosedArray", "[1", false, {{11, "End of input while parsing array"}}},
        // White space before the end makes the element scan itself meet the end.
        FailureCase{"UnclosedArraySpace",
                    "[ ",
                    false,
                    {{11, "Unexpected end of string"}, {kArrayWrap, kInArray}}},
        FailureCase{"UnclosedObjectSpace", "{ ", false, {{3, "Object key string expected"}}},
        FailureCase{"NestedContext",
                    "{\"a\":[{\"b\":[1,}]}]}",
                    false,
                    {{3, "Unrecognised leading character"},
                     {kArrayWrap, kInArray},
                     {3, "Object value expected for key: b"},
                     {kArrayWrap, kInArray},
                     {3, "Object value expected for key: a"}}},
        FailureCase{
            "InvalidUtf8",
            "[\"a\xff\"]",
            false,
            {{13, "Invalid UTF-8 sequence starting with byte '0xff'"}, {kArrayWrap, kInArray}}},
        FailureCase{"HighByteOutsideString",
                    "[\xc3\xa9]",
                    false,
                    {{3, "Unrecognised leading character"}, {kArrayWrap, kInArray}}}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

// Where a broken document failed: the byte offset, and the line and column (characters,
// not bytes) that every error of its trace carries.
struct PositionCase {
    const char* name;
    std::string text;
    bool fragment;
    unsigned maxDepth;
    unsigned code;  // of the innermost error, so that each row fails where it means to
    TextPosition at;
};

std::ostream& operator<<(std::ostream& out, const PositionCase& c) {
    return out << c.name;
}

class ParserPosition : public ::testing::TestWithParam<PositionCase> {};

TEST_P(ParserPosition, EveryErrorNamesWhereTheTextFailed) {
    const PositionCase& c = GetParam();
    JsonParser parser;
    parser.setMaxDepth(c.maxDepth);
    EXPECT_FALSE(c.fragment ? parser.fragmentWithString(c.text) : parser.objectWithString(c.text));
    const ErrorTrace& trace = parser.errorTrace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.front()->code(), c.code) << trace.front()->localizedDescription();
    for (const JsonErrorPtr& error : trace) {
        ASSERT_TRUE(error->position()) << error->localizedDescription();
        EXPECT_EQ(error->position()->offset, c.at.offset) << error->localizedDescription();
        EXPECT_EQ(error->position()->line, c.at.line) << error->localizedDescription();
        EXPECT_EQ(error->position()->column, c.at.column) << error->localizedDescription();
    }
}

const std::string kDeep = std::string(513, '[');
const std::string kDeeper = std::string(3000, '[') + "x";

INSTANTIATE_TEST_SUITE_P(
    BrokenDocuments, ParserPosition,
    ::testing::Values(
        PositionCase{"FirstByte", "x[]", true, 512, 3, {0, 1, 1}},
        PositionCase{"Empty", "", true, 512, 11, {0, 1, 1}},
        PositionCase{"AtTheVeryEnd", "[1, 2", false, 512, 11, {5, 1, 6}},
        PositionCase{"EndAfterCrLf", "[1,\r\n", false, 512, 11, {5, 2, 1}},
        // e-acute, the euro sign and an emoji: 9 bytes, 3 characters.
        PositionCase{"MultiByteBefore",
                     "[\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\", x]",
                     false,
                     512,
                     3,
                     {14, 1, 9}},
        PositionCase{"InvalidUtf8AfterMultiByte", "[\"\xc3\xa9\xff\"]", false, 512, 13, {4, 1, 4}},
        PositionCase{
            "CrLfLines", "{\r\n  \"a\": 1,\r\n  \"b\": tru\r\n}", false, 512, 3, {24, 3, 11}},
        PositionCase{"LoneCrAndLfLines", "[1,\r2,\n\r\n\t?]", false, 512, 3, {10, 4, 2}},
        PositionCase{"CrOfCrLfInString", "\"a\r\n\"", true, 512, 5, {2, 1, 3}},
        PositionCase{"NumberOutOfRange", "[1,\n 1e999]", false, 512, 2, {5, 2, 2}},
        PositionCase{"LeadingZero", "[-01]", false, 512, 2, {3, 1, 4}},
        PositionCase{"TrailingComma", "{\"a\":[1,]}", false, 512, 9, {8, 1, 9}},
        PositionCase{"BadEscape", "[\"\\q\"]", false, 512, 8, {3, 1, 4}},
        PositionCase{"ShortQuad", "[\"\\u12\"]", false, 512, 6, {6, 1, 7}},
        PositionCase{"LowSurrogateFirst", "\"ab\\ude00\"", true, 512, 6, {3, 1, 4}},
        PositionCase{"NotLowSurrogate", "\"\\ud83d\\u0041\"", true, 512, 6, {7, 1, 8}},
        PositionCase{"NotAContainer", "  \n 42", false, 512, 4, {4, 2, 2}},
        PositionCase{"Garbage", "[]\n\n  x", false, 512, 10, {6, 3, 3}},
        PositionCase{"TooDeep", kDeep, false, 512, 7, {512, 1, 513}},
        PositionCase{"DeepWithoutLimit", kDeeper, false, 0, 3, {3000, 1, 3001}}),
    [](const ::testing::TestParamInfo<PositionCase>& info) { return info.param.name; });

TEST(Parser, NoInputAtAll) {
    JsonParser parser;
    EXPECT_FALSE(parser.fragmentWithString(std::optional<std::string_view>()));
    EXPECT_EQ(linesOf(parser.errorTrace()), (TraceLines{{12, "Input was 'nil'"}}));
    EXPECT_FALSE(parser.errorTrace().front()->position()) << "no text, so no place in it";
    EXPECT_FALSE(parser.objectWithString(static_cast<const char*>(nullptr)));
    EXPECT_EQ(linesOf(parser.errorTrace()), (TraceLines{{12, "Input was 'nil'"}}));
}

// Texts that parse, with the compact text of what they yield.
struct SuccessCase {
    std::string text;
    std::string written;
};

class ParserSuccess : public ::testing::TestWithParam<SuccessCase> {};

TEST_P(ParserSuccess, YieldsTheValue) {
    JsonParser parser;
    std::optional<Value> value = parser.fragmentWithString(GetParam().text);
    ASSERT_TRUE(value) << linesOf(parser.errorTrace()).front().second;
    EXPECT_TRUE(parser.errorTrace().empty());
    JsonWriter writer;
    EXPECT_EQ(writer.stringWithFragment(*value), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, ParserSuccess,
    ::testing::Values(
        // Leniencies: missing commas, vertical tab and form feed, NUL ending the input.
        SuccessCase{"[1 2]", "[1,2]"},
        SuccessCase{"[truefalse\"x\"null]", "[true,false,\"x\",null]"},
        SuccessCase{"{\"a\":1 \"b\":2}", "{\"a\":1,\"b\":2}"},
        SuccessCase{"\v\f[1]\v\f\r\n\t ", "[1]"},
        SuccessCase{std::string("[1]\0garbage", 11), "[1]"},
        // A repeated key keeps its first place and its last value.
        SuccessCase{"{\"a\":1,\"b\":2,\"a\":3}", "{\"a\":3,\"b\":2}"},
        // Numbers are exact decimals in plain notation.
        SuccessCase{"[-0,0.5,-1.5e+3,1E2,2.50,0.1]", "[0,0.5,-1500,100,2.5,0.1]"},
        SuccessCase{"[1e127,1e-128]",
                    "[1" + std::string(127, '0') + ",0." + std::string(127, '0') + "1]"},
        SuccessCase{"12345678901234567890123456789012345678e-10",
                    "1234567890123456789012345678.9012345678"},
        SuccessCase{"-9223372036854775809", "-9223372036854775809"},
        SuccessCase{"123456789012345678901234567890123456780000000",
                    "123456789012345678901234567890123456780000000"},
        SuccessCase{"0e999999999999", "0"},
        // Escapes and UTF-8.
        SuccessCase{"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "\"\\\"\\\\/\\b\\f\\n\\r\\t\""},
        SuccessCase{"\"\\u00e9\\u0000\"", "\"\xc3\xa9\\u0000\""},
        SuccessCase{"\"\\ud83d\\ude00\\udbff\\udfff\"", "\"\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf\""},
        SuccessCase{"\"\xe2\x82\xac \xf0\x9f\x98\x80 \xc3\xa9\"",
                    "\"\xe2\x82\xac \xf0\x9f\x98\x80 \xc3\xa9\""},
        SuccessCase{"\"" + std::string(100, 'x') + "\\n\"",
                    "\"" + std::string(100, 'x') + "\\n\""}));

TEST(Parser, RefusesMalformedUtf8InStrings) {
    // Overlong forms, surrogates, beyond U+10FFFF, a cut sequence, a stray continuation byte.
    const char* const bad[] = {
        "\xc0\x80",         "\xe0\x80\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80",
        "\xf5\x80\x80\x80", "\xe2\x82",     "\x80",         "\xf0\x9f\x98"};
    JsonParser parser;
    for (const char* bytes : bad) {
        std::string text = std::string("{\"k\":\"ok ") + bytes + "\"}";
        EXPECT_FALSE(parser.objectWithString(text)) << text;
        ASSERT_EQ(parser.errorTrace().size(), 2u);
        EXPECT_EQ(parser.errorTrace()[0]->code(), 13u);
        EXPECT_FALSE(parser.objectWithString(std::string("{\"") + bytes + "\":1}"));
        EXPECT_EQ(parser.errorTrace()[0]->code(), 13u);
    }
}

TEST(Parser, DepthLimit) {
    auto nested = [](std::size_t depth) {
        return std::string(depth, '[') + std::string(depth, ']');
    };
    JsonParser parser;
    EXPECT_TRUE(parser.objectWithString(nested(512)));
    EXPECT_FALSE(parser.objectWithString(nested(513)));
    const ErrorTrace& trace = parser.errorTrace();
    ASSERT_EQ(trace.size(), 513u);
    EXPECT_EQ(trace.front()->localizedDescription(), "Nested too deep");
    EXPECT_EQ(trace.front()->code(), 7u);
    EXPECT_EQ(trace.back()->localizedDescription(), kInArray);
    EXPECT_TRUE(isChained(trace));

    // Objects count as levels too, and their keys name the context.
    parser.setMaxDepth(2);
    EXPECT_TRUE(parser.objectWithString("{\"a\":[1]}"));
    EXPECT_FALSE(parser.objectWithString("{\"a\":{\"b\":[]}}"));
    EXPECT_EQ(linesOf(parser.errorTrace()), (TraceLines{{7, "Nested too deep"},
                                                        {3, "Object value expected for key: b"},
                                                        {3, "Object value expected for key: a"}}));

    parser.setMaxDepth(0);
    EXPECT_TRUE(parser.objectWithString(nested(5000)));
}

TEST(Parser, ClearsTheTraceOnEachParse) {
    JsonParser parser;
    EXPECT_FALSE(parser.objectWithString("[1,]"));
    EXPECT_FALSE(parser.errorTrace().empty());
    EXPECT_TRUE(parser.objectWithString("[1]"));
    EXPECT_TRUE(parser.errorTrace().empty());
}

TEST(Parser, ManyMembersWithRepeatedKeys) {
    // Large objects resolve repeated keys through a hash table rather than pairwise.
    std::string text = "{";
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 200; ++i) {
            text += "\"key" + std::string(i % 3 == 0 ? 20 : 0, 'x') + std::to_string(i) +
                    "\":" + std::to_string(round * 1000 + i) + ",";
        }
    }
    text.back() = '}';
    JsonParser parser;
    std::optional<Value> value = parser.objectWithString(text);
    ASSERT_TRUE(value);
    ASSERT_EQ(value->size(), 200u);
    EXPECT_EQ(value->members()[7].key(), "key7");
    EXPECT_EQ(value->members()[9].key(), "key" + std::string(20, 'x') + "9");
    EXPECT_EQ(value->members()[9].value().asInt64(), 2009);
}

}  // namespace
}  // namespace quorbit::json

namespace quorbit::json {
namespace {

TEST(Parser, KeepsOutOfRangeNumbersAsDoublesWhenAsked) {
    const double kMax = std::numeric_limits<double>::max();
    struct Case {
        std::string text;
        double value;
    } cases[] = {
        {"1e200", 1e200},
        {"-1e-129", -1e-129},
        {"5e-324", 5e-324},
        {"12345678901234567890123456789012345678901", 1.2345678901234568e40},
        {"1e400", kMax},
        {"-123.4e307", -kMax},
        {"0.5e309", kMax},
        {"1e-400", 0.0},
        {"-0.0001e-330", 0.0},
        {"1234e-330", 0.0},
        {"1e99999999999999999999999", kMax},
    };
    JsonParser parser;
    parser.setOutOfRangeNumbersAsDoubles(true);
    for (const auto& c : cases) {
        std::optional<Value> value = parser.fragmentWithString(c.text);
        ASSERT_TRUE(value) << c.text;
        ASSERT_EQ(value->numberKind(), Value::NumberKind::Double) << c.text;
        EXPECT_EQ(value->asDouble(), c.value) << c.text;
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

}  // namespace
}  // namespace quorbit::json
