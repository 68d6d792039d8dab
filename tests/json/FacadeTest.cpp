#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "json/Json.h"
#include "json/JsonConveniences.h"
#include "json/TraceMatchers.h"

namespace quorbit::json {
namespace {

using testing::linesOf;
using testing::TraceLines;

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

class LogCapture {
  public:
    LogCapture() {
        _previous = JsonLog::setSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~LogCapture() { JsonLog::setSink(std::move(_previous)); }
    std::vector<std::string> lines;

  private:
    JsonLog::Sink _previous;
};

TEST(Conveniences, LogTheTraceOnFailure) {
    LogCapture log;
    EXPECT_EQ(JSONValue("{\"a\":[1]}"), Value::object({{"a", Value::array({1})}}));
    EXPECT_EQ(JSONFragmentValue("\"s\""), Value("s"));
    EXPECT_EQ(JSONRepresentation(Value::array({1})), "[1]");
    EXPECT_EQ(JSONFragment(true), "true");
    EXPECT_TRUE(log.lines.empty());

    EXPECT_FALSE(JSONValue("7"));
    EXPECT_FALSE(JSONFragmentValue("[\"\\u12\"]"));
    EXPECT_FALSE(JSONRepresentation(Value("x")));
    EXPECT_FALSE(JSONFragment(Value::object({{"k", std::nan("")}})));
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{
                  "-JSONValue failed. Error trace is: [4 \"Valid fragment, but not JSON\"]",
                  "-JSONFragmentValue failed. Error trace is: [6 \"Missing hex digit in quad\", 6 "
                  "\"Missing hex quad\", 6 \"Broken unicode character\", 3 \"Expected value while "
                  "parsing array\"]",
                  "-JSONRepresentation failed. Error trace is: [4 \"Not valid type for JSON\"]",
                  "-JSONFragment failed. Error trace is: [1 \"JSON serialisation not supported for "
                  "non-finite number\", 1 \"Unsupported value for key k in object\"]"}));
}

}  // namespace
}  // namespace quorbit::json
