#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "json/JsonError.h"

namespace quorbit::json {

// What the parser, the writer and the facade share: the error trace of the last operation
// and the nesting limit.
class JsonBase {
  public:
    static constexpr unsigned kDefaultMaxDepth = 512;

    JsonBase() = default;
    virtual ~JsonBase() = default;
    JsonBase(const JsonBase&) = delete;
    JsonBase& operator=(const JsonBase&) = delete;

    // The errors of the last failed operation, innermost cause first; empty after a success
    // or clearErrorTrace().
    const ErrorTrace& errorTrace() const { return _errorTrace; }
    void clearErrorTrace() { _errorTrace.clear(); }

    // The deepest nesting of arrays and objects accepted; 0 means no limit.
    unsigned maxDepth() const { return _maxDepth; }
    virtual void setMaxDepth(unsigned maxDepth) { _maxDepth = maxDepth; }

    // Appends an error that wraps the current last error of the trace, with the place in the
    // text where it happened when there is one.
    void addErrorWithCode(unsigned code, std::string description,
                          std::optional<TextPosition> position = std::nullopt);
    void addErrorWithCode(unsigned code, const std::shared_ptr<const std::string>& description,
                          std::optional<TextPosition> position = std::nullopt);

  protected:
    ErrorTrace _errorTrace;
    // Current nesting during one operation.
    std::uint32_t depth = 0;

  private:
    unsigned _maxDepth = kDefaultMaxDepth;
};

}  // namespace quorbit::json
