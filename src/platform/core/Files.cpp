#include "platform/core/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quorbit::platform {
namespace fs = std::filesystem;
namespace {

constexpr int kMaxLinkHops = 40;  // as the kernel allows

Error fileError(FileError code, std::string message, int errnum = 0) {
    return Error::make(code, std::move(message), errnum);
}

// An error from errno after an open or stat of path.
Error systemError(const fs::path& path, const char* action, int error) {
    FileError code =
        error == ENOENT || error == ENOTDIR ? FileError::Missing : FileError::Unreadable;
    return fileError(
        code, std::string("cannot ") + action + " " + path.string() + ": " + std::strerror(error),
        error);
}

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "a special file";
}

Error notRegular(const fs::path& path, mode_t mode) {
    return fileError(FileError::NotRegular,
                     path.string() + " is " + kindOf(mode) + ", not a regular file");
}

Error tooLarge(const std::string& name, std::uint64_t maxBytes) {
    return fileError(FileError::TooLarge,
                     name + " is larger than the limit of " + describeSize(maxBytes));
}

}  // namespace

Result<FileHandle> openRegularFile(const fs::path& path, std::uint64_t maxBytes) {
    // The type is checked before the open (opening a FIFO or a device can block or act), and
    // again on the open descriptor in case the path was swapped in between.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return systemError(path, "open", errno);
    if (!S_ISREG(st.st_mode)) return notRegular(path, st.st_mode);
    if (std::uint64_t(st.st_size) > maxBytes) return tooLarge(path.string(), maxBytes);
    FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.fd() < 0) return systemError(path, "open", errno);
    if (::fstat(file.fd(), &st) != 0) return systemError(path, "read", errno);
    if (!S_ISREG(st.st_mode)) return notRegular(path, st.st_mode);
    if (std::uint64_t(st.st_size) > maxBytes) return tooLarge(path.string(), maxBytes);
    int flags = ::fcntl(file.fd(), F_GETFL);
    if (flags >= 0) ::fcntl(file.fd(), F_SETFL, flags & ~O_NONBLOCK);
    return file;
}

Result<std::size_t> readUpTo(int fd, void* out, std::size_t size, const std::string& name) {
    auto* bytes = static_cast<char*>(out);
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::read(fd, bytes + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fileError(FileError::Unreadable,
                             "cannot read " + name + ": " + std::strerror(errno), errno);
        }
        if (n == 0) break;
        done += std::size_t(n);
    }
    return done;
}

Result<std::string> readToEnd(int fd, std::uint64_t maxBytes, const std::string& name) {
    std::string text;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && std::uint64_t(st.st_size) <= maxBytes)
        text.reserve(std::size_t(st.st_size));
    constexpr std::size_t kChunk = 64 * 1024;
    for (;;) {
        // One byte past the limit tells a file of exactly the limit from a larger one.
        std::uint64_t room = maxBytes + 1 - text.size();
        std::size_t want = room < kChunk ? std::size_t(room) : kChunk;
        std::size_t old = text.size();
        text.resize(old + want);
        auto got = readUpTo(fd, text.data() + old, want, name);
        if (!got) return got.error();
        text.resize(old + *got);
        if (text.size() > maxBytes) return tooLarge(name, maxBytes);
        if (*got < want) return text;
    }
}

Result<std::string> readRegularFile(const fs::path& path, std::uint64_t maxBytes) {
    auto file = openRegularFile(path, maxBytes);
    if (!file) return file.error();
    return readToEnd(file->fd(), maxBytes, path.string());
}

Result<std::string> readStandardInput(std::uint64_t maxBytes) {
    const std::string name = "standard input";
    struct stat st {};
    if (::fstat(STDIN_FILENO, &st) != 0) {
        return fileError(FileError::Unreadable, "cannot read " + name + ": " + std::strerror(errno),
                         errno);
    }
    bool usable = S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) ||
                  (S_ISCHR(st.st_mode) && ::isatty(STDIN_FILENO));
    if (!usable) {
        return fileError(FileError::NotRegular,
                         name + " is " + kindOf(st.st_mode) + ", not a file, a pipe or a terminal");
    }
    return readToEnd(STDIN_FILENO, maxBytes, name);
}

Result<fs::path> writeTarget(const fs::path& path) {
    fs::path current = path;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0) {
            // Absent: the write makes it. Any other trouble shows when the write is tried.
            if (errno == ENOENT || errno == ENOTDIR) return current;
            return systemError(current, "look at", errno);
        }
        if (S_ISREG(st.st_mode)) return current;
        if (!S_ISLNK(st.st_mode)) return notRegular(current, st.st_mode);
        if (hops == kMaxLinkHops) {
            return fileError(FileError::Unreadable,
                             path.string() + " is a loop of symbolic links, or too long a chain");
        }
        std::error_code ec;
        fs::path next = fs::read_symlink(current, ec);
        if (ec) return systemError(current, "read the link", ec.value());
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
}

std::string describeSize(std::uint64_t bytes) {
    const char* units[] = {"GiB", "MiB", "KiB"};
    std::uint64_t scales[] = {1024 * kMiB, kMiB, 1024};
    for (int i = 0; i < 3; ++i) {
        if (bytes >= scales[i]) {
            char text[48];
            if (bytes % scales[i] == 0)
                std::snprintf(text, sizeof text, "%llu %s",
                              static_cast<unsigned long long>(bytes / scales[i]), units[i]);
            else
                std::snprintf(text, sizeof text, "%.1f %s", double(bytes) / double(scales[i]),
                              units[i]);
            return text;
        }
    }
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

}  // namespace quorbit::platform
