#include "json/Json.h"

namespace quorbit::json {

Json::Json() {
    setMaxDepth(kDefaultMaxDepth);
}

void Json::setMaxDepth(unsigned maxDepth) {
    JsonBase::setMaxDepth(maxDepth);
    _parser.setMaxDepth(maxDepth);
    _writer.setMaxDepth(maxDepth);
}

std::optional<Value> Json::objectWithString(std::optional<std::string_view> text,
                                            JsonErrorPtr* error) {
    return objectWithString(text, false, error);
}

std::optional<Value> Json::objectWithString(const char* text, JsonErrorPtr* error) {
    return objectWithString(text ? std::optional<std::string_view>(text) : std::nullopt, false,
                            error);
}

std::optional<Value> Json::fragmentWithString(std::optional<std::string_view> text,
                                              JsonErrorPtr* error) {
    return objectWithString(text, true, error);
}

std::optional<Value> Json::fragmentWithString(const char* text, JsonErrorPtr* error) {
    return objectWithString(text ? std::optional<std::string_view>(text) : std::nullopt, true,
                            error);
}

std::optional<Value> Json::objectWithString(std::optional<std::string_view> text, bool allowScalar,
                                            JsonErrorPtr* error) {
    std::optional<Value> value =
        allowScalar ? _parser.fragmentWithString(text) : _parser.objectWithString(text);
    if (!value) adoptTrace(_parser, error);
    return value;
}

void Json::adoptTrace(const JsonBase& from, JsonErrorPtr* error) {
    _errorTrace = from.errorTrace();
    if (error) *error = _errorTrace.empty() ? nullptr : _errorTrace.back();
}

}  // namespace quorbit::json
