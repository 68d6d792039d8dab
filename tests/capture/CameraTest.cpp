#include "capture/Camera.h"
#include "capture/FrameMailbox.h"

#include <gtest/gtest.h>

#include "FakeDevices.h"

namespace quorbit::capture::testing {
namespace {

using Pos = DevicePosition;

struct CameraFixture {
    FakeClock clock;
    std::shared_ptr<FakeLayer> layer = std::make_shared<FakeLayer>();
    RecordingDelegate delegate;
    std::unique_ptr<Camera> camera;

    FakeDevice& add(Pos position, std::uint8_t tag) {
        auto device = std::make_shared<FakeDevice>(position, tag);
        device->clock = &clock;
        layer->list.push_back(device);
        return *device;
    }
    Camera& start() {
        camera = std::make_unique<Camera>(
            layer, CameraOptions{clock.function(), nullptr, 10ms, 20ms, 200ms});
        camera->setDelegate(&delegate);
        return *camera;
    }
    // Runs the main loop until n more frames came; the clock moves a frame's time each.
    bool frames(std::size_t n, std::chrono::milliseconds timeout = 3000ms) {
        std::size_t target = delegate.tags.size() + n;
        return pumpUntil(
            [&] {
                clock.advance(50ms);
                return delegate.tags.size() >= target;
            },
            timeout);
    }
};

TEST(Camera, FindsCamerasByPositionAndStartsOnTheFront) {
    // front, back: indexes into positions, -1: none; reason: the layer's, for having no camera
    // clang-format off
    struct Case { const char* name; std::vector<Pos> positions; int numCameras, front, back, type; const char* reason = ""; } cases[] = {
        {"front and back", {Pos::Back, Pos::Front}, 2, 1, 0, kCameraFront},
        {"back only", {Pos::Back}, 1, -1, 0, kCameraBack},
        {"two fronts: the later wins", {Pos::Front, Pos::Back, Pos::Front}, 3, 2, 1, kCameraFront},
        {"others skipped", {Pos::Unspecified, Pos::Back, Pos::Unspecified}, 1, -1, 1, kCameraBack},
        {"none", {}, 0, -1, -1, kCameraBack},
        {"none, for the layer's reason", {}, 0, -1, -1, kCameraBack, "Not allowed."},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CameraFixture f;
        f.layer->reason = c.reason;
        for (std::size_t i = 0; i < c.positions.size(); ++i)
            f.add(c.positions[i], std::uint8_t(i));
        auto at = [&](int i) { return i < 0 ? nullptr : f.layer->list[std::size_t(i)]; };
        Camera& camera = f.start();
        EXPECT_EQ(camera.numCameras(), c.numCameras);
        EXPECT_EQ(camera.frontCameraDevice(), at(c.front));
        EXPECT_EQ(camera.backCameraDevice(), at(c.back));
        EXPECT_EQ(camera.curCameraType(), c.type);
        int expected = c.type == kCameraFront ? c.front : c.back;
        EXPECT_EQ(camera.createAndStartCapture(), expected >= 0);
        if (expected < 0) {
            EXPECT_EQ(camera.availability(),
                      (CameraAvailability{false, *c.reason ? c.reason : "No camera found."}));
            EXPECT_FALSE(f.frames(1, 100ms));
            continue;
        }
        ASSERT_TRUE(f.frames(3));
        for (int tag : f.delegate.tags)
            EXPECT_EQ(tag, expected);
    }
}

TEST(Camera, SwapsInputsAndStopsAndRestartsIdempotently) {
    for (bool both : {true, false}) {
        SCOPED_TRACE(both ? "two cameras" : "one camera");
        CameraFixture f;
        FakeDevice& back = f.add(Pos::Back, 0);
        if (both) f.add(Pos::Front, 1);
        Camera& camera = f.start();
        int first = camera.curCameraType();
        ASSERT_TRUE(f.frames(2));
        for (int turn = 1; turn <= 3; ++turn) {
            camera.swapCamera();
            // With one camera nothing changes and frames keep coming from it.
            int type = both && turn % 2 ? 1 - first : first;
            EXPECT_EQ(camera.curCameraType(), type);
            std::size_t from = f.delegate.tags.size();
            ASSERT_TRUE(f.frames(3));
            for (std::size_t i = from; i < f.delegate.tags.size(); ++i)
                EXPECT_EQ(f.delegate.tags[i], type == kCameraFront ? 1 : 0) << "frame " << i;
        }
        if (both) continue;
        // A running camera is not opened again; a stopped one lets go of its device once.
        camera.restartCamera();
        ASSERT_TRUE(f.frames(2));
        EXPECT_EQ(back.opens, 1);
        for (int i = 0; i < 2; ++i) {
            camera.stopCamera();
            EXPECT_FALSE(camera.isRunning());
            EXPECT_TRUE(pumpUntil([&] { return back.closes == 1; }, 2000ms));
            EXPECT_FALSE(f.frames(1, 200ms)) << "no frame after stopCamera";
        }
        for (int i = 0; i < 2; ++i) {
            camera.restartCamera();
            EXPECT_TRUE(camera.isRunning());
            ASSERT_TRUE(f.frames(2));
        }
        EXPECT_EQ(back.opens, 2);
        EXPECT_EQ(f.delegate.maxDepth, 1);
    }
}

// Each failure is logged once, however often the device is tried, and the live view says
// why in the user's words; a device that never delivered is no camera to the user.
TEST(Camera, FailingDevicesAreReportedOnceAndTheCameraStaysUp) {
    auto unplugAfterOne = [](int errnum) {
        return [errnum](FakeDevice& d) { d.failAfter = 1, d.unplugErrno = errnum; };
    };
    // clang-format off
    struct Case { const char* name; std::function<void(FakeDevice&)> setUp; std::string message, reason; } cases[] = {
        {"busy", [](FakeDevice& d) { d.openError = "busy"; }, "busy", "No camera found."},
        {"unplugged while capturing", [](FakeDevice& d) { d.failAfter = 2; }, "unplugged", "The camera does not work: unplugged."},
        {"no frames", [](FakeDevice& d) { d.silent = true; }, "delivers no frames", "No camera found."},
        {"EBUSY", unplugAfterOne(EBUSY), "unplugged", "The camera is in use by another program."},
        {"ENODEV", unplugAfterOne(ENODEV), "unplugged", "The camera was disconnected."},
        {"EACCES", unplugAfterOne(EACCES), "unplugged", "Access to the camera was refused."},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        CameraFixture f;
        c.setUp(f.add(Pos::Front, 5));
        Camera& camera = f.start();
        ASSERT_TRUE(pumpUntil([&] { return !camera.availability().available; }));
        EXPECT_EQ(camera.availability().reason, c.reason);
        EXPECT_TRUE(pumpUntil([&] { return log.count(c.message) > 0; }));
        f.frames(5, 300ms);  // long enough for several retries
        EXPECT_EQ(log.count("camera /dev/fake5: "), 1);
        EXPECT_EQ(log.count(c.message), 1);
        EXPECT_TRUE(camera.isRunning());
        EXPECT_LE(f.delegate.tags.size(), 2u);
        // The main thread never waits for the device, not even for a slow one.
        auto before = std::chrono::steady_clock::now();
        camera.swapCamera();
        camera.restartCamera();
        camera.stopCamera();
        EXPECT_LT(std::chrono::steady_clock::now() - before, 50ms);
        // The capture thread, woken by the stop while it waits to retry the failed device,
        // must go idle (it once read from the device it had just let go of).
        std::this_thread::sleep_for(50ms);
        EXPECT_FALSE(camera.isRunning());
    }
}

TEST(Camera, TellsWhenItIsNotAvailableAndWhenItIsBack) {
    // A camera that fails and comes back: each change heard once, on the main thread, and
    // said once in the log however often it was tried meanwhile.
    LogCapture log;
    CameraFixture f;
    FakeDevice& device = f.add(Pos::Front, 6);
    Camera& camera = f.start();
    std::vector<CameraAvailability> heard;
    camera.setAvailabilityHandler([&](const CameraAvailability& a) {
        EXPECT_TRUE(platform::RunLoop::isMainThread());
        heard.push_back(a);
    });
    ASSERT_TRUE(f.frames(2));
    EXPECT_TRUE(camera.availability().available);
    EXPECT_TRUE(heard.empty());
    device.unplugged = true;
    ASSERT_TRUE(pumpUntil([&] { return !camera.availability().available; }));
    const CameraAvailability lost{false, "The camera does not work: unplugged."};
    EXPECT_EQ(camera.availability(), lost);
    f.frames(1, 200ms);  // tried again meanwhile
    device.unplugged = false;
    ASSERT_TRUE(pumpUntil([&] { return camera.availability().available; }));
    ASSERT_GE(heard.size(), 2u);
    EXPECT_EQ(heard.front(), lost);
    EXPECT_EQ(heard.back(), CameraAvailability{});
    for (std::size_t i = 1; i < heard.size(); ++i)
        EXPECT_NE(heard[i], heard[i - 1]);
    EXPECT_EQ(log.count("camera /dev/fake6: unplugged"), 1);
    // Logged on the capture thread just after it told the main thread.
    const char* again = "camera /dev/fake6: delivering frames again";
    EXPECT_TRUE(pumpUntil([&] { return log.count(again) > 0; }));
    EXPECT_EQ(log.count(again), 1);
}

TEST(Camera, IsDestroyedPromptlyWhateverItsDeviceIsDoing) {
    for (bool inOpen : {true, false}) {
        SCOPED_TRACE(inOpen ? "stuck opening" : "stuck reading");
        CameraFixture f;
        FakeDevice& device = f.add(Pos::Back, 9);
        (inOpen ? device.hangInOpen : device.hangInRead) = true;
        f.start();
        ASSERT_TRUE(pumpUntil([&] { return device.hanging.load(); }));
        int abandoned = Camera::abandonedCaptureThreads();
        auto before = std::chrono::steady_clock::now();
        f.camera.reset();
        auto took = std::chrono::steady_clock::now() - before;
        EXPECT_GE(took, Camera::kStopWait - 10ms);
        EXPECT_LT(took, Camera::kStopWait + 300ms);
        EXPECT_EQ(Camera::abandonedCaptureThreads(), abandoned + 1);
        // Set free, the thread left behind ends by itself, closing the device.
        device.hangInOpen = device.hangInRead = false;
        EXPECT_TRUE(pumpUntil([&] { return device.closes > 0; }));
    }
    // A device that answers is waited for: no thread is left behind.
    CameraFixture f;
    f.add(Pos::Back, 10);
    f.start();
    ASSERT_TRUE(f.frames(1));
    int abandoned = Camera::abandonedCaptureThreads();
    f.camera.reset();
    EXPECT_EQ(Camera::abandonedCaptureThreads(), abandoned);
}

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
        if (buffer) buffer[0] = tag, mailbox->publish();
        return buffer;
    }
    void drain() {
        while (loop.runOnce(0ms)) {
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
        {"100 fps is thinned to 24", 10ms, {}, 238, 241},
        {"30 fps is thinned to 24, not halved", nanoseconds(33'333'333), {}, 236, 241},
        {"24 fps with jitter passes whole", cap, 4ms, 0, 0},
        {"10 fps passes whole", 100ms, 3ms, 0, 0},
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
            f.clock.advance(10ms);
            takenWhileBusy += f.offer(++next);
            f.loop.runOnce(0ms);
        }
    };
    for (int i = 0; i < 20; ++i) {
        f.clock.advance(10ms);
        ASSERT_TRUE(f.offer(++next)) << "the slot is free again after each frame";
        std::uint8_t offered = next;
        f.drain();
        // The frame handed over is the one taken, and nothing was kept back for later.
        EXPECT_EQ(f.delegate.tags.back(), offered);
        EXPECT_FALSE(f.loop.runOnce(0ms));
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
    f.clock.advance(100ms);
    ASSERT_NE(f.mailbox->reserve(f.epoch), nullptr);  // being filled when the epoch ends
    std::uint64_t newer = f.mailbox->advanceEpoch();
    f.mailbox->publish();
    f.drain();
    EXPECT_TRUE(f.delegate.tags.empty());
    f.clock.advance(100ms);
    EXPECT_EQ(f.mailbox->reserve(old), nullptr);
    f.epoch = newer;
    EXPECT_TRUE(f.offer(3));
    f.drain();
    EXPECT_EQ(f.delegate.tags, std::vector<int>{3});
}

}  // namespace
}  // namespace quorbit::capture::testing
