#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

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

const Value kSample = Value::object({{"a", 1}, {"b", Value::array({1, 2})}});

using Write = std::function<std::optional<std::string>(JsonWriter&)>;
Write object(Value value) {
    return [value](JsonWriter& w) { return w.stringWithObject(value); };
}
Write fragment(Value value) {
    return [value](JsonWriter& w) { return w.stringWithFragment(value); };
}
template <typename T>
Write native(T value, bool asFragment = false) {
    return [value, asFragment](JsonWriter& w) {
        return asFragment ? w.stringWithFragment(value) : w.stringWithObject(value);
    };
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
    using Line = std::pair<unsigned, std::string>;
    const std::string cannot = "JSON serialisation not supported for ";
    const Line notValid = {4, "Not valid type for JSON"}, tooDeep = {7, "Nested too deep"};
    const Line numberKey = {1, "JSON object key must be string"};
    const Line unsupported = {1, cannot + opaqueName()};
    const Line nonFinite = {1, cannot + "non-finite number"};
    const Line badUtf8 = {1, cannot + "invalid UTF-8 text"};
    auto forKey = [](std::string key) {
        return Line{1, "Unsupported value for key " + key + " in object"};
    };
    auto in = [](const char* key, Value value) { return Value::object({{key, std::move(value)}}); };
    const Value unsorted =
        Value::object({{"b", 1}, {"a", Value::object({{"z", 1}, {"y", 2}})}, {"c", 3}});
    const Value empties = Value::array({Value::object(), Value::array()});
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
                std::string raw =
                    std::string(at, 'a') + special + std::string(length - at - 1, 'b');
                std::string quoted = "\"" + std::string(at, 'a') + written +
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

}  // namespace
}  // namespace quorbit::json
