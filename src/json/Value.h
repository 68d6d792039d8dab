#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "json/Decimal.h"

namespace quorbit::json {

// One JSON value: null, a boolean, a number, a UTF-8 string, an array of values or an
// object (dictionary) from string keys to values. Values are regular C++ values: copies are
// deep, moves are cheap, and any tree depth is copied, compared and destroyed without
// recursion.
//
// Numbers keep how they were made: the parser makes exact decimals (Decimal); programs may
// also store 64-bit integers and doubles, which the writer prints as digits and as their
// shortest round-trip text.
//
// Objects keep their members in one flat array in insertion order: a key set again keeps
// its place and takes the new value. Lookup is a linear scan, which is the fastest choice
// for the small objects JSON documents are made of. As with std::vector, adding an element
// or member may move the others, so references into a container do not outlive its growth.
class Value {
  public:
    enum class Type : std::uint8_t { Null, Bool, Number, String, Array, Object };
    enum class NumberKind : std::uint8_t { Decimal, Int64, UInt64, Double };
    class Member;

    Value() noexcept { setNull(); }
    Value(std::nullptr_t) noexcept { setNull(); }
    Value(bool value) noexcept { setTag(value ? kTrue : kFalse); }
    template <std::signed_integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>) Value(T value)
    noexcept {
        setWord(static_cast<std::int64_t>(value));
        setTag(kInt64);
    }
    template <std::unsigned_integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>) Value(T value)
    noexcept {
        setWord(static_cast<std::uint64_t>(value));
        setTag(kUInt64);
    }
    Value(double value) noexcept {
        setWord(value);
        setTag(kDouble);
    }
    Value(float value) noexcept : Value(static_cast<double>(value)) {}
    Value(const Decimal& value);
    Value(std::string_view text) { initString(text.data(), text.size()); }
    Value(const char* text) : Value(std::string_view(text)) {}
    Value(const std::string& text) : Value(std::string_view(text)) {}

    static Value array() noexcept { return Value(kArray); }
    static Value object() noexcept { return Value(kObject); }
    static Value array(std::initializer_list<Value> items);
    static Value object(std::initializer_list<std::pair<std::string_view, Value>> members);

    Value(const Value& other) {
        std::memcpy(_bytes, other._bytes, sizeof _bytes);
        if (other.owns()) copyOwned(other);
    }
    Value(Value&& other) noexcept {
        std::memcpy(_bytes, other._bytes, sizeof _bytes);
        other.setNull();
    }
    Value& operator=(const Value& other);
    Value& operator=(Value&& other) noexcept;
    ~Value() {
        if (owns()) release();
    }

    Type type() const;
    bool isNull() const { return tag() == kNull; }
    bool isBool() const { return tag() == kFalse || tag() == kTrue; }
    bool isNumber() const;
    bool isString() const { return tag() == kShortString || tag() == kLongString; }
    bool isArray() const { return tag() == kArray; }
    bool isObject() const { return tag() == kObject; }
    // Only for numbers.
    NumberKind numberKind() const;

    // The boolean; false for every other kind of value.
    bool asBool() const { return tag() == kTrue; }
    // The text; empty for every other kind of value. Short texts live inside the value, so
    // the view is good while the value is neither changed, moved nor destroyed.
    std::string_view asString() const;
    // Numbers as an exact decimal (a double through its shortest round-trip text); empty
    // for other values and for numbers a Decimal cannot hold.
    std::optional<Decimal> asDecimal() const;
    // Numbers that are integers in range; empty otherwise.
    std::optional<std::int64_t> asInt64() const;
    std::optional<std::uint64_t> asUInt64() const;
    // Numbers as the nearest double; empty for other values.
    std::optional<double> asDouble() const;

    // Elements of an array or members of an object; 0 for every other value.
    std::size_t size() const;
    bool empty() const { return size() == 0; }
    void reserve(std::size_t capacity);  // arrays and objects

    // Arrays. Reading past the end (or from a value that is not an array) gives null;
    // push_back turns a null value into an array first.
    std::span<const Value> items() const;
    std::span<Value> items();
    const Value& operator[](std::size_t index) const;
    Value& operator[](std::size_t index);  // must be in range
    void push_back(Value value);

    // Objects. find answers null when the key is missing (or the value is not an object);
    // the mutators turn a null value into an object first.
    std::span<const Member> members() const;
    std::span<Member> members();
    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    const Value& operator[](std::string_view key) const;  // null when missing
    Value& operator[](std::string_view key);              // inserts null when missing
    void set(std::string_view key, Value value);
    bool erase(std::string_view key);

    // Equal kinds and contents. Numbers compare by value whatever their kind (a double
    // stands for its shortest round-trip text); objects compare as dictionaries, whatever
    // their member order.
    friend bool operator==(const Value& a, const Value& b);

  private:
    friend class JsonParser;
    friend class JsonWriter;

    // Byte 15 holds the tag. Owning kinds come last so one comparison tells them apart.
    enum Tag : std::uint8_t {
        kNull,
        kFalse,
        kTrue,
        kSmallDecimal,  // significand (u64) at 0, exponent (i16) at 8, sign at 10
        kInt64,         // at 0
        kUInt64,        // at 0
        kDouble,        // at 0
        kShortString,   // up to 14 bytes at 0, zero-padded, length at 14
        kBigDecimal,    // Decimal* at 0
        kLongString,    // char* at 0, 48-bit length at 8
        kArray,         // Block* at 0 (null when nothing was ever stored)
        kObject,        // Block* at 0
    };
    static constexpr std::size_t kShortStringCapacity = 14;

    // The storage of an array or object: size and capacity, then the elements (Value or
    // Member) in one allocation.
    struct Block {
        std::size_t size;
        std::size_t capacity;
    };

    explicit Value(Tag tag) noexcept {
        setNull();
        setTag(tag);
    }

    Tag tag() const { return static_cast<Tag>(_bytes[15]); }
    void setTag(Tag tag) { _bytes[15] = tag; }
    bool owns() const { return tag() >= kBigDecimal; }
    void setNull() { std::memset(_bytes, 0, sizeof _bytes); }
    template <typename T>
    T word() const {
        T value;
        std::memcpy(&value, _bytes, sizeof value);
        return value;
    }
    template <typename T>
    void setWord(T value) {
        std::memset(_bytes, 0, sizeof _bytes);
        std::memcpy(_bytes, &value, sizeof value);
    }
    Block* block() const { return word<Block*>(); }
    std::size_t longLength() const {
        std::uint64_t length;
        std::memcpy(&length, _bytes + 8, 8);
        return length & 0xFFFF'FFFF'FFFFull;
    }

    void initString(const char* text, std::size_t length);
    void setSmallDecimal(bool negative, std::uint64_t significand, int exponent) {
        setWord(significand);
        std::int16_t e = static_cast<std::int16_t>(exponent);
        std::memcpy(_bytes + 8, &e, 2);
        _bytes[10] = negative;
        setTag(kSmallDecimal);
    }
    // Move `count` items (or key and value pairs) into a new array (object) made in `into`,
    // which is null and may be the first item; the items are left null.
    static void adoptArray(Value& into, Value* items, std::size_t count);
    static void adoptObject(Value& into, Value* keysAndValues, std::size_t count);
    Member* memberData() const;
    Value* itemData() const;
    void growTo(std::size_t capacity);
    void copyOwned(const Value& other);
    void release();
    struct Impl;  // the out-of-line helpers, defined with them

    alignas(8) unsigned char _bytes[16];
};

// One member of an object: a string key and its value.
class Value::Member {
  public:
    Member(std::string_view key, Value value) : _key(key), _value(std::move(value)) {}

    std::string_view key() const { return _key.asString(); }
    const Value& value() const { return _value; }
    Value& value() { return _value; }

  private:
    friend class Value;
    friend class JsonParser;
    friend class JsonWriter;
    Member(Value&& key, Value&& value) : _key(std::move(key)), _value(std::move(value)) {}

    Value _key;
    Value _value;
};

inline std::string_view Value::asString() const {
    if (tag() == kShortString) {
        return std::string_view(reinterpret_cast<const char*>(_bytes), _bytes[14]);
    }
    if (tag() == kLongString) return std::string_view(word<const char*>(), longLength());
    return {};
}

}  // namespace quorbit::json
