#include "gpu/FilterCatalogue.h"

#include <algorithm>
#include <cctype>

#include "platform/core/Log.h"
#include "platform/core/Text.h"

namespace quorbit::gpu {

ProgramList createFilterPrograms() {
    ProgramList programs;
    programs.reserve(kFilterSlotCount);
    for (const char* name : kFilterSlotNames) {
        auto program = std::make_shared<ShaderProgram>(name, name);
        if (!program->compile()) {
            platform::Log::warn(platform::format("filter %s (slot %zu) cannot be used: %s", name,
                                                 programs.size(), program->buildFailure().c_str()));
        }
        programs.push_back(std::move(program));
    }
    return programs;
}

std::optional<int> slotOfProgram(const ProgramList& programs, const ShaderProgram* program) {
    for (size_t i = 0; i < programs.size(); ++i) {
        if (programs[i].get() == program) return static_cast<int>(i);
    }
    return std::nullopt;
}

std::optional<int> slotFromName(const std::string& name) {
    if (!name.empty() && name.size() <= 2 &&
        std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isdigit(c); })) {
        int slot = std::stoi(name);
        if (slot < kFilterSlotCount) return slot;
        return std::nullopt;
    }
    for (int slot = 0; slot < kFilterSlotCount; ++slot) {
        if (platform::lower(kFilterSlotNames[slot]) == platform::lower(name)) return slot;
    }
    return std::nullopt;
}

std::vector<std::string> distinctFilterNames() {
    std::vector<std::string> names;
    for (const char* name : kFilterSlotNames) {
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    return names;
}

}  // namespace quorbit::gpu
