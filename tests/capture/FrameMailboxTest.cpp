#include "capture/FrameMailbox.h"

#include <gtest/gtest.h>

#include "FakeDevices.h"

namespace quorbit::capture::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

struct MailboxFixture {
    platform::RunLoop loop;
    FakeClock clock;
    std::shared_ptr<FrameMailbox> mailbox = FrameMailbox::create(loop, clock.function());
    RecordingDelegate delegate;
    std::uint64_t epoch = mailbox->advanceEpoch();

    MailboxFixture() { mailbox->setDelegate(&delegate); }
    // A frame arrives on the capture side; answers whether it was taken.
    bool offer(std::uint8_t tag) {
        std::uint8_t* buffer = mailbox->reserve(epoch);
        if (buffer) {
            buffer[0] = tag;
            mailbox->publish();
        }
        return buffer;
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
        nanoseconds interval, jitter;  // jitter: added to odd frames, taken from even ones
        int minFrames, maxFrames;      // over ten seconds; 0: every frame
    } cases[] = {
        {"100 fps is thinned to 24", milliseconds(10), {}, 238, 241},
        {"30 fps is thinned to 24, not halved", nanoseconds(33'333'333), {}, 236, 241},
        {"24 fps with jitter passes whole", cap, milliseconds(4), 0, 0},
        {"10 fps passes whole", milliseconds(100), milliseconds(3), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MailboxFixture f;
        std::vector<nanoseconds> at;
        f.delegate.during = [&] { at.push_back(f.clock.now().time_since_epoch()); };
        nanoseconds previous{};
        int offered = 0;
        for (; offered * c.interval < std::chrono::seconds(10); ++offered) {
            nanoseconds arrival = offered * c.interval + (offered % 2 ? c.jitter : -c.jitter);
            f.clock.advance(arrival - previous);
            previous = arrival;
            f.offer(0);
            f.drain();
        }
        EXPECT_GE(int(at.size()), c.minFrames ? c.minFrames : offered);
        EXPECT_LE(int(at.size()), c.maxFrames ? c.maxFrames : offered);
        for (std::size_t i = 1; i < at.size(); ++i) {
            EXPECT_GE(at[i] - at[i - 1], cap / 2) << "frame " << i;
            // No second holds more than 25 frames.
            EXPECT_TRUE(i < 25 || at[i] - at[i - 25] > std::chrono::seconds(1)) << "frame " << i;
        }
        EXPECT_EQ(f.mailbox->delivered() + f.mailbox->dropped(), std::uint64_t(offered));
    }
}

TEST(FrameMailbox, DropsFramesWhileTheConsumerIsBusyAndQueuesNone) {
    MailboxFixture f;
    int takenWhileBusy = 0;
    std::uint8_t next = 0;
    // A slow consumer: 100 ms of work, during which the source delivers at 100 fps and the
    // consumer even runs a nested loop.
    f.delegate.during = [&] {
        for (int i = 0; i < 10; ++i) {
            f.clock.advance(milliseconds(10));
            takenWhileBusy += f.offer(++next);
            f.loop.runOnce(milliseconds(0));
        }
    };
    for (int i = 0; i < 20; ++i) {
        f.clock.advance(milliseconds(10));
        ASSERT_TRUE(f.offer(++next)) << "the slot is free again after each frame";
        std::uint8_t offered = next;
        f.drain();
        // The frame handed over is the one taken, and nothing was kept back for later.
        EXPECT_EQ(f.delegate.tags.back(), offered);
        EXPECT_FALSE(f.loop.runOnce(milliseconds(0)));
    }
    EXPECT_EQ(f.delegate.tags.size(), 20u);
    EXPECT_EQ(takenWhileBusy, 0);
    EXPECT_EQ(f.delegate.maxDepth, 1);
}

TEST(FrameMailbox, ANewEpochDropsFramesOfTheOldOne) {
    MailboxFixture f;
    f.offer(1);  // waiting for the main thread when the epoch ends
    std::uint64_t old = f.epoch;
    f.epoch = f.mailbox->advanceEpoch();
    f.clock.advance(milliseconds(100));
    ASSERT_NE(f.mailbox->reserve(f.epoch), nullptr);  // being filled when the epoch ends
    std::uint64_t newer = f.mailbox->advanceEpoch();
    f.mailbox->publish();
    f.drain();
    EXPECT_TRUE(f.delegate.tags.empty());
    f.clock.advance(milliseconds(100));
    EXPECT_EQ(f.mailbox->reserve(old), nullptr);
    f.epoch = newer;
    EXPECT_TRUE(f.offer(3));
    f.drain();
    EXPECT_EQ(f.delegate.tags, std::vector<int>{3});
}

}  // namespace
}  // namespace quorbit::capture::testing
