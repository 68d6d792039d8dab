#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorbit::json {

// The error domain of every JSON error.
inline constexpr const char* kJsonErrorDomain = "quorbit.json";

class JsonError;
using JsonErrorPtr = std::shared_ptr<const JsonError>;
// The errors of one operation, innermost cause first; each wraps the one before it. Empty
// when the operation succeeded or the trace was cleared.
using ErrorTrace = std::vector<JsonErrorPtr>;

// Where in a parsed text an error was found: the byte offset from the start of the text, and
// the same place as a 1-based line and column.
//
// A line ends at a line feed, at a carriage return and line feed together, or at a carriage
// return alone. Columns count characters (the code points of the UTF-8 text), not bytes: a
// two-byte e-acute before the failure moves the column by one, as does a tab.
struct TextPosition {
    std::size_t offset = 0;
    std::size_t line = 1;
    std::size_t column = 1;

    // The position of byte `offset` of `text` (at most text.size(): the end of the text).
    static TextPosition in(std::string_view text, std::size_t offset);

    friend bool operator==(const TextPosition&, const TextPosition&) = default;
};

// One error of the JSON layer: a code (see the table below), a readable description, the
// error it wraps, if any, and for the parser's errors the position in the text where the
// parse failed (every error of one failed parse carries the same position).
//
//   1  value cannot be written as JSON     7  nesting deeper than maxDepth
//   2  malformed number                    8  unknown escape in a string
//   3  unexpected character                9  trailing comma
//   4  top level not an object or array   10  text after the value
//   5  control character inside a string  11  input ended early
//   6  bad unicode escape                 12  no input
//  13  a string that is not valid UTF-8: "Invalid UTF-8 sequence starting with byte '0x%x'"
//      (the parser; the writer refuses such strings with code 1, "JSON serialisation not
//      supported for invalid UTF-8 text")
//
// Code 2 also answers a well-formed number that a Decimal cannot hold ("Failed creating
// decimal instance"), unless the parser's setOutOfRangeNumbersAsDoubles(true) is on: then
// such a number is kept as a double and parsing goes on (the settings store reads this way).
class JsonError {
  public:
    enum Code : unsigned {
        kUnsupported = 1,
        kBadNumber = 2,
        kUnexpectedCharacter = 3,
        kNotContainer = 4,
        kControlCharacter = 5,
        kBadUnicode = 6,
        kTooDeep = 7,
        kBadEscape = 8,
        kTrailingComma = 9,
        kGarbage = 10,
        kEndOfInput = 11,
        kNoInput = 12,
        kInvalidUtf8 = 13,
    };

    JsonError(unsigned code, std::shared_ptr<const std::string> description,
              JsonErrorPtr underlying, std::optional<TextPosition> position = std::nullopt);
    ~JsonError();
    JsonError(const JsonError&) = delete;
    JsonError& operator=(const JsonError&) = delete;

    std::string_view domain() const { return kJsonErrorDomain; }
    unsigned code() const { return _code; }
    const std::string& localizedDescription() const { return *_description; }
    // The error this one wraps: the one that was last in the trace when this one was added.
    const JsonErrorPtr& underlyingError() const { return _underlyingError; }
    // Where the text being parsed failed; empty for errors that are not about a text (the
    // writer's, and the parser's "Input was 'nil'").
    const std::optional<TextPosition>& position() const { return _position; }

  private:
    unsigned _code;
    std::shared_ptr<const std::string> _description;
    // Mutable so that a long chain can be taken apart link by link when it is destroyed.
    mutable JsonErrorPtr _underlyingError;
    std::optional<TextPosition> _position;
};

// The trace on one line: [6 "Missing hex digit in quad", 3 "Expected value while parsing
// array"]; the form the log lines of the conveniences use.
std::string describeTrace(const ErrorTrace& trace);

}  // namespace quorbit::json
