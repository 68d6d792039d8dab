#include "platform/core/CommandLineParser.h"

#include <algorithm>
#include <set>

namespace quorbit::platform {
namespace {

// The column the help text starts in, as in the program's other help tables.
constexpr std::size_t kHelpColumn = 33;

bool isOption(const std::string& arg) {
    return !arg.empty() && arg.front() == '-';
}

}  // namespace

void CommandLineParser::add(Option option) {
    auto same = [&](const Option& o) { return o.name == option.name; };
    if (auto it = std::find_if(_options.begin(), _options.end(), same); it != _options.end())
        *it = std::move(option);
    else
        _options.push_back(std::move(option));
}

void CommandLineParser::addFlag(std::string name, std::string help, bool& flag) {
    add({std::move(name), {}, std::move(help), [&flag](const std::string&) {
             flag = true;
             return std::optional<std::string>();
         }});
}

void CommandLineParser::addValue(std::string name, std::string valueName, std::string help,
                                 std::optional<std::string>& value) {
    add({std::move(name), std::move(valueName), std::move(help), [&value](const std::string& v) {
             value = v;
             return std::optional<std::string>();
         }});
}

const CommandLineParser::Option* CommandLineParser::find(std::string_view name) const {
    for (const Option& option : _options) {
        if (option.name == name) return &option;
    }
    return nullptr;
}

Error CommandLineParser::unknownArgument(const std::string& arg) {
    return Error::make(CommandLineError::UnknownOption, "unknown argument '" + arg + "'");
}

bool CommandLineParser::asksForHelp(const std::vector<std::string>& args) {
    return std::any_of(args.begin(), args.end(),
                       [](const std::string& arg) { return arg == "--help" || arg == "-h"; });
}

Result<std::vector<std::string>> CommandLineParser::parse(const std::vector<std::string>& args,
                                                          Unknown unknown) const {
    std::vector<std::string> operands;
    std::set<std::string_view> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const Option* option = isOption(arg) ? find(arg) : nullptr;
        if (!option) {
            if (isOption(arg) && unknown == Unknown::Refuse) return unknownArgument(arg);
            operands.push_back(arg);
            continue;
        }
        if (!seen.insert(option->name).second)
            return Error::make(CommandLineError::Repeated, arg + " is given more than once");
        std::string value;
        if (option->takesValue()) {
            if (i + 1 >= args.size())
                return Error::make(CommandLineError::MissingValue,
                                   arg + " needs a value (" + option->valueName + ")");
            value = args[++i];
        }
        if (option->handler) {
            if (auto refused = option->handler(value))
                return Error::make(CommandLineError::BadValue, *refused);
        }
    }
    return operands;
}

std::string CommandLineParser::help() const {
    std::string text;
    for (const Option& option : _options) {
        std::string left = "  " + option.name;
        if (option.takesValue()) left += " " + option.valueName;
        left.resize(std::max(left.size() + 2, kHelpColumn), ' ');
        text += left + option.help + "\n";
    }
    return text;
}

}  // namespace quorbit::platform
