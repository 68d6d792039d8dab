#include "platform/core/FileHandle.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace quorbit::platform {

void FileHandle::reset(int fd) noexcept {
    int old = std::exchange(_fd, fd);
    // A close interrupted by a signal has still let go of the descriptor on Linux: it is
    // never retried, as a retry could close a descriptor another thread has just opened.
    if (old >= 0 && old != fd) ::close(old);
}

Result<void> FileHandle::close() {
    int fd = release();
    if (fd < 0) return {};
    if (::close(fd) != 0 && errno != EINTR) return Error::posix(errno);
    return {};
}

Result<Pipe> makePipe(int flags) {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, flags) != 0) return Error::posix(errno);
    return Pipe{FileHandle(fds[0]), FileHandle(fds[1])};
}

}  // namespace quorbit::platform
