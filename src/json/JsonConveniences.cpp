#include "json/JsonConveniences.h"

namespace quorbit::json {

std::optional<Value> JSONValue(std::string_view text) {
    JsonParser parser;
    std::optional<Value> value = parser.objectWithString(text);
    if (!value) {
        JsonLog::write("-JSONValue failed. Error trace is: " + describeTrace(parser.errorTrace()));
    }
    return value;
}

std::optional<Value> JSONFragmentValue(std::string_view text) {
    JsonParser parser;
    std::optional<Value> value = parser.fragmentWithString(text);
    if (!value) {
        JsonLog::write("-JSONFragmentValue failed. Error trace is: " +
                       describeTrace(parser.errorTrace()));
    }
    return value;
}

}  // namespace quorbit::json
