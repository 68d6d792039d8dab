#include "json/JsonWriter.h"

#include <cxxabi.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "json/detail/DigitWriter.h"
#include "json/detail/Scan.h"

namespace quorbit::json {

namespace detail {

std::string readableTypeName(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(type.name());
}

}  // namespace detail

namespace {

// Output that outgrows this is not kept as the starting size of the next one.
constexpr std::size_t kMaxSizeHint = std::size_t(4) << 20;

// Room asked for beyond what a string needs, so that blocks of sixteen bytes can be stored
// whole and cut short afterwards.
constexpr std::size_t kBlockSlack = 16;

// The number of decimal digits of a nonzero value.
int digitCount(std::uint64_t value) {
    static constexpr std::uint64_t kPowers[20] = {1ull,
                                                  10ull,
                                                  100ull,
                                                  1000ull,
                                                  10000ull,
                                                  100000ull,
                                                  1000000ull,
                                                  10000000ull,
                                                  100000000ull,
                                                  1000000000ull,
                                                  10000000000ull,
                                                  100000000000ull,
                                                  1000000000000ull,
                                                  10000000000000ull,
                                                  100000000000000ull,
                                                  1000000000000000ull,
                                                  10000000000000000ull,
                                                  100000000000000000ull,
                                                  1000000000000000000ull,
                                                  10000000000000000000ull};
    // log10 from log2: 1233 / 4096 is just above log10(2).
    int guess = ((64 - __builtin_clzll(value | 1)) * 1233) >> 12;
    return guess + (value >= kPowers[guess]);
}

// Writes the escape of an ASCII byte that needs one and returns the end.
char* writeEscape(char* out, unsigned char c) {
    // The characters with a two-character escape, and the letter of each.
    static constexpr char kShort[] = "\"\\\t\n\r\b\f";
    static constexpr char kLetter[] = "\"\\tnrbf";
    out[0] = '\\';
    if (const void* at = std::memchr(kShort, c, sizeof kShort - 1)) {
        out[1] = kLetter[static_cast<const char*>(at) - kShort];
        return out + 2;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    out[1] = 'u';
    out[2] = '0';
    out[3] = '0';
    out[4] = kHex[c >> 4];
    out[5] = kHex[c & 15];
    return out + 6;
}

}  // namespace

// An open array or object of a Value tree being written.
struct JsonWriter::Frame {
    const Value* items;            // an array's elements
    const Value::Member* members;  // an object's members, in their own order
    std::size_t index;             // the element or member being written
    std::size_t count;
    std::size_t sortedBase;  // where its members' sorted order starts in _sorted
    bool isObject;
    bool sorted;

    const Value::Member& member(const std::vector<const Value::Member*>& order) const {
        return sorted ? *order[sortedBase + index] : members[index];
    }
};

JsonWriter::JsonWriter() = default;
JsonWriter::~JsonWriter() = default;

std::optional<std::string> JsonWriter::stringWithObject(const Value& value) {
    if (value.isArray() || value.isObject()) return stringWithFragment(value);
    notValidType();
    return std::nullopt;
}

std::optional<std::string> JsonWriter::stringWithFragment(const Value& value) {
    begin();
    bool ok = appendTree(value);
    return finish(ok);
}

void JsonWriter::begin() {
    clearErrorTrace();
    depth = 0;
    _out = std::string();
    _out.resize(_sizeHint);
    _cursor = _out.data();
    _limit = _cursor + _out.size();
}

void JsonWriter::grow(std::size_t bytes) {
    std::size_t used = static_cast<std::size_t>(_cursor - _out.data());
    _out.resize(std::max(2 * _out.size(), used + bytes + kBlockSlack));
    _cursor = _out.data() + used;
    _limit = _out.data() + _out.size();
}

std::optional<std::string> JsonWriter::finish(bool ok) {
    _frames.clear();
    _sorted.clear();
    std::size_t length = static_cast<std::size_t>(_cursor - _out.data());
    _cursor = _limit = nullptr;
    if (!ok) {
        _out = std::string();
        return std::nullopt;
    }
    _out.resize(length);
    _sizeHint = std::min(std::max<std::size_t>(length + kBlockSlack, 128), kMaxSizeHint);
    return std::move(_out);
}

void JsonWriter::notValidType() {
    clearErrorTrace();
    addErrorWithCode(JsonError::kNotContainer, "Not valid type for JSON");
}

void JsonWriter::appendIndent() {
    std::size_t length = 1 + 2 * std::size_t(depth);
    if (_indent.size() < length) {
        _indent.assign(std::max<std::size_t>(length, 2 * _indent.size()), ' ');
        _indent[0] = '\n';
    }
    appendLiteral(std::string_view(_indent.data(), length));
}

bool JsonWriter::open(char bracket, bool native) {
    ++depth;
    if ((maxDepth() != 0 && depth > maxDepth()) || (native && depth > kNativeNestingLimit)) {
        addErrorWithCode(JsonError::kTooDeep, "Nested too deep");
        return false;
    }
    *room(1) = bracket;
    ++_cursor;
    return true;
}

void JsonWriter::close(char bracket, bool hadItems) {
    --depth;
    if (_humanReadable && hadItems) appendIndent();
    *room(1) = bracket;
    ++_cursor;
}

void JsonWriter::separate(bool first) {
    if (!first) {
        *room(1) = ',';
        ++_cursor;
    }
    if (_humanReadable) appendIndent();
}

void JsonWriter::unsupported(const std::string& what) {
    addErrorWithCode(JsonError::kUnsupported, "JSON serialisation not supported for " + what);
}

void JsonWriter::unsupportedKey(std::string_view key) {
    addErrorWithCode(JsonError::kUnsupported,
                     "Unsupported value for key " + std::string(key) + " in object");
}

bool JsonWriter::appendStringValue(const Value& value) {
#if defined(__SSE2__)
    if (value.tag() == Value::kShortString) {
        // The text, its zero padding, length and tag are the value's sixteen bytes: one load
        // checks the text and one store copies it.
        std::size_t length = value._bytes[14];
        unsigned inText = (1u << length) - 1;
        if ((detail::specialMask16(reinterpret_cast<const char*>(value._bytes)) & inText) == 0) {
            char* out = room(length + 2 + kBlockSlack);
            *out = '"';
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 1),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(value._bytes)));
            out[length + 1] = '"';
            _cursor = out + length + 2;
            return true;
        }
    }
#endif
    return appendString(value.asString());
}

bool JsonWriter::appendString(std::string_view text) {
    const char* p = text.data();
    const char* end = p + text.size();
    // Room for the plain case; each escape asks for more.
    char* out = room(text.size() + 2 + kBlockSlack);
    *out++ = '"';
    for (;;) {
#if defined(__SSE2__)
        // Sixteen plain bytes at a time: stored whole, then cut at the first special one.
        while (end - p >= 16) {
            __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
            unsigned mask = detail::specialMask16(p);
            if (mask) {
                int plain = detail::firstBit(mask);
                p += plain;
                out += plain;
                goto special;
            }
            p += 16;
            out += 16;
        }
#endif
        while (p < end && !detail::isStringSpecial(static_cast<unsigned char>(*p)))
            *out++ = *p++;
        if (p == end) break;
#if defined(__SSE2__)
    special:
#endif
        unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x80) {
            // UTF-8 text is checked and copied a sequence at a time while it lasts.
            do {
                const auto* bytes = reinterpret_cast<const unsigned char*>(p);
                int length = end - p >= 4 ? detail::utf8SequenceLength(bytes)
                                          : detail::utf8SequenceLength(bytes, end - p);
                if (length == 0) {
                    _cursor = out;
                    unsupported("invalid UTF-8 text");
                    return false;
                }
                out[0] = p[0];
                out[1] = p[1];
                if (length > 2) out[2] = p[2];
                if (length > 3) out[3] = p[3];
                p += length;
                out += length;
            } while (p < end && static_cast<unsigned char>(*p) >= 0x80);
            continue;
        }
        _cursor = out;
        out = room(6 + static_cast<std::size_t>(end - p) + 1 + kBlockSlack);
        out = writeEscape(out, c);
        ++p;
    }
    *out++ = '"';
    _cursor = out;
    return true;
}

bool JsonWriter::appendDouble(double value) {
    if (!std::isfinite(value)) {
        unsupported("non-finite number");
        return false;
    }
    char* out = room(32);
    _cursor = std::to_chars(out, out + 32, value).ptr;
    return true;
}

void JsonWriter::appendDecimal(const Decimal& value) {
    _cursor = value.write(room(Decimal::kMaxTextLength));
}

// The plain notation of a decimal that fits 64 bits, as Decimal::write gives it.
void JsonWriter::appendSmallDecimal(const Value& value) {
    std::uint64_t significand = value.word<std::uint64_t>();
    std::int16_t exponent;
    std::memcpy(&exponent, value._bytes + 8, 2);
    char* out = room(2 + 20 + 1 + Decimal::kMaxExponent + 1);
    if (value._bytes[10]) *out++ = '-';
    if (significand == 0) {
        *out++ = '0';
        _cursor = out;
        return;
    }
    int digits = digitCount(significand);
    if (exponent >= 0) {
        out = detail::writeUInt64Padded(out, significand, digits);
        std::memset(out, '0', exponent);
        _cursor = out + exponent;
        return;
    }
    int fraction = -exponent;
    if (digits > fraction) {
        // Whole digits, the point, then the fraction digits moved one place on.
        out = detail::writeUInt64Padded(out, significand, digits);
        char* point = out - fraction;
        std::memmove(point + 1, point, fraction);
        *point = '.';
        _cursor = out + 1;
        return;
    }
    *out++ = '0';
    *out++ = '.';
    std::memset(out, '0', fraction - digits);
    out += fraction - digits;
    _cursor = detail::writeUInt64Padded(out, significand, digits);
}

void JsonWriter::appendInteger(std::int64_t value) {
    char* out = room(24);
    _cursor = std::to_chars(out, out + 24, value).ptr;
}

void JsonWriter::appendUnsigned(std::uint64_t value) {
    char* out = room(24);
    _cursor = std::to_chars(out, out + 24, value).ptr;
}

bool JsonWriter::appendScalar(const Value& value) {
    switch (value.tag()) {
        case Value::kNull:
            appendLiteral("null");
            return true;
        case Value::kFalse:
            appendLiteral("false");
            return true;
        case Value::kTrue:
            appendLiteral("true");
            return true;
        case Value::kSmallDecimal:
            appendSmallDecimal(value);
            return true;
        case Value::kShortString:
        case Value::kLongString:
            return appendStringValue(value);
        case Value::kInt64:
            appendInteger(value.word<std::int64_t>());
            return true;
        case Value::kUInt64:
            appendUnsigned(value.word<std::uint64_t>());
            return true;
        case Value::kDouble:
            return appendDouble(value.word<double>());
        default:
            appendDecimal(*value.asDecimal());
            return true;
    }
}

bool JsonWriter::appendTree(const Value& root) {
    const std::size_t base = _frames.size();
    const Value* value = &root;
    bool keyFailed = false;

    // One loop over two states: writing `value`, and moving on to the next element of the
    // innermost open container.
write:
    if (!value->isArray() && !value->isObject()) {
        if (!appendScalar(*value)) goto fail;
    } else {
        bool isObject = value->isObject();
        if (!open(isObject ? '{' : '[', false)) goto fail;
        const Value::Block* block = value->block();
        std::size_t count = block ? block->size : 0;
        if (count == 0) {
            close(isObject ? '}' : ']', false);
        } else {
            // Filled in place: a frame built aside and copied in costs more than the rest.
            Frame& frame = _frames.emplace_back();
            frame.items = isObject ? nullptr : value->itemData();
            frame.members = isObject ? value->memberData() : nullptr;
            frame.index = 0;
            frame.count = count;
            frame.sortedBase = _sorted.size();
            frame.isObject = isObject;
            frame.sorted = isObject && _sortKeys;
            if (frame.sorted) {
                for (std::size_t i = 0; i < count; ++i)
                    _sorted.push_back(&frame.members[i]);
                std::sort(_sorted.begin() + frame.sortedBase, _sorted.end(),
                          [](const Value::Member* a, const Value::Member* b) {
                              return a->key() < b->key();
                          });
            }
            goto element;
        }
    }

next:
    if (_frames.size() == base) return true;
    {
        Frame& frame = _frames.back();
        if (++frame.index < frame.count) goto element;
        close(frame.isObject ? '}' : ']', true);
        _sorted.resize(frame.sortedBase);
        _frames.pop_back();
    }
    goto next;

element : {
    Frame& frame = _frames.back();
    separate(frame.index == 0);
    if (!frame.isObject) {
        value = &frame.items[frame.index];
        goto write;
    }
    const Value::Member& member = frame.member(_sorted);
    if (!appendStringValue(member._key)) {
        keyFailed = true;
        goto fail;
    }
    appendKeySeparator();
    value = &member._value;
    goto write;
}

fail:
    // Every open object adds the key whose value failed; a failing key fails only its own
    // object.
    for (std::size_t i = _frames.size(); i-- > base;) {
        const Frame& frame = _frames[i];
        if (!frame.isObject) continue;
        if (keyFailed && i + 1 == _frames.size()) continue;
        unsupportedKey(frame.member(_sorted).key());
    }
    _frames.resize(base);
    return false;
}

}  // namespace quorbit::json
