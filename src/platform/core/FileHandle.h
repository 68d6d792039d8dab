#pragma once

#include <utility>

#include "platform/core/Error.h"

namespace quorbit::platform {

// The owner of an open file descriptor (a file, a pipe's end, a socket, an eventfd): closed
// exactly once, when the handle goes or is reset. Every descriptor the application opens is
// held by one of these; a descriptor that must outlive it is handed on with release().
class FileHandle {
  public:
    FileHandle() = default;
    explicit FileHandle(int fd) : _fd(fd) {}
    FileHandle(FileHandle&& other) noexcept : _fd(other.release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { reset(); }

    int fd() const { return _fd; }
    bool valid() const { return _fd >= 0; }
    explicit operator bool() const { return valid(); }

    // Closes the descriptor held (if any) and holds fd instead.
    void reset(int fd = -1) noexcept;
    // Hands the descriptor over to the caller, who closes it; the handle holds none.
    int release() noexcept { return std::exchange(_fd, -1); }
    // Closes now and says whether the close succeeded: a write's last error can surface only
    // there (a full disk on NFS), so a file that was written checks it. The handle holds none
    // afterwards, whatever the answer.
    Result<void> close();

  private:
    int _fd = -1;
};

// Both ends of a pipe.
struct Pipe {
    FileHandle read;
    FileHandle write;
};

// A new pipe; flags as pipe2() takes them (O_CLOEXEC, O_NONBLOCK).
Result<Pipe> makePipe(int flags);

}  // namespace quorbit::platform
