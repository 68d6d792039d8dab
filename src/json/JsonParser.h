#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/JsonBase.h"
#include "json/Value.h"

namespace quorbit::json {

// Reads JSON text into a Value.
//
// The grammar is the strict one (no leading '+' or zeros in numbers, no trailing commas, no
// raw control characters in strings, only the standard escapes) with three leniencies: the
// comma between two elements or members may be missing, vertical tab and form feed count as
// white space, and a NUL byte ends the input. A key that repeats keeps its first place and
// its last value. Numbers become exact Decimals; one that a Decimal cannot hold fails with
// code 2, unless setOutOfRangeNumbersAsDoubles(true) keeps it as a double (see JsonError.h).
//
// On failure the answer is empty and errorTrace() holds the reasons, innermost first: each
// enclosing array adds "Expected value while parsing array" (code 3) and each enclosing
// object "Object value expected for key: KEY" (code 3). Text that is not valid UTF-8 inside
// a string fails with code 13 "Invalid UTF-8 sequence starting with byte '0x%x'"; outside
// strings such bytes are simply unexpected characters.
//
// Every error of a failed parse carries the position where the text stopped being JSON (see
// TextPosition): the first byte that cannot continue the document, or the end of the text
// where it ended early. Three kinds point at the start of what is at fault instead: a number
// a Decimal cannot hold at its first byte, a surrogate escape that does not pair at the
// backslash of the escape at fault, and code 4 at the value that is not a container.
//
// Nesting is followed with an explicit stack, so neither maxDepth() nor maxDepth() 0 (no
// limit) lets deep input exhaust the call stack. A parser is reusable and keeps its working
// buffers between calls; one thread at a time.
class JsonParser : public JsonBase {
  public:
    JsonParser();
    ~JsonParser() override;

    // Any single value. Empty text, or no text at all (nullopt or a null pointer), fails.
    std::optional<Value> fragmentWithString(std::optional<std::string_view> text);
    std::optional<Value> fragmentWithString(const char* text);
    // Only an object or an array at the top level.
    std::optional<Value> objectWithString(std::optional<std::string_view> text);
    std::optional<Value> objectWithString(const char* text);

    // Off by default. When on, a number outside the Decimal range (more than 38 significant
    // digits, or an exponent beyond -128..127: 1e200, 5e-324) becomes the nearest double
    // instead of failing; beyond the double range it becomes the largest finite double of its
    // sign, and below it zero, so that whatever is read can be written again.
    bool outOfRangeNumbersAsDoubles() const { return _outOfRangeAsDouble; }
    void setOutOfRangeNumbersAsDoubles(bool on) { _outOfRangeAsDouble = on; }

  private:
    struct Frame {
        std::size_t base;  // where the container's elements start on _values
        bool isObject;
    };

    // The steps of parse() (see JsonParser.cpp): each reads on from the cursor and answers
    // the step that follows.
    enum class Step : unsigned char { Value, Separator, Element, Member, Done, Failed };
    struct Cursor {
        const char* p = nullptr;
        // The top-level value: a scalar, or the outermost container once closed. It lies outside
        // the cursor, and the scanners read through a copy of p, so that nothing takes the cursor's
        // address and its fields stay in registers.
        Value* top = nullptr;
        std::size_t failedFrames = 0;  // open containers that wrap the error being reported
    };

    bool parse(Value& result);
    Step valueStep(Cursor& c);
    Step separatorStep(Cursor& c);
    Step elementStep(Cursor& c);
    Step memberStep(Cursor& c);
    bool finishDocument(Cursor& c, Value& result);
    // Step::Failed, with the error wrapped by the innermost `frames` open containers.
    static Step failed(Cursor& c, std::size_t frames);
    // Adds an error found at `at` in _text; the first error of a parse fixes the position
    // that every error of the trace carries.
    void addError(unsigned code, const char* message, const char* at);
    void addError(unsigned code, std::string message, const char* at);
    // Adds the errors of the open containers below `count`, innermost first.
    void unwind(std::size_t count);
    std::size_t finishObject(std::size_t base);
    // The scanners make their value in `out`, which is null: a fresh place on _values.
    bool scanString(const char*& p, Value& out);
    bool scanEscapedString(const char*& p, const char* start, Value& out);
    bool scanUnicodeChar(const char*& p, std::uint32_t& codePoint);
    bool scanHexQuad(const char*& p, std::uint32_t& quad);
    bool scanNumber(const char*& p, Value& out);
    static double nearestDouble(std::string_view number);

    // The text being parsed, followed by a 0 byte and padding.
    std::vector<char> _text;
    std::size_t _length = 0;  // of the text, without the padding
    std::optional<TextPosition> _failure;
    // Elements of the open containers: values for arrays, key and value for objects.
    std::vector<Value> _values;
    std::vector<Frame> _frames;
    std::string _decoded;               // a string with escapes, while it is decoded
    std::vector<std::uint32_t> _slots;  // hash table for repeated keys in large objects
    bool _outOfRangeAsDouble = false;
};

}  // namespace quorbit::json
