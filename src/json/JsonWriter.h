#pragma once

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <optional>
#include <ranges>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <variant>
#include <vector>

#include "json/Decimal.h"
#include "json/JsonBase.h"
#include "json/Value.h"

namespace quorbit::json {

// A type takes part in writing by offering a substitute value that is written in its place:
//
//     struct Photo {
//         Value proxyForJson() const { return Value::object({{"id", id}, {"name", name}}); }
//     };
//
// The substitute may be anything the writer takes, including another proxy.
template <typename T>
concept OffersJsonProxy = requires(const T& value) {
    value.proxyForJson();
};

namespace detail {
template <typename T>
concept JsonStringLike =
    std::is_convertible_v<const T&, std::string_view> && !std::is_same_v<T, std::nullptr_t>;
template <typename T>
concept JsonMapLike = requires {
    typename T::key_type;
    typename T::mapped_type;
}
&&std::ranges::range<const T>;
template <typename T>
concept JsonListLike = std::ranges::range<const T> && !JsonStringLike<T> && !JsonMapLike<T>;
std::string readableTypeName(const std::type_info& type);
}  // namespace detail

// Turns values into JSON text, compact or laid out for people, optionally with the keys of
// every object sorted (byte order). Objects of a Value are otherwise written in their own
// member order, which is insertion order.
//
// Besides Value trees it writes plain C++ values: maps (string keys), ranges, strings, bool,
// integers, floating point (shortest round-trip text), Decimal, nullptr and std::monostate
// (null), and any type with proxyForJson(). Other types, maps with keys that are not
// strings, non-finite floating values and strings that are not valid UTF-8 fail with code 1.
//
// Value trees of any depth are written with an explicit stack. Plain C++ containers nest
// through the call stack, so they are also held to kNativeNestingLimit levels even when
// maxDepth() is 0 (no limit).
//
// Failures answer empty and leave the reasons in errorTrace(); a value that fails inside an
// object gets "Unsupported value for key KEY in object" on top of its own error.
class JsonWriter : public JsonBase {
  public:
    static constexpr std::uint32_t kNativeNestingLimit = 1024;

    JsonWriter();
    ~JsonWriter() override;

    bool sortKeys() const { return _sortKeys; }
    void setSortKeys(bool sortKeys) { _sortKeys = sortKeys; }
    // Every element and member on its own line, indented two spaces a level, and " : "
    // between key and value.
    bool humanReadable() const { return _humanReadable; }
    void setHumanReadable(bool humanReadable) { _humanReadable = humanReadable; }

    // Only an object or an array (directly or through proxyForJson) at the top level.
    std::optional<std::string> stringWithObject(const Value& value);
    template <typename T>
    std::optional<std::string> stringWithObject(const T& value);
    // Any value.
    std::optional<std::string> stringWithFragment(const Value& value);
    template <typename T>
    std::optional<std::string> stringWithFragment(const T& value);

  private:
    struct Frame;

    void begin();
    std::optional<std::string> finish(bool ok);
    void notValidType();

    template <typename T>
    bool appendValue(const T& value);
    template <typename M>
    bool appendMap(const M& map);
    template <typename R>
    bool appendList(const R& list);

    bool appendTree(const Value& value);
    bool appendScalar(const Value& value);
    bool appendString(std::string_view text);
    // A string value or key; short ones are checked and copied sixteen bytes at once.
    bool appendStringValue(const Value& value);
    void appendSmallDecimal(const Value& value);
    bool appendDouble(double value);
    void appendDecimal(const Decimal& value);
    void appendInteger(std::int64_t value);
    void appendUnsigned(std::uint64_t value);
    void appendLiteral(std::string_view text) {
        char* out = room(text.size());
        std::memcpy(out, text.data(), text.size());
        _cursor = out + text.size();
    }
    void appendIndent();
    // Opens an array or object: checks the depth (code 7) and writes the bracket.
    bool open(char bracket, bool native);
    void close(char bracket, bool hadItems);
    void separate(bool first);
    void appendKeySeparator() {
        if (_humanReadable) {
            appendLiteral(" : ");
        } else {
            *room(1) = ':';
            ++_cursor;
        }
    }
    void unsupported(const std::string& what);
    void unsupportedKey(std::string_view key);

    // The output is written through _cursor into _out, which is kept longer than what has
    // been written (finish() cuts it to length): room() makes sure `bytes` more fit and
    // answers where they go.
    char* room(std::size_t bytes) {
        if (static_cast<std::size_t>(_limit - _cursor) < bytes) grow(bytes);
        return _cursor;
    }
    void grow(std::size_t bytes);

    bool _sortKeys = false;
    bool _humanReadable = false;
    std::string _out;
    char* _cursor = nullptr;
    char* _limit = nullptr;
    std::size_t _sizeHint = 128;
    std::string _indent;
    std::vector<Frame> _frames;
    std::vector<const Value::Member*> _sorted;
};

template <typename T>
std::optional<std::string> JsonWriter::stringWithObject(const T& value) {
    if constexpr (detail::JsonMapLike<T> || detail::JsonListLike<T>) {
        return stringWithFragment(value);
    } else {
        if constexpr (OffersJsonProxy<T>) {
            if (auto text = stringWithObject(value.proxyForJson())) return text;
        }
        notValidType();
        return std::nullopt;
    }
}

template <typename T>
std::optional<std::string> JsonWriter::stringWithFragment(const T& value) {
    begin();
    bool ok = appendValue(value);
    return finish(ok);
}

template <typename T>
bool JsonWriter::appendValue(const T& value) {
    if constexpr (std::is_same_v<T, Value>) {
        return appendTree(value);
    } else if constexpr (detail::JsonMapLike<T>) {
        return appendMap(value);
    } else if constexpr (detail::JsonListLike<T>) {
        return appendList(value);
    } else if constexpr (detail::JsonStringLike<T>) {
        if constexpr (std::is_pointer_v<T>) {
            if (value == nullptr) {
                appendLiteral("null");
                return true;
            }
        }
        return appendString(std::string_view(value));
    } else if constexpr (std::is_same_v<T, bool>) {
        appendLiteral(value ? "true" : "false");
        return true;
    } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
        appendInteger(value);
        return true;
    } else if constexpr (std::is_integral_v<T>) {
        appendUnsigned(value);
        return true;
    } else if constexpr (std::is_floating_point_v<T>) {
        return appendDouble(static_cast<double>(value));
    } else if constexpr (std::is_same_v<T, Decimal>) {
        appendDecimal(value);
        return true;
    } else if constexpr (std::is_same_v<T, std::nullptr_t> || std::is_same_v<T, std::monostate>) {
        appendLiteral("null");
        return true;
    } else if constexpr (OffersJsonProxy<T>) {
        const auto& proxy = value.proxyForJson();
        return appendValue(proxy);
    } else {
        unsupported(detail::readableTypeName(typeid(T)));
        return false;
    }
}

template <typename M>
bool JsonWriter::appendMap(const M& map) {
    if (!open('{', true)) return false;
    using Key = typename M::key_type;
    if constexpr (!detail::JsonStringLike<Key>) {
        if (!std::ranges::empty(map)) {
            addErrorWithCode(JsonError::kUnsupported, "JSON object key must be string");
            return false;
        }
        close('}', false);
        return true;
    } else {
        using Entry = std::ranges::range_value_t<const M>;
        std::vector<const Entry*> order;
        for (const auto& entry : map)
            order.push_back(&entry);
        if (_sortKeys) {
            std::sort(order.begin(), order.end(), [](const Entry* a, const Entry* b) {
                return std::string_view(a->first) < std::string_view(b->first);
            });
        }
        bool first = true;
        for (const Entry* entry : order) {
            separate(first);
            first = false;
            std::string_view key(entry->first);
            if (!appendString(key)) return false;
            appendKeySeparator();
            if (!appendValue(entry->second)) {
                unsupportedKey(key);
                return false;
            }
        }
        close('}', !first);
        return true;
    }
}

template <typename R>
bool JsonWriter::appendList(const R& list) {
    if (!open('[', true)) return false;
    using Item = std::ranges::range_value_t<const R>;
    bool first = true;
    for (const auto& item : list) {
        separate(first);
        first = false;
        const Item& element = item;
        if (!appendValue(element)) return false;
    }
    close(']', !first);
    return true;
}

}  // namespace quorbit::json
