#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Error.h"

namespace quorbit::platform {

// Why a command line was refused; the codes of the "quorbit.commandline" domain.
enum class CommandLineError : long {
    UnknownOption = 1,  // an argument that no one declared
    MissingValue = 2,   // an option that takes a value came last
    Repeated = 3,       // an option given more than once
    BadValue = 4,       // the option refused its value
};
constexpr const char* errorDomain(CommandLineError) {
    return "quorbit.commandline";
}

// The options of one command line, declared by the parts of the program that act on them:
// each has a name ("--size"), takes the argument after it as its value or takes none, and has
// a line of help. Each may be given once. Arguments that do not start with '-' are operands,
// handed back in their order for the caller to judge.
class CommandLineParser {
  public:
    // Takes the option's value (empty for an option without one) as it is met; answers why the
    // value is refused, or nothing when it is taken.
    using Handler = std::function<std::optional<std::string>(const std::string& value)>;

    struct Option {
        std::string name;
        // The value's name in the help ("--size WxH"); empty for an option without a value.
        std::string valueName;
        std::string help;
        Handler handler;
        bool takesValue() const { return !valueName.empty(); }
    };

    // Declares an option; a name declared again replaces the earlier declaration.
    void add(Option option);
    // An option without a value that sets `flag`.
    void addFlag(std::string name, std::string help, bool& flag);
    // An option whose value is stored in `value` as given.
    void addValue(std::string name, std::string valueName, std::string help,
                  std::optional<std::string>& value);
    const Option* find(std::string_view name) const;

    // What to do with an argument that starts with '-' and was not declared: refuse the command
    // line, or hand it back among the operands (for a parser that takes only its own options
    // out of a command line that holds others too).
    enum class Unknown { Refuse, Keep };

    // Hands each option's value to its handler, in the order given, and answers the operands.
    // Fails at the first problem: an unknown option ("unknown argument '--x'"), a missing
    // value ("--x needs a value (N)"), an option given twice ("--x is given more than once"),
    // or a value the handler refused (its message).
    Result<std::vector<std::string>> parse(const std::vector<std::string>& args,
                                           Unknown unknown = Unknown::Refuse) const;

    // The error for an argument the command line has no place for.
    static Error unknownArgument(const std::string& arg);
    // Whether --help or -h is anywhere among the arguments: help wins over every other
    // option and over any mistake on the line.
    static bool asksForHelp(const std::vector<std::string>& args);

    // One line an option in the order declared: "  --size WxH    help", the help aligned.
    std::string help() const;

  private:
    std::vector<Option> _options;
};

}  // namespace quorbit::platform
