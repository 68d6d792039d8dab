#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "json/JsonParser.h"
#include "json/JsonWriter.h"
#include "json/TraceMatchers.h"

namespace quorbit::json {
namespace {

using testing::isChained;
using testing::linesOf;
using testing::TraceLines;

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

std::string opaqueName() {
    return detail::readableTypeName(typeid(Opaque));
}

Value nestedArrays(std::size_t depth) {
    Value value = Value::array();
    for (std::size_t i = 1; i < depth; ++i) {
        Value outer = Value::array();
        outer.push_back(std::move(value));
        value = std::move(outer);
    }
    return value;
}

struct WriteCase {
    const char* name;
    std::function<std::optional<std::string>(JsonWriter&)> write;
    std::optional<std::string> text;  // expected output, or
    TraceLines trace = {};            // expected errors
    bool sortKeys = false;
    bool humanReadable = false;
    unsigned maxDepth = JsonBase::kDefaultMaxDepth;
};

std::ostream& operator<<(std::ostream& out, const WriteCase& c) {
    return out << c.name;
}

class WriterRule : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriterRule, WritesOrReports) {
    const WriteCase& c = GetParam();
    JsonWriter writer;
    writer.setSortKeys(c.sortKeys);
    writer.setHumanReadable(c.humanReadable);
    writer.setMaxDepth(c.maxDepth);
    std::optional<std::string> text = c.write(writer);
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(linesOf(writer.errorTrace()), c.trace);
    EXPECT_TRUE(isChained(writer.errorTrace()));
}

const Value kSample = Value::object({{"a", 1}, {"b", Value::array({1, 2})}});

auto object(Value value) {
    return [value](JsonWriter& w) { return w.stringWithObject(value); };
}
auto fragment(Value value) {
    return [value](JsonWriter& w) { return w.stringWithFragment(value); };
}

INSTANTIATE_TEST_SUITE_P(
    Rules, WriterRule,
    ::testing::Values(
        // Escapes: the short forms, \u00XX for the other controls, everything else as is.
        WriteCase{"Escapes", fragment("q\" b\\ t\t n\n r\r b\b f\f \x01\x1f\x7f / \xc3\xa9"),
                  "\"q\\\" b\\\\ t\\t n\\n r\\r b\\b f\\f \\u0001\\u001f\x7f / \xc3\xa9\""},
        WriteCase{"NulInString", fragment(std::string("a\0b", 3)), "\"a\\u0000b\""},
        WriteCase{"LongPlainString", fragment(std::string(40, 'x')), "\"" + std::string(40, 'x') + "\""},
        // Layouts.
        WriteCase{"Compact", object(kSample), "{\"a\":1,\"b\":[1,2]}"},
        WriteCase{"HumanReadable", object(kSample),
                  "{\n  \"a\" : 1,\n  \"b\" : [\n    1,\n    2\n  ]\n}", {}, false, true},
        WriteCase{"EmptyContainers", object(Value::array({Value::object(), Value::array()})),
                  "[\n  {},\n  []\n]", {}, false, true},
        WriteCase{"EmptyCompact", object(Value::object()), "{}"},
        // Sorting: byte order, at every level; otherwise insertion order.
        WriteCase{"Unsorted", object(Value::object({{"b", 1}, {"a", Value::object({{"z", 1}, {"y", 2}})}, {"c", 3}})),
                  "{\"b\":1,\"a\":{\"z\":1,\"y\":2},\"c\":3}"},
        WriteCase{"Sorted", object(Value::object({{"b", 1}, {"a", Value::object({{"z", 1}, {"y", 2}})}, {"c", 3}})),
                  "{\"a\":{\"y\":2,\"z\":1},\"b\":1,\"c\":3}", {}, true},
        WriteCase{"SortedNative",
                  [](JsonWriter& w) {
                      return w.stringWithObject(std::unordered_map<std::string, int>{{"b", 2}, {"a", 1}, {"\xc3\xa9", 3}, {"B", 4}});
                  },
                  "{\"B\":4,\"a\":1,\"b\":2,\"\xc3\xa9\":3}", {}, true},
        // Top level.
        WriteCase{"BareString", object("x"), std::nullopt, {{4, "Not valid type for JSON"}}},
        WriteCase{"BareStringFragment", fragment("x"), "\"x\""},
        WriteCase{"BoolIsNotOne", fragment(Value::array({true, false, 1, 0, nullptr})), "[true,false,1,0,null]"},
        // Depth.
        WriteCase{"Depth512", object(nestedArrays(512)), std::string(512, '[') + std::string(512, ']')},
        WriteCase{"Depth513", object(nestedArrays(513)), std::nullopt, {{7, "Nested too deep"}}},
        WriteCase{"DepthInObjects", object(Value::object({{"a", Value::object({{"b", Value::array()}})}})),
                  std::nullopt,
                  {{7, "Nested too deep"}, {1, "Unsupported value for key b in object"}, {1, "Unsupported value for key a in object"}},
                  false, false, 2},
        WriteCase{"NoLimit", object(nestedArrays(3)), "[\n  [\n    []\n  ]\n]", {}, false, true, 0},
        // Keys that are not strings fail the object, sorted or not, unless there are none.
        WriteCase{"NumberKey", [](JsonWriter& w) { return w.stringWithObject(std::map<int, int>{{1, 2}}); },
                  std::nullopt, {{1, "JSON object key must be string"}}},
        WriteCase{"NumberKeySorted", [](JsonWriter& w) { return w.stringWithObject(std::map<int, int>{{1, 2}}); },
                  std::nullopt, {{1, "JSON object key must be string"}}, true},
        WriteCase{"NoKeys", [](JsonWriter& w) { return w.stringWithObject(std::map<int, int>{}); }, "{}"},
        // Unsupported values: inside an object the key is added, inside an array nothing.
        WriteCase{"UnsupportedInObject",
                  [](JsonWriter& w) { return w.stringWithObject(std::map<std::string, Opaque>{{"k", {}}}); },
                  std::nullopt,
                  {{1, "JSON serialisation not supported for " + opaqueName()}, {1, "Unsupported value for key k in object"}}},
        WriteCase{"UnsupportedInArray",
                  [](JsonWriter& w) { return w.stringWithObject(std::vector<Opaque>(2)); }, std::nullopt,
                  {{1, "JSON serialisation not supported for " + opaqueName()}}},
        WriteCase{"NotANumber", object(Value::object({{"k", Value::array({std::nan("")})}})), std::nullopt,
                  {{1, "JSON serialisation not supported for non-finite number"}, {1, "Unsupported value for key k in object"}}},
        WriteCase{"Infinity", fragment(std::numeric_limits<double>::infinity()), std::nullopt,
                  {{1, "JSON serialisation not supported for non-finite number"}}},
        WriteCase{"InvalidUtf8Value", object(Value::object({{"k", std::string("\xff")}})), std::nullopt,
                  {{1, "JSON serialisation not supported for invalid UTF-8 text"}, {1, "Unsupported value for key k in object"}}},
        WriteCase{"InvalidUtf8Key", object(Value::object({{"o", Value::object({{"\xe2\x82", 1}})}})), std::nullopt,
                  {{1, "JSON serialisation not supported for invalid UTF-8 text"}, {1, "Unsupported value for key o in object"}}},
        // Proxies stand in for their values, at any level.
        WriteCase{"Proxy", [](JsonWriter& w) { return w.stringWithObject(Point{1, 2}); }, "{\"x\":1,\"y\":2}"},
        WriteCase{"ProxiesInList",
                  [](JsonWriter& w) { return w.stringWithObject(std::vector<Point>{{1, 2}, {3, 4}}); },
                  "[{\"x\":1,\"y\":2},{\"x\":3,\"y\":4}]"},
        WriteCase{"ScalarProxyTopLevel", [](JsonWriter& w) { return w.stringWithObject(Label{}); }, std::nullopt,
                  {{4, "Not valid type for JSON"}}},
        WriteCase{"ScalarProxyFragment", [](JsonWriter& w) { return w.stringWithFragment(Label{}); }, "\"label\""},
        WriteCase{"UnwritableProxy",
                  [](JsonWriter& w) { return w.stringWithObject(std::map<std::string, Hollow>{{"h", {}}}); },
                  std::nullopt,
                  {{1, "JSON serialisation not supported for " + opaqueName()}, {1, "Unsupported value for key h in object"}}},
        WriteCase{"UnwritableProxyTopLevel", [](JsonWriter& w) { return w.stringWithObject(Hollow{}); }, std::nullopt,
                  {{4, "Not valid type for JSON"}}}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return info.param.name; });

TEST(Writer, Numbers) {
    JsonWriter writer;
    Value numbers =
        Value::array({std::numeric_limits<std::int64_t>::min(),
                      std::numeric_limits<std::uint64_t>::max(), 0.1, 1e21, -0.0, 5e-324, 1.5f,
                      *Decimal::fromString("-1234567890123456789012345678.9012345678")});
    EXPECT_EQ(writer.stringWithObject(numbers),
              "[-9223372036854775808,18446744073709551615,0.1,1e+21,-0,5e-324,1.5,"
              "-1234567890123456789012345678.9012345678]");
}

TEST(Writer, EscapesAndCharactersAtEveryPlaceOfABlock) {
    // Strings are copied sixteen bytes at a time and cut at special bytes: a special byte or
    // a multi-byte character at each place of strings around one and two blocks long, as a
    // key and as a value, must come out as it would alone.
    struct Special {
        std::string raw;
        std::string written;
    } specials[] = {{"\"", "\\\""},
                    {"\\", "\\\\"},
                    {"\n", "\\n"},
                    {"\x01", "\\u0001"},
                    {"\xc3\xa9", "\xc3\xa9"},
                    {"\xe2\x82\xac", "\xe2\x82\xac"},
                    {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"}};
    JsonWriter writer;
    for (std::size_t length : {1, 13, 14, 15, 16, 17, 31, 32, 33}) {
        for (std::size_t at = 0; at < length; ++at) {
            for (const Special& special : specials) {
                std::string raw =
                    std::string(at, 'a') + special.raw + std::string(length - at - 1, 'b');
                std::string quoted = "\"" + std::string(at, 'a') + special.written +
                                     std::string(length - at - 1, 'b') + "\"";
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

TEST(Writer, OutputReadsBackEqual) {
    // Every layout reads back as the same value, doubles included.
    Value value = Value::object({{"d", Value::array({0.1, 1.0 / 3, 123456.789e10, -2.5e-7})},
                                 {"s", "\"\\\x01\xf0\x9f\x98\x80"},
                                 {"n", Value::object({{"z", nullptr}, {"y", Value::array()}})}});
    JsonParser parser;
    for (int options = 0; options < 4; ++options) {
        JsonWriter writer;
        writer.setSortKeys(options & 1);
        writer.setHumanReadable(options & 2);
        std::optional<std::string> text = writer.stringWithObject(value);
        ASSERT_TRUE(text);
        std::optional<Value> back = parser.objectWithString(*text);
        ASSERT_TRUE(back) << *text;
        EXPECT_EQ(*back, value) << *text;
    }
}

TEST(Writer, DeepTreeWithoutLimit) {
    // Value trees are written without recursion, however deep.
    JsonWriter writer;
    writer.setMaxDepth(0);
    std::optional<std::string> text = writer.stringWithObject(nestedArrays(200'000));
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, std::string(200'000, '[') + std::string(200'000, ']'));
}

TEST(Writer, NativeNestingStaysWithinTheStackBound) {
    JsonWriter writer;
    writer.setMaxDepth(0);
    EXPECT_EQ(writer.stringWithObject(Chain{3}), "[[[[]]]]");
    EXPECT_TRUE(writer.stringWithObject(Chain{int(JsonWriter::kNativeNestingLimit) - 1}));
    EXPECT_FALSE(writer.stringWithFragment(Chain{int(JsonWriter::kNativeNestingLimit)}));
    EXPECT_EQ(writer.errorTrace().front()->localizedDescription(), "Nested too deep");
}

TEST(Writer, ReusableAfterFailure) {
    JsonWriter writer;
    EXPECT_FALSE(writer.stringWithObject(Value::array({std::nan("")})));
    EXPECT_EQ(writer.stringWithObject(kSample), "{\"a\":1,\"b\":[1,2]}");
    EXPECT_TRUE(writer.errorTrace().empty());
}

}  // namespace
}  // namespace quorbit::json
