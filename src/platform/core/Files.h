#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/core/Error.h"
#include "platform/core/FileHandle.h"

namespace quorbit::platform {

// Reading files that come from outside: only regular files are opened, and no more than a
// stated number of bytes is read. A directory, a FIFO, a device or a socket is refused from
// its type before it is opened, so a FIFO cannot block and /dev/zero cannot fill memory; a
// file that grows while it is read (or reports no size, as /proc files do) is still cut off
// at the limit.
inline constexpr const char* kFileErrorDomain = "quorbit.file";
enum class FileError : long {
    Missing = 1,     // no such file (or a folder on the way is missing)
    NotRegular = 2,  // a directory, FIFO, device or socket
    TooLarge = 3,    // more bytes than the limit
    Unreadable = 4,  // no permission, a loop of links, an I/O error
};
constexpr const char* errorDomain(FileError) {
    return kFileErrorDomain;
}

inline constexpr std::uint64_t kMiB = 1024 * 1024;

// Opens path for reading when it is, or links to, a regular file of at most maxBytes bytes.
Result<FileHandle> openRegularFile(const std::filesystem::path& path, std::uint64_t maxBytes);

// The whole content of such a file.
Result<std::string> readRegularFile(const std::filesystem::path& path, std::uint64_t maxBytes);

// Reads up to `size` bytes, fewer only at the end of the data; retries interrupted reads.
// The error names `name` ("standard input", a path).
Result<std::size_t> readUpTo(int fd, void* out, std::size_t size, const std::string& name);

// Everything left on an open descriptor (a file, a pipe, a terminal), refused once it holds
// more than maxBytes bytes.
Result<std::string> readToEnd(int fd, std::uint64_t maxBytes, const std::string& name);

// Standard input, when it is a regular file, a pipe, a socket or a terminal (a device such as
// /dev/zero, or a directory, is refused), up to maxBytes.
Result<std::string> readStandardInput(std::uint64_t maxBytes);

// Where a write to path must go so that a symbolic link stays a link: the end of its chain
// of links (relative links are taken from the link's own folder), or path itself. An error
// when that end exists and is not a regular file, or the links loop.
Result<std::filesystem::path> writeTarget(const std::filesystem::path& path);

// "64 MiB", "512 KiB", "17 bytes": sizes in messages.
std::string describeSize(std::uint64_t bytes);

}  // namespace quorbit::platform
