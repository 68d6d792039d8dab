#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/core/RunLoop.h"
#include "platform/ui/DisplayLink.h"

namespace quorbit::platform {
namespace {

using namespace std::chrono_literals;

TEST(RunLoop, TasksFromOtherThreadsRunOnTheLoopInPostingOrder) {
    RunLoop& loop = RunLoop::main();
    EXPECT_TRUE(RunLoop::isMainThread());
    std::vector<int> order;
    std::atomic<bool> offMain{false};
    std::thread worker([&] {
        offMain = !RunLoop::isMainThread();
        for (int i = 0; i < 100; ++i)
            loop.post([&order, i] { order.push_back(i); });
    });
    worker.join();
    EXPECT_TRUE(offMain);
    ASSERT_TRUE(loop.runUntil([&] { return order.size() == 100; }, 2s));
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[size_t(i)], i);
}

TEST(RunLoop, TimersGoByTheClockSetOnTheLoop) {
    RunLoop& loop = RunLoop::main();
    auto t = RunLoop::Clock::now();
    loop.setClock([&t] { return t; });
    std::vector<int> fired;
    loop.addTimer(500ms, [&] { fired.push_back(500); });
    loop.addTimer(1s, [&] { fired.push_back(1000); });
    // Real time passing does not move the set clock.
    loop.runOnce(20ms);
    EXPECT_TRUE(fired.empty());
    t += 499ms;
    loop.runOnce(0ms);
    EXPECT_TRUE(fired.empty());
    t += 1ms;
    loop.runOnce(0ms);
    EXPECT_EQ(fired, std::vector<int>{500});
    t += 500ms;
    loop.runOnce(0ms);
    EXPECT_EQ(fired, (std::vector<int>{500, 1000}));
    // Without a set clock, timers go by real time again; a pending one keeps the time it
    // had left (the set clock ran a second ahead of the real one).
    loop.addTimer(50ms, [&] { fired.push_back(50); });
    loop.setClock({});
    EXPECT_TRUE(loop.runUntil([&] { return fired.size() == 3; }, 500ms));
}

TEST(RunLoop, TimersDueInOnePassFireInDueOrderThenInTheOrderAdded) {
    RunLoop& loop = RunLoop::main();
    auto t = RunLoop::Clock::now();
    loop.setClock([&t] { return t; });
    std::string fired;
    loop.addTimer(30ms, [&] { fired += 'a'; });
    loop.addTimer(10ms, [&] { fired += 'b'; });
    // The repeating one stops itself from its second run.
    int repeats = 0;
    RunLoop::Id repeating = 0;
    repeating = loop.addTimer(
        20ms,
        [&] {
            fired += 'c';
            if (++repeats == 2) loop.cancelTimer(repeating);
        },
        100ms);
    loop.addTimer(10ms, [&] { fired += 'd'; });
    RunLoop::Id cancelled = loop.addTimer(5ms, [&] { fired += 'x'; });
    loop.addTimer(0ms, [&] { loop.cancelTimer(cancelled); });
    t += 50ms;  // all of them are due in the same pass
    loop.runOnce(0ms);
    EXPECT_EQ(fired, "bdca");
    // The repeating timer (next due at 120 ms) goes by that time, not by when it was added.
    loop.addTimer(60ms, [&] { fired += 'e'; });  // due at 110 ms
    t += 100ms;
    loop.runOnce(0ms);
    EXPECT_EQ(fired, "bdcaec");
    EXPECT_FALSE(loop.hasTimer(repeating));
    t += 500ms;
    loop.runOnce(0ms);
    EXPECT_EQ(fired, "bdcaec") << "one-shot and cancelled timers fire no more";
    loop.setClock({});
}

TEST(RunLoop, WatchesFileDescriptors) {
    RunLoop& loop = RunLoop::main();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string received;
    RunLoop::Id watch = loop.watchFd(fds[0], RunLoop::Readable, [&](short) {
        char buffer[16];
        ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n > 0) received.append(buffer, size_t(n));
    });
    std::thread writer([&] {
        std::this_thread::sleep_for(10ms);
        ssize_t n = write(fds[1], "frame", 5);
        (void)n;
    });
    EXPECT_TRUE(loop.runUntil([&] { return received == "frame"; }, 2s));
    writer.join();
    loop.unwatchFd(watch);
    close(fds[0]);
    close(fds[1]);
}

TEST(DisplayLink, FiresAtItsFrameIntervalUntilInvalidated) {
    DisplayLink::setRefreshRate(200);  // 5 ms a refresh keeps the test short
    int ticks = 0;
    DisplayLink link([&] { ++ticks; });
    link.setFrameInterval(0);
    EXPECT_EQ(link.frameInterval(), 1);
    link.setFrameInterval(4);  // every 20 ms
    link.addToRunLoop(RunLoop::main());
    RunLoop::main().runFor(110ms);
    EXPECT_GE(ticks, 3);
    EXPECT_LE(ticks, 6);
    link.invalidate();
    int stopped = ticks;
    RunLoop::main().runFor(40ms);
    EXPECT_EQ(ticks, stopped);
    DisplayLink::setRefreshRate(0);
}

}  // namespace
}  // namespace quorbit::platform
