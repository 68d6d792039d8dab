#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/core/FileHandle.h"

namespace quorbit::platform {
namespace {

bool isOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

TEST(FileHandle, ClosesItsDescriptorExactlyOnceWhereverItMoved) {
    auto pipe = makePipe(O_CLOEXEC);
    ASSERT_TRUE(pipe);
    FileHandle first(pipe->write.release());
    const int fd = first.fd();
    FileHandle second(std::move(first));
    FileHandle third;
    third = std::move(second);
    EXPECT_FALSE(first.valid());
    EXPECT_FALSE(second.valid());
    EXPECT_TRUE(isOpen(fd));
    third.reset();
    EXPECT_FALSE(isOpen(fd));

    // The number is taken again; the emptied owners going must leave the newcomer open.
    ASSERT_EQ(::dup2(pipe->read.fd(), fd), fd);
    FileHandle newcomer(fd);
    { FileHandle gone = std::move(first); }
    second = FileHandle();
    third.reset();
    EXPECT_TRUE(isOpen(fd));
}

TEST(FileHandle, TakingAnotherDescriptorClosesTheOneHeld) {
    auto pipe = makePipe(O_CLOEXEC);
    ASSERT_TRUE(pipe);
    const int readFd = pipe->read.fd(), writeFd = pipe->write.fd();
    pipe->read = std::move(pipe->write);
    EXPECT_FALSE(isOpen(readFd));
    EXPECT_EQ(pipe->read.fd(), writeFd);

    int released = pipe->read.release();
    pipe->read.reset();  // holds nothing: closes nothing
    EXPECT_TRUE(isOpen(released));
    EXPECT_TRUE(FileHandle(released).close().ok());
    EXPECT_FALSE(isOpen(released));
}

}  // namespace
}  // namespace quorbit::platform
