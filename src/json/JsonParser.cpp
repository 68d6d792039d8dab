#include "json/JsonParser.h"

#include <charconv>
#include <cstdio>
#include <limits>

#include "json/detail/Scan.h"

namespace quorbit::json {

namespace {

using detail::skipWhitespace;

// Zero bytes after the text: the first ends the input, the rest let block scans read on.
constexpr std::size_t kPadding = 64;

bool isDigit(char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

template <typename T>
void releaseIfLarge(std::vector<T>& buffer) {
    if (buffer.capacity() * sizeof(T) > (std::size_t(4) << 20)) std::vector<T>().swap(buffer);
}

// The first byte at `p` that differs from `expected`.
const char* mismatch(const char* p, std::string_view expected) {
    std::size_t i = 0;
    while (i < expected.size() && p[i] == expected[i])
        ++i;
    return p + i;
}

std::string withByte(const char* format, unsigned char byte) {
    char text[96];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(byte));
    return text;
}

// The wrapping message every enclosing array adds; shared because deep input repeats it.
const std::shared_ptr<const std::string>& expectedValueInArray() {
    static const auto message =
        std::make_shared<const std::string>("Expected value while parsing array");
    return message;
}

// Two keys are equal when their 16 bytes are (short keys are stored inline and
// zero-padded), or when both are long and have the same text.
bool sameKey(const Value& a, const Value& b, std::uint64_t a0, std::uint64_t a1) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&b);
    std::uint64_t b0, b1;
    std::memcpy(&b0, bytes, 8);
    std::memcpy(&b1, bytes + 8, 8);
    if (a0 == b0 && a1 == b1) return true;
    if (a1 != b1) {
        // Different lengths or tags; long keys of equal length share everything but the
        // pointer in the first word.
        return false;
    }
    return a.asString() == b.asString();
}

std::uint64_t mixBits(std::uint64_t h) {
    h ^= h >> 32;
    h *= 0xd6e8feb86659fd93ull;
    return h ^ (h >> 32);
}

// A hash that agrees with sameKey: short keys by their 16 bytes (words `w0` and `w1`, read
// already), long ones by their text, eight bytes at a time.
std::uint64_t keyHash(std::string_view text, std::uint64_t w0, std::uint64_t w1) {
    if (text.size() <= 14) return mixBits(w0 * 0x9e3779b97f4a7c15ull ^ w1);  // stored inline
    std::uint64_t hash = text.size();
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, text.data() + i, 8);
        hash = (hash ^ chunk) * 0x9e3779b97f4a7c15ull;
        hash ^= hash >> 29;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, text.data() + i, text.size() - i);
    return mixBits((hash ^ tail) * 0x9e3779b97f4a7c15ull);
}

}  // namespace

JsonParser::JsonParser() = default;
JsonParser::~JsonParser() = default;

std::optional<Value> JsonParser::fragmentWithString(const char* text) {
    if (!text) return fragmentWithString(std::optional<std::string_view>());
    return fragmentWithString(std::optional<std::string_view>(text));
}

std::optional<Value> JsonParser::objectWithString(const char* text) {
    if (!text) return objectWithString(std::optional<std::string_view>());
    return objectWithString(std::optional<std::string_view>(text));
}

std::optional<Value> JsonParser::fragmentWithString(std::optional<std::string_view> text) {
    clearErrorTrace();
    _failure.reset();
    if (!text) {
        addErrorWithCode(JsonError::kNoInput, "Input was 'nil'");
        return std::nullopt;
    }
    _length = text->size();
    _text.clear();
    _text.reserve(text->size() + kPadding);
    _text.insert(_text.end(), text->begin(), text->end());
    _text.insert(_text.end(), kPadding, '\0');
    Value result;
    bool ok = parse(result);
    _values.clear();
    _frames.clear();
    // The buffers are kept for the next parse, unless one input made them very large.
    releaseIfLarge(_text);
    releaseIfLarge(_values);
    releaseIfLarge(_frames);
    if (!ok) return std::nullopt;
    return result;
}

std::optional<Value> JsonParser::objectWithString(std::optional<std::string_view> text) {
    std::optional<Value> value = fragmentWithString(text);
    if (!value) return std::nullopt;
    if (!value->isArray() && !value->isObject()) {
        // The position of the value itself: after any white space, which is ASCII.
        std::size_t start = 0;
        while (start < text->size() &&
               detail::isWhitespace(static_cast<unsigned char>((*text)[start])))
            ++start;
        addErrorWithCode(JsonError::kNotContainer, "Valid fragment, but not JSON",
                         TextPosition::in(*text, start));
        return std::nullopt;
    }
    return value;
}

void JsonParser::addError(unsigned code, const char* message, const char* at) {
    addError(code, std::string(message), at);
}

void JsonParser::addError(unsigned code, std::string message, const char* at) {
    if (!_failure) {
        _failure = TextPosition::in(std::string_view(_text.data(), _length),
                                    static_cast<std::size_t>(at - _text.data()));
    }
    addErrorWithCode(code, std::move(message), _failure);
}

void JsonParser::unwind(std::size_t count) {
    for (std::size_t i = count; i-- > 0;) {
        if (!_frames[i].isObject) {
            addErrorWithCode(JsonError::kUnexpectedCharacter, expectedValueInArray(), _failure);
            continue;
        }
        // The key being read is the last entry of this container's range.
        std::size_t end = i + 1 < _frames.size() ? _frames[i + 1].base : _values.size();
        addErrorWithCode(
            JsonError::kUnexpectedCharacter,
            "Object value expected for key: " + std::string(_values[end - 1].asString()), _failure);
    }
}

// The parser is a loop over the steps of a state table, each a function of its own:
//
//   Value      a value is due: a scalar is read whole (a string by scanString), a '{' or '['
//              opens a container           -> Separator (Done at the top), Member or Element
//   Separator  after a value inside a container: the comma, if any -> Member or Element
//   Element    inside an array, where an element or the ']' is due -> Value or, closed,
//                                                                     Separator or Done
//   Member     inside an object, where a key or the '}' is due: the key and its ':'
//                                                    -> Value or, closed, Separator or Done
//   Done       the top-level value is complete: only white space may follow
//   Failed     an error was added; the open containers add theirs
//
// Nesting is the explicit stack _frames (with the elements on _values), never the call
// stack. The steps are inlined into the loop, so that each step's answer becomes a direct
// jump, as fast as one function of labels.
bool JsonParser::parse(Value& result) {
    depth = 0;
    Value value;
    Cursor c;
    c.p = _text.data();
    c.top = &value;
    // The top-level value comes first: a scalar is the whole document, and a container starts
    // the loop. Inside the loop every value has a container, so the separator step need not
    // ask whether there is one.
    Step step = valueStep(c);
    if (step == Step::Separator) step = Step::Done;
    for (;;) {
        switch (step) {
            case Step::Value:
                step = valueStep(c);
                break;
            case Step::Separator:
                step = separatorStep(c);
                break;
            case Step::Element:
                step = elementStep(c);
                break;
            case Step::Member:
                step = memberStep(c);
                break;
            case Step::Done:
                return finishDocument(c, result);
            case Step::Failed:
                // A value that failed inside a container has its place on _values (an error
                // of the value step is wrapped by every open container); it must not stand in
                // for the key it belongs to.
                if (c.failedFrames == _frames.size() && !_frames.empty()) _values.pop_back();
                unwind(c.failedFrames);
                return false;
        }
    }
}

[[gnu::always_inline]] inline JsonParser::Step JsonParser::failed(Cursor& c, std::size_t frames) {
    c.failedFrames = frames;
    return Step::Failed;
}

[[gnu::always_inline]] inline JsonParser::Step JsonParser::valueStep(Cursor& c) {
    const char* p = skipWhitespace(c.p);
    // Scalars are made where they are kept: a value built aside and moved in is read back
    // before its bytes have settled, which stalls.
    Value* slot = _frames.empty() ? c.top : &_values.emplace_back();
    switch (*p++) {
        case '{':
        case '[': {
            bool isObject = p[-1] == '{';
            c.p = p;
            if (maxDepth() != 0 && _frames.size() + 1 > maxDepth()) {
                addError(JsonError::kTooDeep, "Nested too deep", p - 1);
                return failed(c, _frames.size());
            }
            if (slot != c.top) _values.pop_back();  // the container is kept when it closes
            _frames.push_back({_values.size(), isObject});
            depth = static_cast<std::uint32_t>(_frames.size());
            return isObject ? Step::Member : Step::Element;
        }
        case '"':
            if (!scanString(p, *slot)) return failed(c, _frames.size());
            c.p = p;
            return Step::Separator;
        case 't':
            if (p[0] != 'r' || p[1] != 'u' || p[2] != 'e') {
                addError(JsonError::kUnexpectedCharacter, "Expected 'true'", mismatch(p, "rue"));
                return failed(c, _frames.size());
            }
            c.p = p + 3;
            slot->setTag(Value::kTrue);
            return Step::Separator;
        case 'f':
            if (p[0] != 'a' || p[1] != 'l' || p[2] != 's' || p[3] != 'e') {
                addError(JsonError::kUnexpectedCharacter, "Expected 'false'", mismatch(p, "alse"));
                return failed(c, _frames.size());
            }
            c.p = p + 4;
            slot->setTag(Value::kFalse);
            return Step::Separator;
        case 'n':
            if (p[0] != 'u' || p[1] != 'l' || p[2] != 'l') {
                addError(JsonError::kUnexpectedCharacter, "Expected 'null'", mismatch(p, "ull"));
                return failed(c, _frames.size());
            }
            c.p = p + 3;
            return Step::Separator;
        case '-':
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9':
            --p;
            if (!scanNumber(p, *slot)) return failed(c, _frames.size());
            c.p = p;
            return Step::Separator;
        case '+':
            addError(JsonError::kBadNumber, "Leading + disallowed in number", p - 1);
            return failed(c, _frames.size());
        case '\0':
            addError(JsonError::kEndOfInput, "Unexpected end of string", p - 1);
            return failed(c, _frames.size());
        default:
            addError(JsonError::kUnexpectedCharacter, "Unrecognised leading character", p - 1);
            return failed(c, _frames.size());
    }
}

[[gnu::always_inline]] inline JsonParser::Step JsonParser::separatorStep(Cursor& c) {
    const char* p = skipWhitespace(c.p);
    // Objects and arrays apart, so that each way out is a jump of its own.
    if (_frames.back().isObject) {
        if (*p == ',') {
            p = skipWhitespace(p + 1);
            if (*p == '}') {
                addError(JsonError::kTrailingComma, "Trailing comma disallowed in object", p);
                return failed(c, _frames.size() - 1);
            }
        }
        c.p = p;
        return Step::Member;
    }
    if (*p == ',') {
        p = skipWhitespace(p + 1);
        if (*p == ']') {
            addError(JsonError::kTrailingComma, "Trailing comma disallowed in array", p);
            return failed(c, _frames.size() - 1);
        }
    }
    c.p = p;
    return Step::Element;
}

[[gnu::always_inline]] inline JsonParser::Step JsonParser::elementStep(Cursor& c) {
    if (*c.p == '\0') {
        addError(JsonError::kEndOfInput, "End of input while parsing array", c.p);
        return failed(c, _frames.size() - 1);
    }
    c.p = skipWhitespace(c.p);
    if (*c.p != ']') return Step::Value;
    ++c.p;
    // The array is made where its first element was, its place in the enclosing one.
    std::size_t base = _frames.back().base;
    std::size_t count = _values.size() - base;
    _frames.pop_back();
    depth = static_cast<std::uint32_t>(_frames.size());
    if (_frames.empty()) {
        Value::adoptArray(*c.top, _values.data() + base, count);
        _values.resize(base);
        return Step::Done;
    }
    if (count == 0) _values.emplace_back();
    Value::adoptArray(_values[base], _values.data() + base, count);
    _values.resize(base + 1);
    return Step::Separator;
}

[[gnu::always_inline]] inline JsonParser::Step JsonParser::memberStep(Cursor& c) {
    if (*c.p == '\0') {
        addError(JsonError::kEndOfInput, "End of input while parsing object", c.p);
        return failed(c, _frames.size() - 1);
    }
    const char* p = skipWhitespace(c.p);
    if (*p == '}') {
        c.p = p + 1;
        std::size_t base = _frames.back().base;
        std::size_t count = finishObject(base);
        _frames.pop_back();
        depth = static_cast<std::uint32_t>(_frames.size());
        if (_frames.empty()) {
            Value::adoptObject(*c.top, _values.data() + base, count);
            _values.resize(base);
            return Step::Done;
        }
        if (count == 0) _values.emplace_back();
        Value::adoptObject(_values[base], _values.data() + base, count);
        _values.resize(base + 1);
        return Step::Separator;
    }
    if (*p != '"') {
        addError(JsonError::kUnexpectedCharacter, "Object key string expected", p);
        return failed(c, _frames.size() - 1);
    }
    ++p;
    if (!scanString(p, _values.emplace_back())) {
        addError(JsonError::kUnexpectedCharacter, "Object key string expected", p);
        return failed(c, _frames.size() - 1);
    }
    p = skipWhitespace(p);
    if (*p != ':') {
        addError(JsonError::kUnexpectedCharacter, "Expected ':' separating key and value", p);
        return failed(c, _frames.size() - 1);
    }
    c.p = p + 1;
    return Step::Value;
}

[[gnu::always_inline]] inline bool JsonParser::finishDocument(Cursor& c, Value& result) {
    const char* p = skipWhitespace(c.p);
    if (*p != '\0') {
        addError(JsonError::kGarbage, "Garbage after JSON", p);
        return false;
    }
    result = std::move(*c.top);
    return true;
}

// Collapses repeated keys of the object whose keys and values start at `base`: the first
// occurrence keeps its place and takes the last value. Answers the number of members left.
std::size_t JsonParser::finishObject(std::size_t base) {
    Value* kv = _values.data() + base;
    std::size_t count = (_values.size() - base) / 2;
    if (count < 2) return count;
    auto words = [](const Value& key, std::uint64_t& w0, std::uint64_t& w1) {
        std::memcpy(&w0, reinterpret_cast<const unsigned char*>(&key), 8);
        std::memcpy(&w1, reinterpret_cast<const unsigned char*>(&key) + 8, 8);
    };
    std::size_t kept = 1;
    if (count <= 16) {
        for (std::size_t j = 1; j < count; ++j) {
            std::uint64_t w0, w1;
            words(kv[2 * j], w0, w1);
            std::size_t i = 0;
            while (i < kept && !sameKey(kv[2 * j], kv[2 * i], w0, w1))
                ++i;
            if (i < kept) {
                kv[2 * i + 1] = std::move(kv[2 * j + 1]);
            } else {
                if (kept != j) {
                    kv[2 * kept] = std::move(kv[2 * j]);
                    kv[2 * kept + 1] = std::move(kv[2 * j + 1]);
                }
                ++kept;
            }
        }
    } else {
        // Open addressing over the kept members; slots hold index + 1.
        std::size_t capacity = 64;
        while (capacity < 2 * std::size_t(count))
            capacity *= 2;
        _slots.assign(capacity, 0);
        std::size_t mask = capacity - 1;
        kept = 0;
        for (std::size_t j = 0; j < count; ++j) {
            std::uint64_t w0, w1;
            words(kv[2 * j], w0, w1);
            std::size_t slot = keyHash(kv[2 * j].asString(), w0, w1) & mask;
            for (;;) {
                std::size_t entry = _slots[slot];
                if (entry == 0) {
                    if (kept != j) {
                        kv[2 * kept] = std::move(kv[2 * j]);
                        kv[2 * kept + 1] = std::move(kv[2 * j + 1]);
                    }
                    _slots[slot] = static_cast<std::uint32_t>(++kept);
                    break;
                }
                if (sameKey(kv[2 * j], kv[2 * (entry - 1)], w0, w1)) {
                    kv[2 * (entry - 1) + 1] = std::move(kv[2 * j + 1]);
                    break;
                }
                slot = (slot + 1) & mask;
            }
        }
    }
    _values.resize(base + 2 * kept);
    return kept;
}

bool JsonParser::scanString(const char*& p, Value& out) {
    const char* start = p;
    for (;;) {
        p = detail::findStringSpecial(p);
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"') {
            std::size_t length = static_cast<std::size_t>(p - start);
#if defined(__SSE2__)
            if (length <= Value::kShortStringCapacity) {
                // The text is padded, so sixteen bytes can be read from its start: the
                // string's bytes, zeros, the length and the tag make the value in one store.
                const __m128i index =
                    _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
                __m128i keep = _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(length)), index);
                __m128i bytes =
                    _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(start)), keep);
                bytes = _mm_insert_epi16(bytes,
                                         static_cast<int>(length | (Value::kShortString << 8)), 7);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out._bytes), bytes);
                ++p;
                return true;
            }
#endif
            out.initString(start, length);
            ++p;
            return true;
        }
        if (c < 0x80) break;
        do {
            int length = detail::utf8SequenceLength(reinterpret_cast<const unsigned char*>(p));
            if (length == 0) {
                addError(JsonError::kInvalidUtf8,
                         withByte("Invalid UTF-8 sequence starting with byte '0x%x'", c), p);
                return false;
            }
            p += length;
            c = static_cast<unsigned char>(*p);
        } while (c >= 0x80);
    }
    return scanEscapedString(p, start, out);
}

bool JsonParser::scanEscapedString(const char*& p, const char* start, Value& out) {
    _decoded.assign(start, p);
    for (;;) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"') {
            ++p;
            out.initString(_decoded.data(), _decoded.size());
            return true;
        }
        if (c == '\\') {
            char escape = p[1];
            p += 2;
            switch (escape) {
                case '"':
                case '\\':
                case '/':
                    _decoded += escape;
                    break;
                case 'b':
                    _decoded += '\b';
                    break;
                case 'f':
                    _decoded += '\f';
                    break;
                case 'n':
                    _decoded += '\n';
                    break;
                case 'r':
                    _decoded += '\r';
                    break;
                case 't':
                    _decoded += '\t';
                    break;
                case 'u': {
                    std::uint32_t codePoint;
                    if (!scanUnicodeChar(p, codePoint)) {
                        addError(JsonError::kBadUnicode, "Broken unicode character", p);
                        return false;
                    }
                    char utf8[4];
                    _decoded.append(utf8, detail::encodeUtf8(utf8, codePoint));
                    break;
                }
                default:
                    addError(JsonError::kBadEscape,
                             withByte("Illegal escape sequence '0x%x'", escape), p - 1);
                    return false;
            }
            continue;
        }
        if (c == '\0') {
            addError(JsonError::kEndOfInput, "Unexpected EOF while parsing string", p);
            return false;
        }
        if (c < 0x20) {
            addError(JsonError::kControlCharacter,
                     withByte("Unescaped control character '0x%x'", c), p);
            return false;
        }
        // Plain content up to the next special byte, with its UTF-8 checked.
        const char* run = p;
        for (;;) {
            p = detail::findStringSpecial(p);
            unsigned char high = static_cast<unsigned char>(*p);
            if (high < 0x80) break;
            int length = detail::utf8SequenceLength(reinterpret_cast<const unsigned char*>(p));
            if (length == 0) {
                addError(JsonError::kInvalidUtf8,
                         withByte("Invalid UTF-8 sequence starting with byte '0x%x'", high), p);
                return false;
            }
            p += length;
        }
        _decoded.append(run, p);
    }
}

bool JsonParser::scanHexQuad(const char*& p, std::uint32_t& quad) {
    quad = 0;
    for (int i = 0; i < 4; ++i) {
        int digit = hexValue(*p++);
        if (digit < 0) {
            addError(JsonError::kBadUnicode, "Missing hex digit in quad", p - 1);
            return false;
        }
        quad = quad * 16 + static_cast<std::uint32_t>(digit);
    }
    return true;
}

bool JsonParser::scanUnicodeChar(const char*& p, std::uint32_t& codePoint) {
    // `p` is after the backslash and 'u'; a pair that does not form a character is reported at the
    // backslash of the escape at fault.
    const char* escape = p - 2;
    std::uint32_t high;
    if (!scanHexQuad(p, high)) {
        addError(JsonError::kBadUnicode, "Missing hex quad", p);
        return false;
    }
    if (high < 0xD800 || high >= 0xE000) {
        codePoint = high;
        return true;
    }
    if (high >= 0xDC00) {
        addError(JsonError::kBadUnicode, "Invalid high character in surrogate pair", escape);
        return false;
    }
    const char* lowEscape = p;
    if (p[0] != '\\' || p[1] != 'u') {
        addError(JsonError::kBadUnicode, "Missing low character in surrogate pair",
                 p[0] != '\\' ? p : p + 1);
        return false;
    }
    p += 2;
    std::uint32_t low;
    if (!scanHexQuad(p, low)) {
        addError(JsonError::kBadUnicode, "Missing low character in surrogate pair", p);
        return false;
    }
    if (low < 0xDC00 || low > 0xDFFF) {
        addError(JsonError::kBadUnicode, "Invalid low surrogate char", lowEscape);
        return false;
    }
    codePoint = 0x10000 + (high - 0xD800) * 0x400 + (low - 0xDC00);
    return true;
}

bool JsonParser::scanNumber(const char*& p, Value& out) {
    const char* start = p;
    bool negative = *p == '-';
    if (negative) ++p;
    const char* digits = p;
    std::uint64_t significand = 0;
    if (*p == '0') {
        ++p;
        if (isDigit(*p)) {
            addError(JsonError::kBadNumber, "Leading 0 disallowed in number", p);
            return false;
        }
    } else {
        if (!isDigit(*p)) {
            addError(JsonError::kBadNumber, "No digits after initial minus", p);
            return false;
        }
        while (isDigit(*p))
            significand = significand * 10 + static_cast<unsigned>(*p++ - '0');
    }
    std::size_t digitCount = p - digits;
    std::int64_t fractionDigits = 0;
    if (*p == '.') {
        ++p;
        if (!isDigit(*p)) {
            addError(JsonError::kBadNumber, "No digits after decimal point", p);
            return false;
        }
        const char* fraction = p;
        while (isDigit(*p))
            significand = significand * 10 + static_cast<unsigned>(*p++ - '0');
        fractionDigits = p - fraction;
        digitCount += fractionDigits;
    }
    std::int64_t exponent = 0;
    if ((*p | 0x20) == 'e') {
        ++p;
        bool negativeExponent = false;
        if (*p == '+' || *p == '-') negativeExponent = *p++ == '-';
        if (!isDigit(*p)) {
            addError(JsonError::kBadNumber, "No digits after exponent", p);
            return false;
        }
        while (isDigit(*p)) {
            // Saturates; any exponent this large is out of range.
            if (exponent < 1'000'000'000) exponent = exponent * 10 + (*p - '0');
            ++p;
        }
        if (negativeExponent) exponent = -exponent;
    }
    if (digitCount <= 19) {
        // The digits fit 64 bits exactly.
        if (significand == 0) {
            out = Value(Decimal());
            return true;
        }
        exponent -= fractionDigits;
        while (significand % 10 == 0) {
            significand /= 10;
            ++exponent;
        }
        if (exponent >= Decimal::kMinExponent && exponent <= Decimal::kMaxExponent) {
            out.setSmallDecimal(negative, significand, static_cast<int>(exponent));
            return true;
        }
    } else if (auto decimal = Decimal::fromString(std::string_view(start, p - start))) {
        out = Value(*decimal);
        return true;
    }
    if (_outOfRangeAsDouble) {
        out = Value(nearestDouble(std::string_view(start, p - start)));
        return true;
    }
    addError(JsonError::kBadNumber, "Failed creating decimal instance", start);
    return false;
}

double JsonParser::nearestDouble(std::string_view number) {
    double value = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc()) return value;
    // Out of the double range: the power of ten of the first significant digit tells an
    // overflow from an underflow. The text is a well-formed JSON number.
    bool negative = number.front() == '-';
    std::size_t i = negative ? 1 : 0;
    std::int64_t order = 0;
    if (number[i] != '0') {
        while (i < number.size() && number[i] >= '0' && number[i] <= '9') {
            ++order;
            ++i;
        }
        --order;
    } else if (++i < number.size() && number[i] == '.') {
        for (++i, order = -1; i < number.size() && number[i] == '0'; ++i)
            --order;
    }
    while (i < number.size() && (number[i] | 0x20) != 'e')
        ++i;
    std::int64_t exponent = 0;
    if (i < number.size()) {
        bool negativeExponent = number[i + 1] == '-';
        for (++i; i < number.size(); ++i) {
            if (number[i] >= '0' && number[i] <= '9' && exponent < 1'000'000'000)
                exponent = exponent * 10 + (number[i] - '0');
        }
        if (negativeExponent) exponent = -exponent;
    }
    if (order + exponent >= 0) {
        return negative ? -std::numeric_limits<double>::max() : std::numeric_limits<double>::max();
    }
    return 0.0;
}

}  // namespace quorbit::json
