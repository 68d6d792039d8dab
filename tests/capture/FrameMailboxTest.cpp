#include "capture/FrameMailbox.h"

#include <gtest/gtest.h>

#include <cstring>

#include "FakeDevices.h"

namespace quorbit::capture::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

struct MailboxFixture {
    platform::RunLoop loop;
    FakeClock clock;
    std::shared_ptr<FrameMailbox> mailbox = FrameMailbox::create(loop, clock.function(), 4, 2);
    RecordingDelegate delegate;
    std::uint64_t epoch = mailbox->advanceEpoch();
    std::vector<nanoseconds> deliveredAt;

    MailboxFixture() {
        mailbox->setDelegate(&delegate);
        delegate.during = [this](PixelBuffer&) {
            deliveredAt.push_back(clock.now().time_since_epoch());
        };
    }
    // A frame arrives on the capture side; answers whether it was taken.
    bool offer(std::uint8_t tag) {
        std::uint8_t* buffer = mailbox->reserve(epoch);
        if (!buffer) return false;
        std::memset(buffer, tag, 4 * 2 * 4);
        mailbox->publish();
        return true;
    }
    void drain() {
        while (loop.runOnce(milliseconds(0))) {
        }
    }
};

TEST(FrameMailbox, CapsTheRateWithoutStarvingSourcesNearIt) {
    const nanoseconds cap = FrameMailbox::kMinFrameInterval;
    struct Case {
        const char* name;
        nanoseconds interval;
        nanoseconds jitter;        // added to odd frames, taken from even ones
        int minFrames, maxFrames;  // over ten seconds; 0, 0: every frame
    } cases[] = {
        {"100 fps is thinned to 24", milliseconds(10), {}, 238, 241},
        {"30 fps is thinned to 24, not halved", nanoseconds(33'333'333), {}, 236, 241},
        {"24 fps with jitter passes whole", cap, milliseconds(4), 0, 0},
        {"10 fps passes whole", milliseconds(100), milliseconds(3), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MailboxFixture f;
        nanoseconds previous{};
        int offered = 0;
        for (; offered * c.interval < std::chrono::seconds(10); ++offered) {
            nanoseconds arrival = offered * c.interval + (offered % 2 ? c.jitter : -c.jitter);
            f.clock.advance(arrival - previous);
            previous = arrival;
            f.offer(std::uint8_t(offered));
            f.drain();
        }
        int count = int(f.deliveredAt.size());
        EXPECT_GE(count, c.minFrames ? c.minFrames : offered);
        EXPECT_LE(count, c.maxFrames ? c.maxFrames : offered);
        for (std::size_t i = 1; i < f.deliveredAt.size(); ++i) {
            EXPECT_GE(f.deliveredAt[i] - f.deliveredAt[i - 1], cap / 2) << "frame " << i;
            // No one-second window holds more than 25 frames.
            if (i >= 25) {
                EXPECT_GT(f.deliveredAt[i] - f.deliveredAt[i - 25], std::chrono::seconds(1));
            }
        }
        EXPECT_EQ(f.mailbox->delivered() + f.mailbox->dropped(), std::uint64_t(offered));
    }
}

TEST(FrameMailbox, DropsFramesWhileTheConsumerIsBusyAndQueuesNone) {
    MailboxFixture f;
    int arrivedWhileBusy = 0, takenWhileBusy = 0;
    std::uint8_t next = 0;
    f.delegate.during = [&](PixelBuffer&) {
        // A slow consumer: 100 ms of work while the source runs at 100 fps.
        for (int i = 0; i < 10; ++i) {
            f.clock.advance(milliseconds(10));
            ++arrivedWhileBusy;
            takenWhileBusy += f.offer(++next);
        }
    };
    for (int i = 0; i < 20; ++i) {
        f.clock.advance(milliseconds(10));
        ASSERT_TRUE(f.offer(++next)) << "the slot is free again after each frame";
        std::uint8_t offered = next;
        f.drain();
        // The frame handed over is the one taken, not an older one, and nothing was kept
        // back for later.
        EXPECT_EQ(f.delegate.tags.back(), offered);
        EXPECT_FALSE(f.loop.runOnce(milliseconds(0)));
    }
    EXPECT_EQ(f.delegate.tags.size(), 20u);
    EXPECT_EQ(arrivedWhileBusy, 200);
    EXPECT_EQ(takenWhileBusy, 0);
    EXPECT_EQ(f.delegate.maxDepth, 1);
}

TEST(FrameMailbox, ANestedLoopInsideTheDelegateGetsNoSecondFrame) {
    MailboxFixture f;
    f.delegate.during = [&](PixelBuffer&) {
        f.clock.advance(milliseconds(100));
        f.offer(9);
        f.loop.runOnce(milliseconds(0));
    };
    f.offer(1);
    f.drain();
    EXPECT_EQ(f.delegate.tags, std::vector<int>{1});
    EXPECT_EQ(f.delegate.maxDepth, 1);
}

TEST(FrameMailbox, ANewEpochDropsFramesOfTheOldOne) {
    MailboxFixture f;
    // Waiting for the main thread when the epoch ends.
    f.offer(1);
    std::uint64_t old = f.epoch;
    f.epoch = f.mailbox->advanceEpoch();
    // Being filled when the epoch ends.
    f.clock.advance(milliseconds(100));
    std::uint8_t* filling = f.mailbox->reserve(f.epoch);
    ASSERT_NE(filling, nullptr);
    std::uint64_t newer = f.mailbox->advanceEpoch();
    f.mailbox->publish();
    f.drain();
    EXPECT_TRUE(f.delegate.tags.empty());
    // A stale epoch gets no buffer; the current one does.
    f.clock.advance(milliseconds(100));
    EXPECT_EQ(f.mailbox->reserve(old), nullptr);
    f.epoch = newer;
    EXPECT_TRUE(f.offer(3));
    f.drain();
    EXPECT_EQ(f.delegate.tags, std::vector<int>{3});
}

TEST(FrameMailbox, OutlivedByItsDeliveryTask) {
    platform::RunLoop loop;
    FakeClock clock;
    RecordingDelegate delegate;
    {
        auto mailbox = FrameMailbox::create(loop, clock.function(), 4, 2);
        mailbox->setDelegate(&delegate);
        std::uint64_t epoch = mailbox->advanceEpoch();
        ASSERT_NE(mailbox->reserve(epoch), nullptr);
        mailbox->publish();
    }
    loop.runOnce(milliseconds(0));
    EXPECT_TRUE(delegate.tags.empty());
}

}  // namespace
}  // namespace quorbit::capture::testing
