#include <gtest/gtest.h>

#include <thread>

#include "platform/core/NotificationCenter.h"
#include "platform/core/RunLoop.h"

namespace quorbit::platform {
namespace {

TEST(NotificationCenter, MatchesByNameAndSenderAndStopsAtRemoval) {
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
}

TEST(NotificationCenter, AnObserverRemovedDuringDeliveryIsNotCalled) {
    NotificationCenter center;
    int secondCalls = 0;
    NotificationCenter::Id second = 0;
    center.addObserver("X", nullptr, [&](const Notification&) { center.removeObserver(second); });
    second = center.addObserver("X", nullptr, [&](const Notification&) { ++secondCalls; });
    center.post("X");
    center.post("X");
    EXPECT_EQ(secondCalls, 0);
    EXPECT_EQ(center.observerCount(), 1u);
}

TEST(NotificationCenter, PostsFromOtherThreadsArriveOnTheMainThread) {
    NotificationCenter center;
    RunLoop::main();
    std::vector<bool> onMain;
    center.addObserver("T", nullptr, [&](const Notification& n) {
        onMain.push_back(RunLoop::isMainThread());
        EXPECT_EQ(n.userInfo.at("k"), "v");
    });
    std::thread([&] { center.post("T", nullptr, {{"k", "v"}}); }).join();
    EXPECT_TRUE(onMain.empty()) << "not delivered on the posting thread";
    RunLoop::main().runUntil([&] { return !onMain.empty(); }, std::chrono::seconds(2));
    EXPECT_EQ(onMain, (std::vector<bool>{true}));
}

}  // namespace
}  // namespace quorbit::platform
