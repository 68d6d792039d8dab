#pragma once

namespace quorbit::platform {

// A row of a table: its section and its row within the section.
struct IndexPath {
    int section = 0;
    int row = 0;

    static IndexPath forRow(int row, int section) { return {section, row}; }
    bool operator==(const IndexPath&) const = default;
    auto operator<=>(const IndexPath&) const = default;
};

}  // namespace quorbit::platform
