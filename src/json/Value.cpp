#include "json/Value.h"

#include <cmath>
#include <new>
#include <stdexcept>
#include <vector>

namespace quorbit::json {

struct Value::Impl {
    // Below this depth a tree is released by plain recursion; deeper containers wait in a
    // queue, so that no tree depth can exhaust the call stack.
    static constexpr int kRecursionLimit = 64;

    using Pending = std::vector<std::pair<Block*, bool>>;  // block, is an object

    static Block* allocateBlock(std::size_t capacity, std::size_t itemSize) {
        auto* block = static_cast<Block*>(::operator new(sizeof(Block) + capacity * itemSize));
        block->size = 0;
        block->capacity = capacity;
        return block;
    }
    static void freeBlock(Block* block) { ::operator delete(block); }
    static Value* items(Block* block) { return reinterpret_cast<Value*>(block + 1); }
    static Member* members(Block* block) { return reinterpret_cast<Member*>(block + 1); }

    static void setBlock(Value& value, Block* block, Tag tag) {
        value.setWord(block);
        value.setTag(tag);
    }

    // Frees what `value` owns; its bytes are left as they are.
    static void releaseContents(const Value& value, int depth, Pending& pending) {
        switch (value.tag()) {
            case kBigDecimal:
            case kLongString:
                ::operator delete(value.word<void*>());
                break;
            case kArray:
            case kObject:
                if (Block* block = value.block()) {
                    if (depth < kRecursionLimit) {
                        releaseBlock(block, value.tag() == kObject, depth + 1, pending);
                    } else {
                        pending.emplace_back(block, value.tag() == kObject);
                    }
                }
                break;
            default:
                break;
        }
    }

    static void releaseBlock(Block* block, bool isObject, int depth, Pending& pending) {
        if (isObject) {
            Member* m = members(block);
            for (std::size_t i = 0; i < block->size; ++i) {
                releaseContents(m[i]._key, depth, pending);
                releaseContents(m[i]._value, depth, pending);
            }
        } else {
            Value* v = items(block);
            for (std::size_t i = 0; i < block->size; ++i)
                releaseContents(v[i], depth, pending);
        }
        freeBlock(block);
    }

    // A deep copy is made level by level: a container's copy gets an empty block of the
    // right capacity at once, and the job of filling it waits in a list.
    struct CopyJob {
        const Block* source;
        Block* target;
        bool isObject;
    };

    // Makes `target` a copy of the owning value `source`. A container gets its block at
    // once; the job of filling it is added to `jobs`.
    static void cloneOwned(const Value& source, Value& target, std::vector<CopyJob>& jobs) {
        switch (source.tag()) {
            case kBigDecimal: {
                void* copy = ::operator new(sizeof(Decimal));
                new (copy) Decimal(*source.word<const Decimal*>());
                target.setWord(copy);
                target.setTag(kBigDecimal);
                break;
            }
            case kLongString: {
                std::size_t length = source.longLength();
                char* copy = static_cast<char*>(::operator new(length));
                std::memcpy(copy, source.word<const char*>(), length);
                std::memcpy(target._bytes, source._bytes, sizeof target._bytes);
                std::memcpy(target._bytes, &copy, sizeof copy);
                break;
            }
            case kArray:
            case kObject:
                if (const Block* from = source.block()) {
                    bool isObject = source.tag() == kObject;
                    Block* to =
                        allocateBlock(from->size, isObject ? sizeof(Member) : sizeof(Value));
                    setBlock(target, to, source.tag());
                    jobs.push_back({from, to, isObject});
                } else {
                    setBlock(target, nullptr, source.tag());
                }
                break;
            default:
                break;
        }
    }

    static void cloneTree(std::vector<CopyJob>& jobs) {
        while (!jobs.empty()) {
            CopyJob job = jobs.back();
            jobs.pop_back();
            if (job.isObject) {
                const Member* from = members(const_cast<Block*>(job.source));
                Member* to = members(job.target);
                for (std::size_t i = 0; i < job.source->size; ++i) {
                    Value* key = new (&to[i]._key) Value(from[i]._key);
                    try {
                        Value* value = &to[i]._value;
                        std::memcpy(value->_bytes, from[i]._value._bytes, 16);
                        if (value->owns()) cloneOwned(from[i]._value, *value, jobs);
                    } catch (...) {
                        key->~Value();
                        throw;
                    }
                    job.target->size = i + 1;
                }
            } else {
                const Value* from = items(const_cast<Block*>(job.source));
                Value* to = items(job.target);
                for (std::size_t i = 0; i < job.source->size; ++i) {
                    std::memcpy(to[i]._bytes, from[i]._bytes, 16);
                    if (to[i].owns()) cloneOwned(from[i], to[i], jobs);
                    job.target->size = i + 1;
                }
            }
        }
    }

    static bool numbersEqual(const Value& a, const Value& b) {
        if (a.tag() == kDouble && b.tag() == kDouble) return a.word<double>() == b.word<double>();
        std::optional<Decimal> da = a.asDecimal();
        std::optional<Decimal> db = b.asDecimal();
        return da && db && *da == *db;
    }
};

Value::Value(const Decimal& value) {
    if (value._significand <= UINT64_MAX) {
        setSmallDecimal(value._negative, static_cast<std::uint64_t>(value._significand),
                        value._exponent);
        return;
    }
    void* copy = ::operator new(sizeof(Decimal));
    new (copy) Decimal(value);
    setWord(copy);
    setTag(kBigDecimal);
}

void Value::initString(const char* text, std::size_t length) {
    setNull();
    if (length <= kShortStringCapacity) {
        if (length) std::memcpy(_bytes, text, length);
        _bytes[14] = static_cast<unsigned char>(length);
        setTag(kShortString);
        return;
    }
    char* copy = static_cast<char*>(::operator new(length));
    std::memcpy(copy, text, length);
    std::uint64_t lengthWord = length;
    std::memcpy(_bytes, &copy, sizeof copy);
    std::memcpy(_bytes + 8, &lengthWord, 6);
    setTag(kLongString);
}

Value Value::array(std::initializer_list<Value> items) {
    Value result = array();
    result.reserve(items.size());
    for (const Value& item : items)
        result.push_back(item);
    return result;
}

Value Value::object(std::initializer_list<std::pair<std::string_view, Value>> members) {
    Value result = object();
    result.reserve(members.size());
    for (const auto& [key, value] : members)
        result.set(key, value);
    return result;
}

// A member is its key and its value side by side, as the parser lays them out.
static_assert(sizeof(Value::Member) == 2 * sizeof(Value));

void Value::adoptArray(Value& into, Value* items, std::size_t count) {
    Block* block = nullptr;
    if (count != 0) {
        // Values move by their bytes: copy them all, then leave the originals null.
        block = Impl::allocateBlock(count, sizeof(Value));
        std::memcpy(static_cast<void*>(Impl::items(block)), items, count * sizeof(Value));
        std::memset(static_cast<void*>(items), 0, count * sizeof(Value));
        block->size = count;
    }
    Impl::setBlock(into, block, kArray);
}

void Value::adoptObject(Value& into, Value* keysAndValues, std::size_t count) {
    Block* block = nullptr;
    if (count != 0) {
        block = Impl::allocateBlock(count, sizeof(Member));
        std::memcpy(static_cast<void*>(Impl::members(block)), keysAndValues,
                    count * sizeof(Member));
        std::memset(static_cast<void*>(keysAndValues), 0, count * sizeof(Member));
        block->size = count;
    }
    Impl::setBlock(into, block, kObject);
}

Value& Value::operator=(const Value& other) {
    if (this != &other) *this = Value(other);
    return *this;
}

Value& Value::operator=(Value&& other) noexcept {
    // `other` may live inside this value's tree: detach it before releasing the tree.
    unsigned char bytes[16];
    std::memcpy(bytes, other._bytes, sizeof bytes);
    other.setNull();
    if (owns()) release();
    std::memcpy(_bytes, bytes, sizeof bytes);
    return *this;
}

void Value::copyOwned(const Value& other) {
    setNull();
    std::vector<Impl::CopyJob> jobs;
    try {
        Impl::cloneOwned(other, *this, jobs);
        Impl::cloneTree(jobs);
    } catch (...) {
        // Blocks count only the elements already copied, so the partial tree frees cleanly.
        release();
        throw;
    }
}

void Value::release() {
    Impl::Pending pending;
    Impl::releaseContents(*this, 0, pending);
    while (!pending.empty()) {
        auto [block, isObject] = pending.back();
        pending.pop_back();
        Impl::releaseBlock(block, isObject, 0, pending);
    }
}

Value::Type Value::type() const {
    switch (tag()) {
        case kNull:
            return Type::Null;
        case kFalse:
        case kTrue:
            return Type::Bool;
        case kShortString:
        case kLongString:
            return Type::String;
        case kArray:
            return Type::Array;
        case kObject:
            return Type::Object;
        default:
            return Type::Number;
    }
}

bool Value::isNumber() const {
    switch (tag()) {
        case kSmallDecimal:
        case kBigDecimal:
        case kInt64:
        case kUInt64:
        case kDouble:
            return true;
        default:
            return false;
    }
}

Value::NumberKind Value::numberKind() const {
    switch (tag()) {
        case kInt64:
            return NumberKind::Int64;
        case kUInt64:
            return NumberKind::UInt64;
        case kDouble:
            return NumberKind::Double;
        default:
            return NumberKind::Decimal;
    }
}

std::optional<Decimal> Value::asDecimal() const {
    switch (tag()) {
        case kSmallDecimal: {
            std::int16_t exponent;
            std::memcpy(&exponent, _bytes + 8, 2);
            return Decimal(_bytes[10] != 0, word<std::uint64_t>(), exponent);
        }
        case kBigDecimal:
            return *word<const Decimal*>();
        case kInt64:
            return Decimal::fromInt64(word<std::int64_t>());
        case kUInt64:
            return Decimal::fromUInt64(word<std::uint64_t>());
        case kDouble:
            return Decimal::fromDouble(word<double>());
        default:
            return std::nullopt;
    }
}

std::optional<std::int64_t> Value::asInt64() const {
    switch (tag()) {
        case kInt64:
            return word<std::int64_t>();
        case kUInt64:
            if (word<std::uint64_t>() > INT64_MAX) return std::nullopt;
            return static_cast<std::int64_t>(word<std::uint64_t>());
        case kDouble: {
            double d = word<double>();
            // Exactly representable range of int64 in doubles: [-2^63, 2^63).
            if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return std::nullopt;
            if (std::trunc(d) != d) return std::nullopt;
            return static_cast<std::int64_t>(d);
        }
        default:
            if (auto decimal = asDecimal()) return decimal->toInt64();
            return std::nullopt;
    }
}

std::optional<std::uint64_t> Value::asUInt64() const {
    switch (tag()) {
        case kInt64:
            if (word<std::int64_t>() < 0) return std::nullopt;
            return static_cast<std::uint64_t>(word<std::int64_t>());
        case kUInt64:
            return word<std::uint64_t>();
        case kDouble: {
            double d = word<double>();
            if (!(d >= 0 && d < 18446744073709551616.0)) return std::nullopt;
            if (std::trunc(d) != d) return std::nullopt;
            return static_cast<std::uint64_t>(d);
        }
        default:
            if (auto decimal = asDecimal()) return decimal->toUInt64();
            return std::nullopt;
    }
}

std::optional<double> Value::asDouble() const {
    switch (tag()) {
        case kInt64:
            return static_cast<double>(word<std::int64_t>());
        case kUInt64:
            return static_cast<double>(word<std::uint64_t>());
        case kDouble:
            return word<double>();
        default:
            if (auto decimal = asDecimal()) return decimal->toDouble();
            return std::nullopt;
    }
}

std::size_t Value::size() const {
    if (tag() != kArray && tag() != kObject) return 0;
    Block* b = block();
    return b ? b->size : 0;
}

Value* Value::itemData() const {
    return Impl::items(block());
}
Value::Member* Value::memberData() const {
    return Impl::members(block());
}

std::span<const Value> Value::items() const {
    if (tag() != kArray || !block()) return {};
    return {itemData(), block()->size};
}

std::span<Value> Value::items() {
    if (tag() != kArray || !block()) return {};
    return {itemData(), block()->size};
}

std::span<const Value::Member> Value::members() const {
    if (tag() != kObject || !block()) return {};
    return {memberData(), block()->size};
}

std::span<Value::Member> Value::members() {
    if (tag() != kObject || !block()) return {};
    return {memberData(), block()->size};
}

const Value& Value::operator[](std::size_t index) const {
    static const Value null;
    std::span<const Value> all = items();
    return index < all.size() ? all[index] : null;
}

Value& Value::operator[](std::size_t index) {
    std::span<Value> all = items();
    if (index >= all.size()) throw std::out_of_range("json::Value: index out of range");
    return all[index];
}

void Value::growTo(std::size_t capacity) {
    bool isObject = tag() == kObject;
    Block* old = block();
    std::size_t size = old ? old->size : 0;
    if (old && old->capacity >= capacity) return;
    Block* grown = Impl::allocateBlock(capacity, isObject ? sizeof(Member) : sizeof(Value));
    // Values hold no pointers into themselves, so moving them is a plain copy of bytes.
    if (size) {
        std::memcpy(static_cast<void*>(grown + 1), static_cast<const void*>(old + 1),
                    size * (isObject ? sizeof(Member) : sizeof(Value)));
    }
    grown->size = size;
    if (old) Impl::freeBlock(old);
    Impl::setBlock(*this, grown, tag());
}

void Value::reserve(std::size_t capacity) {
    if (tag() != kArray && tag() != kObject) {
        throw std::logic_error("json::Value: reserve on a value that is not a container");
    }
    if (capacity > 0) growTo(capacity);
}

void Value::push_back(Value value) {
    if (isNull()) *this = array();
    if (tag() != kArray) throw std::logic_error("json::Value: push_back on a non-array");
    Block* b = block();
    if (!b || b->size == b->capacity) growTo(b ? b->capacity * 2 : 4);
    b = block();
    new (&itemData()[b->size]) Value(std::move(value));
    ++b->size;
}

const Value* Value::find(std::string_view key) const {
    std::span<const Member> all = members();
    if (key.size() <= kShortStringCapacity) {
        // Short keys are stored inline and zero-padded: compare all 16 bytes as two words.
        Value probe(key);
        std::uint64_t p0, p1;
        std::memcpy(&p0, probe._bytes, 8);
        std::memcpy(&p1, probe._bytes + 8, 8);
        for (const Member& member : all) {
            std::uint64_t k0, k1;
            std::memcpy(&k0, member._key._bytes, 8);
            std::memcpy(&k1, member._key._bytes + 8, 8);
            if (k0 == p0 && k1 == p1) return &member._value;
        }
        return nullptr;
    }
    for (const Member& member : all) {
        if (member._key.tag() == kLongString && member.key() == key) return &member._value;
    }
    return nullptr;
}

Value* Value::find(std::string_view key) {
    return const_cast<Value*>(static_cast<const Value*>(this)->find(key));
}

const Value& Value::operator[](std::string_view key) const {
    static const Value null;
    const Value* found = find(key);
    return found ? *found : null;
}

Value& Value::operator[](std::string_view key) {
    if (isNull()) *this = object();
    if (tag() != kObject) throw std::logic_error("json::Value: key lookup on a non-object");
    if (Value* found = find(key)) return *found;
    Block* b = block();
    if (!b || b->size == b->capacity) growTo(b ? b->capacity * 2 : 4);
    b = block();
    Member* slot = new (&memberData()[b->size]) Member(key, Value());
    ++b->size;
    return slot->_value;
}

void Value::set(std::string_view key, Value value) {
    (*this)[key] = std::move(value);
}

bool Value::erase(std::string_view key) {
    Value* found = find(key);
    if (!found) return false;
    Member* all = memberData();
    std::size_t size = block()->size;
    std::size_t index = 0;
    while (&all[index]._value != found)
        ++index;
    for (std::size_t i = index; i + 1 < size; ++i) {
        all[i]._key = std::move(all[i + 1]._key);
        all[i]._value = std::move(all[i + 1]._value);
    }
    all[size - 1].~Member();
    --block()->size;
    return true;
}

bool operator==(const Value& a, const Value& b) {
    using Tag = Value::Tag;
    // Compares one pair without descending; containers hand their children to `pending`.
    std::vector<std::pair<const Value*, const Value*>> pending;
    auto shallowEqual = [&pending](const Value& x, const Value& y) {
        Value::Type type = x.type();
        if (type != y.type()) return false;
        switch (type) {
            case Value::Type::Null:
                return true;
            case Value::Type::Bool:
                return x.tag() == y.tag();
            case Value::Type::Number:
                if (x.tag() == Tag::kSmallDecimal && y.tag() == Tag::kSmallDecimal) {
                    return std::memcmp(x._bytes, y._bytes, 16) == 0;
                }
                return Value::Impl::numbersEqual(x, y);
            case Value::Type::String:
                return x.asString() == y.asString();
            case Value::Type::Array: {
                std::span<const Value> xs = x.items(), ys = y.items();
                if (xs.size() != ys.size()) return false;
                for (std::size_t i = 0; i < xs.size(); ++i)
                    pending.emplace_back(&xs[i], &ys[i]);
                return true;
            }
            case Value::Type::Object: {
                std::span<const Value::Member> xs = x.members(), ys = y.members();
                if (xs.size() != ys.size()) return false;
                for (std::size_t i = 0; i < xs.size(); ++i) {
                    // Keys are unique, so equal sizes and every key found means equal key sets.
                    const Value* other = i < ys.size() && ys[i].key() == xs[i].key()
                                             ? &ys[i].value()
                                             : y.find(xs[i].key());
                    if (!other) return false;
                    pending.emplace_back(&xs[i].value(), other);
                }
                return true;
            }
        }
        return false;
    };
    if (!shallowEqual(a, b)) return false;
    while (!pending.empty()) {
        auto [x, y] = pending.back();
        pending.pop_back();
        if (!shallowEqual(*x, *y)) return false;
    }
    return true;
}

}  // namespace quorbit::json
