// libFuzzer target for the JSON layer. Whatever parses must be written (compact, and laid
// out with sorted keys), read back equal, and written again to the same text; whatever
// fails must leave a well-formed trace.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "json/JsonParser.h"
#include "json/JsonWriter.h"

namespace {

using quorbit::json::ErrorTrace;
using quorbit::json::JsonParser;
using quorbit::json::JsonWriter;
using quorbit::json::Value;

void check(bool condition) {
    if (!condition) std::abort();
}

void checkTrace(const ErrorTrace& trace) {
    check(!trace.empty());
    for (std::size_t i = 0; i < trace.size(); ++i) {
        check(trace[i]->code() >= 1 && trace[i]->code() <= 13);
        check(!trace[i]->localizedDescription().empty());
        check(trace[i]->underlyingError() == (i == 0 ? nullptr : trace[i - 1]));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    JsonParser parser;
    parser.setMaxDepth(0);
    std::optional<Value> value = parser.fragmentWithString(text);
    if (!value) {
        checkTrace(parser.errorTrace());
        return 0;
    }
    check(parser.errorTrace().empty());
    check(parser.objectWithString(text).has_value() == (value->isArray() || value->isObject()));

    JsonWriter compact;
    compact.setMaxDepth(0);
    std::optional<std::string> written = compact.stringWithFragment(*value);
    check(written.has_value());
    std::optional<Value> back = parser.fragmentWithString(*written);
    check(back.has_value());
    check(*back == *value);
    check(compact.stringWithFragment(*back) == written);

    JsonWriter pretty;
    pretty.setMaxDepth(0);
    pretty.setSortKeys(true);
    pretty.setHumanReadable(true);
    std::optional<std::string> laidOut = pretty.stringWithFragment(*value);
    check(laidOut.has_value());
    std::optional<Value> again = parser.fragmentWithString(*laidOut);
    check(again.has_value());
    check(*again == *value);
    return 0;
}
