#include "platform/core/CommandLineParser.h"

#include <gtest/gtest.h>

namespace quorbit::platform {
namespace {

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
    struct Case {
        std::vector<std::string> args;
        CommandLineParser::Unknown unknown;
        std::optional<CommandLineError> error;
        std::string said;  // the error's message, or the operands and values taken
    } cases[] = {
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
