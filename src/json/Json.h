#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json/JsonBase.h"
#include "json/JsonParser.h"
#include "json/JsonWriter.h"
#include "json/Value.h"

namespace quorbit::json {

// One parser and one writer behind a single object. Its own errorTrace() is a copy of the
// trace of the last operation that failed: a later success leaves it as it was. Where an
// error out-parameter is given, a failure also stores the outermost error in it.
class Json : public JsonBase {
  public:
    Json();

    // Sets the limit on both the parser and the writer.
    void setMaxDepth(unsigned maxDepth) override;

    std::optional<Value> objectWithString(std::optional<std::string_view> text,
                                          JsonErrorPtr* error = nullptr);
    std::optional<Value> objectWithString(const char* text, JsonErrorPtr* error = nullptr);
    std::optional<Value> fragmentWithString(std::optional<std::string_view> text,
                                            JsonErrorPtr* error = nullptr);
    std::optional<Value> fragmentWithString(const char* text, JsonErrorPtr* error = nullptr);
    // The parser's fragment or object reading, by `allowScalar`.
    std::optional<Value> objectWithString(std::optional<std::string_view> text, bool allowScalar,
                                          JsonErrorPtr* error);

    bool sortKeys() const { return _writer.sortKeys(); }
    void setSortKeys(bool sortKeys) { _writer.setSortKeys(sortKeys); }
    bool humanReadable() const { return _writer.humanReadable(); }
    void setHumanReadable(bool humanReadable) { _writer.setHumanReadable(humanReadable); }

    template <typename T>
    std::optional<std::string> stringWithObject(const T& value, JsonErrorPtr* error = nullptr) {
        return stringWithObject(value, false, error);
    }
    template <typename T>
    std::optional<std::string> stringWithFragment(const T& value, JsonErrorPtr* error = nullptr) {
        return stringWithObject(value, true, error);
    }
    // The writer's fragment or object writing, by `allowScalar`.
    template <typename T>
    std::optional<std::string> stringWithObject(const T& value, bool allowScalar,
                                                JsonErrorPtr* error) {
        std::optional<std::string> text =
            allowScalar ? _writer.stringWithFragment(value) : _writer.stringWithObject(value);
        if (!text) adoptTrace(_writer, error);
        return text;
    }

  private:
    void adoptTrace(const JsonBase& from, JsonErrorPtr* error);

    JsonWriter _writer;
    JsonParser _parser;
};

}  // namespace quorbit::json
