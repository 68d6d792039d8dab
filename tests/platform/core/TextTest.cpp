#include <gtest/gtest.h>

#include "platform/core/CommandLineParser.h"
#include "platform/core/Text.h"

namespace quorbit::platform {
namespace {

TEST(Text, TrimAndLowerTouchOnlyWhatTheySay) {
    EXPECT_EQ(trim(" \t\r\n a b \v\f"), "a b");
    EXPECT_EQ(trim("   "), "");
    // ASCII only: a UTF-8 capital (É is C3 89) and every other byte stay as they are.
    EXPECT_EQ(lower("HTTPS://Ex.COM/\xC3\x89-Z@[`"), "https://ex.com/\xC3\x89-z@[`");
}

TEST(Text, PercentEncodingRoundTripsAndRefusesBrokenEscapes) {
    EXPECT_EQ(percentEncode("a-Z_0.~ /&=+%\xC3\xA9"), "a-Z_0.~%20%2F%26%3D%2B%25%C3%A9");
    EXPECT_EQ(percentDecode("a-Z_0.~%20%2f%26%3D+%25%C3%A9"), "a-Z_0.~ /&=+%\xC3\xA9");
    for (const char* broken : {"%", "%4", "ab%4", "%G0", "%0G"})
        EXPECT_FALSE(percentDecode(broken)) << broken;
    // An escape cut off by the end of the text is not completed from the bytes beyond it.
    EXPECT_FALSE(percentDecode(std::string_view("%4142").substr(0, 2)));
    EXPECT_EQ(percentDecode("%41"), "A");
}

// A flag, an option with a value, and one that refuses odd values.
struct Declared {
    CommandLineParser parser;
    bool flag = false;
    std::optional<std::string> size, even;

    Declared() {
        parser.addFlag("--flag", "a flag", flag);
        parser.addValue("--size", "WxH", "a size", size);
        parser.add({"--even", "N", "an even number",
                    [this](const std::string& v) -> std::optional<std::string> {
                        if (v.empty() || (v.back() - '0') % 2 != 0) return "odd: " + v;
                        even = v;
                        return std::nullopt;
                    }});
    }
};

TEST(CommandLineParser, TakesTheDeclaredOptionsAndNamesWhatIsWrong) {
    using enum CommandLineError;
    constexpr auto kKeep = CommandLineParser::Unknown::Keep;
    constexpr auto kRefuse = CommandLineParser::Unknown::Refuse;
    // said: the error's message, or the operands and values taken.
    // clang-format off
    struct Case { std::vector<std::string> args; CommandLineParser::Unknown unknown; std::optional<CommandLineError> error; std::string said; } cases[] = {
        {{"--flag", "url", "--size", "2x3"}, kRefuse, {}, "url | flag 2x3 -"},
        // A value is the next argument, whatever it looks like.
        {{"--size", "--flag", "--even", "-2"}, kRefuse, {}, " | - --flag -2"},
        {{"--bogus", "x", "--flag"}, kKeep, {}, "--bogus x | flag - -"},
        {{"--flag", "--bogus"}, kRefuse, UnknownOption, "unknown argument '--bogus'"},
        {{"--flag", "--size"}, kRefuse, MissingValue, "--size needs a value (WxH)"},
        {{"--flag", "x", "--flag"}, kRefuse, Repeated, "--flag is given more than once"},
        {{"--size", "1", "--size", "1"}, kKeep, Repeated, "--size is given more than once"},
        {{"--even", "3"}, kRefuse, BadValue, "odd: 3"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        Declared d;
        auto operands = d.parser.parse(c.args, c.unknown);
        ASSERT_EQ(operands.ok(), !c.error);
        if (c.error) {
            EXPECT_TRUE(operands.error().is(*c.error));
            EXPECT_EQ(operands.error().localizedDescription(), c.said);
            continue;
        }
        std::string said;
        for (const auto& operand : operands.value())
            said += (said.empty() ? "" : " ") + operand;
        said += std::string(" | ") + (d.flag ? "flag" : "-") + " " + d.size.value_or("-") + " " +
                d.even.value_or("-");
        EXPECT_EQ(said, c.said);
    }
}

TEST(CommandLineParser, ListsTheOptionsWithTheirHelpInOneColumn) {
    Declared d;
    d.parser.addFlag("--a-name-longer-than-the-first-column", "long", d.flag);
    EXPECT_EQ(d.parser.help(),
              "  --flag                         a flag\n"
              "  --size WxH                     a size\n"
              "  --even N                       an even number\n"
              "  --a-name-longer-than-the-first-column  long\n");
    EXPECT_TRUE(CommandLineParser::asksForHelp({"--flag", "-h"}));
    EXPECT_TRUE(CommandLineParser::asksForHelp({"--help", "--bogus"}));
    EXPECT_FALSE(CommandLineParser::asksForHelp({"--helpful", "h"}));
}

}  // namespace
}  // namespace quorbit::platform
