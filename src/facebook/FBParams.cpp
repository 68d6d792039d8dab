#include "facebook/FBParams.h"

namespace quorbit::facebook {

FBParams::FBParams(std::initializer_list<std::pair<std::string, std::string>> texts) {
    for (const auto& [key, value] : texts)
        set(key, value);
}

void FBParams::set(const std::string& key, Value value) {
    for (Entry& entry : _entries) {
        if (entry.first == key) {
            entry.second = std::move(value);
            return;
        }
    }
    _entries.emplace_back(key, std::move(value));
}

bool FBParams::erase(const std::string& key) {
    for (auto it = _entries.begin(); it != _entries.end(); ++it) {
        if (it->first == key) {
            _entries.erase(it);
            return true;
        }
    }
    return false;
}

const FBParams::Value* FBParams::find(const std::string& key) const {
    for (const Entry& entry : _entries) {
        if (entry.first == key) return &entry.second;
    }
    return nullptr;
}

std::optional<std::string> FBParams::text(const std::string& key) const {
    const Value* value = find(key);
    if (!value) return std::nullopt;
    if (const auto* s = std::get_if<std::string>(value)) return *s;
    return std::nullopt;
}

}  // namespace quorbit::facebook
