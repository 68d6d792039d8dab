#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/core/FileHandle.h"
#include "platform/core/RunLoop.h"

namespace quorbit::platform {
namespace {

using namespace std::chrono_literals;

TEST(RunLoopHandle, TimersWatchesAndHooksGoWithTheirHandle) {
    RunLoop loop;
    auto pipe = makePipe(O_CLOEXEC | O_NONBLOCK);
    ASSERT_TRUE(pipe);
    ASSERT_EQ(::write(pipe->write.fd(), "x", 1), 1);  // readable from the first turn
    int fired = 0, watched = 0, hooked = 0, kept = 0;
    {
        RunLoopHandle timer = loop.timer(5ms, [&] { ++fired; });
        RunLoopHandle watch =
            loop.watch(pipe->read.fd(), RunLoop::Readable, [&](short) { ++watched; });
        RunLoopHandle hook = loop.hook([&] {
            ++hooked;
            return std::optional<RunLoop::Duration>();
        });
        RunLoopHandle moved = std::move(timer);
        timer.reset();  // moved from: removes nothing
        EXPECT_TRUE(moved.active());
        RunLoopHandle replaced = loop.timer(0ms, [&] { kept += 1; });
        replaced = loop.timer(0ms, [&] { kept += 10; });  // the first one goes
        loop.runOnce(0ms);
        EXPECT_EQ(kept, 10);
        EXPECT_GE(watched, 1);
        EXPECT_GE(hooked, 1);
        EXPECT_TRUE(watch.active() && hook.active());
    }
    int watchedBefore = watched, hookedBefore = hooked;
    loop.runFor(20ms);
    EXPECT_EQ(fired, 0);  // none of them ran after its handle went
    EXPECT_EQ(watched, watchedBefore);
    EXPECT_EQ(hooked, hookedBefore);

    // A one-shot timer is no longer active once it has fired; resetting it then is harmless.
    int onceFired = 0;
    RunLoopHandle once = loop.timer(0ms, [&] { ++onceFired; });
    ASSERT_TRUE(loop.runUntil([&] { return !once.active(); }, 1s));
    once.reset();
    EXPECT_EQ(onceFired, 1);
}

}  // namespace
}  // namespace quorbit::platform
