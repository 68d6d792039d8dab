#include "support/Scratch.h"

#include <stdlib.h>

#include <fstream>
#include <stdexcept>

#include "platform/core/Bundle.h"

namespace quorbit::testing {

namespace fs = std::filesystem;

ScratchDir::ScratchDir(const std::string& prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch folder");
    _path = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    // Tests may leave folders they made unwritable; make them writable to remove them.
    for (auto it = fs::recursive_directory_iterator(_path, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::permissions(_path, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(_path, ignored);
}

fs::path ScratchDir::write(const fs::path& name, const std::string& bytes) const {
    fs::path target = _path / name;
    fs::create_directories(target.parent_path());
    std::ofstream(target, std::ios::binary) << bytes;
    return target;
}

std::string ScratchDir::read(const fs::path& name) const {
    return platform::readFile(_path / name).value_or("");
}

}  // namespace quorbit::testing
