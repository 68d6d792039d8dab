#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "json/JsonParser.h"
#include "json/JsonWriter.h"
#include "json/TraceMatchers.h"

namespace quorbit::json {
namespace {

using testing::isChained;
using testing::linesOf;
using testing::TraceLines;

// The outer error of a failure inside an array.
const std::pair<unsigned, std::string> kInArray = {3, "Expected value while parsing array"};

// One row per message of the parser's error table, in the context that produces it: the
// trace, innermost first.
TEST(Parser, ReportsEachErrorWithItsContext) {
    using Line = std::pair<unsigned, std::string>;
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
    };
    // clang-format on
    JsonParser parser;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
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
    // clang-format off
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
    // clang-format on
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
            EXPECT_EQ(error->position()->offset, c.at.offset) << error->localizedDescription();
            EXPECT_EQ(error->position()->line, c.at.line) << error->localizedDescription();
            EXPECT_EQ(error->position()->column, c.at.column) << error->localizedDescription();
        }
    }
}

// Texts that parse, with the compact text of what they yield.
TEST(Parser, YieldsTheValue) {
    const std::string x100 = std::string(100, 'x'), zeros = std::string(127, '0');
    const std::string emoji = "\xf0\x9f\x98\x80", eAcute = "\xc3\xa9", euro = "\xe2\x82\xac";
    const std::string k38 = "12345678901234567890123456789012345678";
    const std::string mixed = "\"" + euro + " " + emoji + " " + eAcute + "\"";
    const std::string u10000 = "\xf0\x90\x80\x80";
    // clang-format off
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
    // clang-format on
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

// Objects count as levels as arrays do, and their keys name the context; 0 is no limit.
TEST(Parser, DepthLimit) {
    JsonParser parser;
    parser.setMaxDepth(2);
    EXPECT_TRUE(parser.objectWithString("{\"a\":[1]}"));
    EXPECT_FALSE(parser.objectWithString("{\"a\":{\"b\":[]}}"));
    EXPECT_EQ(linesOf(parser.errorTrace()), (TraceLines{{7, "Nested too deep"},
                                                        {3, "Object value expected for key: b"},
                                                        {3, "Object value expected for key: a"}}));
    EXPECT_TRUE(isChained(parser.errorTrace()));
    parser.setMaxDepth(0);
    EXPECT_TRUE(parser.objectWithString(std::string(5000, '[') + std::string(5000, ']')));
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

std::string sample(const std::string& name) {
    const char* data = std::getenv("QUORBIT_TEST_DATA");
    std::string path = std::string(data ? data : "tests/data") + "/json/" + name;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class SampleDocument : public ::testing::TestWithParam<const char*> {};

TEST_P(SampleDocument, ReadsBackEqualInEveryLayout) {
    std::string text = sample(GetParam());
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

}  // namespace
}  // namespace quorbit::json
