#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace quorbit::platform {

// The application's bundle: its name, version and resources folder. Resources are found in
// $QUORBIT_RESOURCES, else in "resources" beside the binary, else in the installed share
// folder, else in the source tree (for a build that was not installed).
class Bundle {
  public:
    static Bundle& main();

    explicit Bundle(std::filesystem::path resourcesDir);

    std::string name() const { return "Flurio"; }
    // The application's identifier ("io.github.quorbit.Flurio" unless the build names
    // another): its desktop entry, icon and metainfo carry it, and it is the default store
    // identifier.
    std::string identifier() const;
    std::string version() const;
    const std::filesystem::path& resourcesDir() const { return _resourcesDir; }

    // The file named "<name>.<type>" (or just name when type is empty), optionally inside a
    // sub-folder of the resources; empty when there is no such regular file.
    std::optional<std::filesystem::path> pathForResource(const std::string& name,
                                                         const std::string& type,
                                                         const std::string& subdir = {}) const;

    // The whole file as bytes, or empty when it is missing or unreadable.
    std::optional<std::string> readResource(const std::string& name, const std::string& type,
                                            const std::string& subdir = {}) const;

  private:
    std::filesystem::path _resourcesDir;
};

// Reads a whole regular file of at most kMaxReadFileBytes; empty on any error.
inline constexpr std::uint64_t kMaxReadFileBytes = std::uint64_t(256) << 20;
std::optional<std::string> readFile(const std::filesystem::path& path);

// Writes bytes to path through a temporary file in the same folder and a rename, so that
// readers see either the old file or the whole new one. With durable, the data is flushed
// to disk before the rename. Returns an empty string on success, else a readable reason.
std::string writeFileAtomically(const std::filesystem::path& path, const std::string& bytes,
                                bool durable = false, int mode = 0644);

// The system calls an atomic write makes once its temporary file is open. They are the
// system's own; tests put others in their place to make one fail (or the process end) at a
// chosen step.
struct AtomicWriteCalls {
    std::function<ssize_t(int fd, const void* data, std::size_t size)> write;
    std::function<int(int fd)> fsync;
    std::function<int(int fd)> close;
    std::function<int(const char* from, const char* to)> rename;
};
AtomicWriteCalls& atomicWriteCalls();

}  // namespace quorbit::platform
