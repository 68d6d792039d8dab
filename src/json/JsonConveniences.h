#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json/JsonLog.h"
#include "json/JsonParser.h"
#include "json/JsonWriter.h"
#include "json/Value.h"

// One-call reading and writing with a fresh parser or writer. Failures answer empty and
// write the error trace to JsonLog.
namespace quorbit::json {

// An object or an array; logs "-JSONValue failed. Error trace is: TRACE" on failure.
std::optional<Value> JSONValue(std::string_view text);
// Any value; logs "-JSONFragmentValue failed. Error trace is: TRACE" on failure.
std::optional<Value> JSONFragmentValue(std::string_view text);

// Compact text of an object or an array; logs "-JSONRepresentation failed. Error trace is:
// TRACE" on failure.
template <typename T>
std::optional<std::string> JSONRepresentation(const T& value) {
    JsonWriter writer;
    std::optional<std::string> text = writer.stringWithObject(value);
    if (!text) {
        JsonLog::write("-JSONRepresentation failed. Error trace is: " +
                       describeTrace(writer.errorTrace()));
    }
    return text;
}

// Compact text of any value; logs "-JSONFragment failed. Error trace is: TRACE" on failure.
template <typename T>
std::optional<std::string> JSONFragment(const T& value) {
    JsonWriter writer;
    std::optional<std::string> text = writer.stringWithFragment(value);
    if (!text) {
        JsonLog::write("-JSONFragment failed. Error trace is: " +
                       describeTrace(writer.errorTrace()));
    }
    return text;
}

}  // namespace quorbit::json
