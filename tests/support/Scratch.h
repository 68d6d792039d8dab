#pragma once

#include <filesystem>
#include <string>

// A folder of the test's own under the temporary folder, made empty and removed with
// everything in it when the object goes. Tests that write files write them here.
namespace quorbit::testing {

class ScratchDir {
  public:
    explicit ScratchDir(const std::string& prefix = "quorbit-test");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return _path; }
    operator const std::filesystem::path&() const { return _path; }
    std::filesystem::path operator/(const std::filesystem::path& name) const {
        return _path / name;
    }
    // Writes `bytes` to the file `name` here (folders made as needed); its path.
    std::filesystem::path write(const std::filesystem::path& name, const std::string& bytes) const;
    // The bytes of the file `name` here; empty when it cannot be read.
    std::string read(const std::filesystem::path& name) const;

  private:
    std::filesystem::path _path;
};

}  // namespace quorbit::testing
