#include "json/JsonWriter.h"

#include <cxxabi.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <memory>

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

}  // namespace

// An open array or object of a Value tree being written.
struct JsonWriter::Frame {
    const Value* container;
    std::size_t index;  // the element or member being written
    std::size_t count;
    std::size_t sortedBase;  // where its members' sorted order starts in _sorted
    bool isObject;
    bool sorted;
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
    _out.reserve(_sizeHint);
}

std::optional<std::string> JsonWriter::finish(bool ok) {
    _frames.clear();
    _sorted.clear();
    if (!ok) {
        _out = std::string();
        return std::nullopt;
    }
    _sizeHint = std::min(std::max<std::size_t>(_out.size() + 16, 128), kMaxSizeHint);
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
    _out.append(_indent.data(), length);
}

bool JsonWriter::open(char bracket, bool native) {
    ++depth;
    if ((maxDepth() != 0 && depth > maxDepth()) || (native && depth > kNativeNestingLimit)) {
        addErrorWithCode(JsonError::kTooDeep, "Nested too deep");
        return false;
    }
    _out.push_back(bracket);
    return true;
}

void JsonWriter::close(char bracket, bool hadItems) {
    --depth;
    if (_humanReadable && hadItems) appendIndent();
    _out.push_back(bracket);
}

void JsonWriter::separate(bool first) {
    if (!first) _out.push_back(',');
    if (_humanReadable) appendIndent();
}

void JsonWriter::unsupported(const std::string& what) {
    addErrorWithCode(JsonError::kUnsupported, "JSON serialisation not supported for " + what);
}

void JsonWriter::unsupportedKey(std::string_view key) {
    addErrorWithCode(JsonError::kUnsupported,
                     "Unsupported value for key " + std::string(key) + " in object");
}

bool JsonWriter::appendString(std::string_view text) {
    const char* p = text.data();
    const char* end = p + text.size();
    const char* run = p;  // start of the bytes not yet copied
    _out.push_back('"');
    for (;;) {
        const char* special = detail::findStringSpecial(p, end);
        if (special == end) break;
        unsigned char c = static_cast<unsigned char>(*special);
        if (c >= 0x80) {
            int length = detail::utf8SequenceLength(reinterpret_cast<const unsigned char*>(special),
                                                    end - special);
            if (length == 0) {
                unsupported("invalid UTF-8 text");
                return false;
            }
            p = special + length;
            continue;
        }
        _out.append(run, special);
        char escape[7] = {'\\', 0, 0, 0, 0, 0, 0};
        std::size_t escapeLength = 2;
        switch (c) {
            case '"':
                escape[1] = '"';
                break;
            case '\\':
                escape[1] = '\\';
                break;
            case '\t':
                escape[1] = 't';
                break;
            case '\n':
                escape[1] = 'n';
                break;
            case '\r':
                escape[1] = 'r';
                break;
            case '\b':
                escape[1] = 'b';
                break;
            case '\f':
                escape[1] = 'f';
                break;
            default: {
                static constexpr char kHex[] = "0123456789abcdef";
                escape[1] = 'u';
                escape[2] = '0';
                escape[3] = '0';
                escape[4] = kHex[c >> 4];
                escape[5] = kHex[c & 15];
                escapeLength = 6;
                break;
            }
        }
        _out.append(escape, escapeLength);
        p = run = special + 1;
    }
    _out.append(run, end);
    _out.push_back('"');
    return true;
}

bool JsonWriter::appendDouble(double value) {
    if (!std::isfinite(value)) {
        unsupported("non-finite number");
        return false;
    }
    char buffer[32];
    _out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
    return true;
}

void JsonWriter::appendDecimal(const Decimal& value) {
    char buffer[Decimal::kMaxTextLength];
    _out.append(buffer, value.write(buffer));
}

void JsonWriter::appendInteger(std::int64_t value) {
    char buffer[24];
    _out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

void JsonWriter::appendUnsigned(std::uint64_t value) {
    char buffer[24];
    _out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
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
        case Value::kShortString:
        case Value::kLongString:
            return appendString(value.asString());
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
        std::size_t count = value->size();
        if (count == 0) {
            close(isObject ? '}' : ']', false);
        } else {
            Frame frame{value, 0, count, _sorted.size(), isObject, isObject && _sortKeys};
            if (frame.sorted) {
                for (const Value::Member& member : value->members())
                    _sorted.push_back(&member);
                std::sort(_sorted.begin() + frame.sortedBase, _sorted.end(),
                          [](const Value::Member* a, const Value::Member* b) {
                              return a->key() < b->key();
                          });
            }
            _frames.push_back(frame);
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
        value = &frame.container->items()[frame.index];
        goto write;
    }
    const Value::Member* member = frame.sorted ? _sorted[frame.sortedBase + frame.index]
                                               : &frame.container->members()[frame.index];
    if (!appendString(member->key())) {
        keyFailed = true;
        goto fail;
    }
    appendKeySeparator();
    value = &member->value();
    goto write;
}

fail:
    // Every open object adds the key whose value failed; a failing key fails only its own
    // object.
    for (std::size_t i = _frames.size(); i-- > base;) {
        const Frame& frame = _frames[i];
        if (!frame.isObject) continue;
        if (keyFailed && i + 1 == _frames.size()) continue;
        const Value::Member* member = frame.sorted ? _sorted[frame.sortedBase + frame.index]
                                                   : &frame.container->members()[frame.index];
        unsupportedKey(member->key());
    }
    _frames.resize(base);
    return false;
}

}  // namespace quorbit::json
