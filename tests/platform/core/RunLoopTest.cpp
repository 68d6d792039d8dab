#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <numeric>
#include <thread>

#include "platform/core/FileHandle.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/DisplayLink.h"

namespace quorbit::platform {
namespace {

using namespace std::chrono_literals;

TEST(RunLoop, TasksFromOtherThreadsRunOnTheLoopInPostingOrder) {
    RunLoop& loop = RunLoop::main();
    EXPECT_TRUE(RunLoop::isMainThread());
    std::vector<int> order, expected(100);
    bool offMain = false;
    std::thread([&] {
        offMain = !RunLoop::isMainThread();
        for (int i = 0; i < 100; ++i)
            loop.post([&order, i] { order.push_back(i); });
    }).join();
    EXPECT_TRUE(offMain);
    ASSERT_TRUE(loop.runUntil([&] { return order.size() == 100; }, 2s));
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
}

TEST(RunLoop, TimersGoByTheSetClockInDueOrderThenInTheOrderAdded) {
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
    // The set clock moved on, then one turn of the loop: what has fired by then.
    auto after = [&](RunLoop::Duration step) { return t += step, loop.runOnce(0ms), fired; };
    loop.runOnce(20ms);  // real time passing does not move the set clock
    EXPECT_EQ(after(9ms), "");
    EXPECT_EQ(after(1ms), "bd");
    EXPECT_EQ(after(40ms), "bdca");  // both due in the same pass
    // The repeating timer (next due at 120 ms) goes by that time, not by when it was added.
    loop.addTimer(60ms, [&] { fired += 'e'; });  // due at 110 ms
    EXPECT_EQ(after(100ms), "bdcaec");
    EXPECT_FALSE(loop.hasTimer(repeating));
    EXPECT_EQ(after(1s), "bdcaec") << "one-shot and cancelled timers fire no more";
    // Without a set clock, timers go by real time again; a pending one keeps the time it
    // had left (the set clock ran a second ahead of the real one).
    loop.addTimer(50ms, [&] { fired += 'f'; });
    loop.setClock({});
    EXPECT_TRUE(loop.runUntil([&] { return fired.back() == 'f'; }, 500ms));
}

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
        RunLoopHandle hook =
            loop.hook([&] { return ++hooked, std::optional<RunLoop::Duration>(); });
        RunLoopHandle moved = std::move(timer);
        timer.reset();  // moved from: removes nothing
        EXPECT_TRUE(moved.active());
        RunLoopHandle replaced = loop.timer(0ms, [&] { kept += 1; });
        replaced = loop.timer(0ms, [&] { kept += 10; });  // the first one goes
        loop.runOnce(0ms);
        EXPECT_EQ(kept, 10);
        EXPECT_TRUE(watched >= 1 && hooked >= 1 && watch.active() && hook.active());
    }
    const auto before = std::tuple(0, watched, hooked);
    loop.runFor(20ms);
    EXPECT_EQ(std::tuple(fired, watched, hooked), before);  // none ran after its handle went
    // A one-shot timer is no longer active once it has fired; resetting it then is harmless.
    int onceFired = 0;
    RunLoopHandle once = loop.timer(0ms, [&] { ++onceFired; });
    ASSERT_TRUE(loop.runUntil([&] { return !once.active(); }, 1s));
    once.reset();
    EXPECT_EQ(onceFired, 1);
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
    const int stopped = ticks;
    RunLoop::main().runFor(40ms);
    EXPECT_EQ(ticks, stopped);
    DisplayLink::setRefreshRate(0);
}

TEST(NotificationCenter, MatchesByNameAndSenderStopsAtRemovalAndDeliversOnTheMainThread) {
    NotificationCenter center;
    int sender = 0, other = 0;
    std::vector<std::string> heard;
    auto note = [&](std::string tag) {
        return [&heard, tag](const Notification& n) { heard.push_back(tag + ":" + n.name); };
    };
    center.addObserver("A", nullptr, note("anyA"));
    center.addObserver("A", &sender, note("senderA"));
    center.addObserver("", nullptr, note("all"));
    auto owner = &heard;
    center.addObserver("B", nullptr, note("ownedB"), owner);
    center.post("A", &sender);
    center.post("A", &other);
    center.post("B");
    EXPECT_EQ(heard, (std::vector<std::string>{"anyA:A", "senderA:A", "all:A", "anyA:A", "all:A",
                                               "all:B", "ownedB:B"}));
    heard.clear();
    center.removeObserver(owner);
    center.post("B");
    EXPECT_EQ(heard, (std::vector<std::string>{"all:B"}));
    // An observer removed during a delivery is not called.
    NotificationCenter::Id second = 0;
    center.addObserver("X", nullptr, [&](const Notification&) { center.removeObserver(second); });
    second = center.addObserver("X", nullptr, note("second"));
    center.post("X");
    center.post("X");
    EXPECT_EQ(heard, (std::vector<std::string>{"all:B", "all:X", "all:X"}));
    EXPECT_EQ(center.observerCount(), 4u);
    // Posts from other threads arrive on the main thread.
    RunLoop& loop = RunLoop::main();
    std::vector<bool> onMain;
    center.addObserver("T", nullptr, [&](const Notification& n) {
        onMain.push_back(RunLoop::isMainThread());
        EXPECT_EQ(n.userInfo.at("k"), "v");
    });
    std::thread([&] { center.post("T", nullptr, {{"k", "v"}}); }).join();
    EXPECT_TRUE(onMain.empty()) << "not delivered on the posting thread";
    loop.runUntil([&] { return !onMain.empty(); }, 2s);
    EXPECT_EQ(onMain, (std::vector<bool>{true}));
}

}  // namespace
}  // namespace quorbit::platform
