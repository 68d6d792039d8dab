#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gpu/ShaderProgram.h"

namespace quorbit::gpu {

// The sixteen filter slots. A slot's base name names both of its shader files; "Normal"
// opens every page of four in the picker.
inline constexpr int kFilterSlotCount = 16;
inline constexpr std::array<const char*, kFilterSlotCount> kFilterSlotNames = {
    "Normal", "Xray",      "Sketch",  "Bulge",  "Normal", "Sepia",     "Thermal",      "Mirror",
    "Normal", "Grayscale", "Stretch", "Squish", "Normal", "Valentine", "Light Tunnel", "Newspaper",
};

using ProgramList = std::vector<std::shared_ptr<ShaderProgram>>;

// One compiled program per slot, in slot order. A slot whose shaders are missing or do not
// compile is kept like any other (drawing with it installs no program) and logged as a
// warning with the reason.
ProgramList createFilterPrograms();

// The slot of a program in the list, by identity; empty when it is not there.
std::optional<int> slotOfProgram(const ProgramList& programs, const ShaderProgram* program);

// Slot from a command-line style name: a number 0-15 or a base name (case-insensitive; the
// first slot of that name).
std::optional<int> slotFromName(const std::string& name);

// The distinct base names, in slot order ("Normal, Xray, ...").
std::vector<std::string> distinctFilterNames();

}  // namespace quorbit::gpu
