#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/gfx/Image.h"

namespace quorbit::facebook {

// Bytes sent as a file, as they are.
struct FBData {
    std::string bytes;
};

// The parameters of a Facebook request or dialog: text keys to texts, images (sent as PNG)
// or byte buffers. Keys keep the order in which they were first set; setting a key again
// replaces its value in place. Queries and bodies list the parameters in that order.
class FBParams {
  public:
    using Image = std::shared_ptr<const platform::Image>;
    using Value = std::variant<std::string, Image, FBData>;
    using Entry = std::pair<std::string, Value>;

    FBParams() = default;
    FBParams(std::initializer_list<std::pair<std::string, std::string>> texts);

    void set(const std::string& key, Value value);
    bool erase(const std::string& key);
    const Value* find(const std::string& key) const;
    bool contains(const std::string& key) const { return find(key) != nullptr; }
    // The text under key; empty when absent or not a text.
    std::optional<std::string> text(const std::string& key) const;

    const std::vector<Entry>& entries() const { return _entries; }
    std::size_t size() const { return _entries.size(); }
    bool empty() const { return _entries.empty(); }

    static bool isFile(const Value& value) { return !std::holds_alternative<std::string>(value); }

  private:
    std::vector<Entry> _entries;
};

}  // namespace quorbit::facebook
