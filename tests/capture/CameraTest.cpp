#include "capture/Camera.h"

#include <gtest/gtest.h>

#include "FakeDevices.h"

namespace quorbit::capture::testing {
namespace {

using Pos = DevicePosition;

platform::RunLoop& mainLoop() {
    return platform::RunLoop::main();
}

std::shared_ptr<FakeDevice> fake(Pos position, std::uint8_t tag) {
    return std::make_shared<FakeDevice>("/dev/fake" + std::to_string(tag), position, tag);
}

CameraOptions quickOptions() {
    CameraOptions options;
    options.pollInterval = 10ms;
    options.retryDelay = 20ms;
    options.stallTimeout = 200ms;
    return options;
}

// Runs the main loop until the delegate has n more frames; false on time-out.
bool waitFrames(RecordingDelegate& delegate, std::size_t n) {
    std::size_t target = delegate.tags.size() + n;
    return mainLoop().runUntil([&] { return delegate.tags.size() >= target; }, 3s);
}

TEST(Camera, FindsCamerasByPositionAndStartsOnTheFront) {
    struct Case {
        const char* name;
        std::vector<Pos> positions;
        int numCameras, front, back;  // indexes into positions, -1: none
        int type;
    } cases[] = {
        {"front and back", {Pos::Back, Pos::Front}, 2, 1, 0, kCameraFront},
        {"back only", {Pos::Back}, 1, -1, 0, kCameraBack},
        {"front only", {Pos::Front}, 1, 0, -1, kCameraFront},
        {"the later of two fronts wins",
         {Pos::Front, Pos::Back, Pos::Front},
         3,
         2,
         1,
         kCameraFront},
        {"other positions skipped",
         {Pos::Unspecified, Pos::Back, Pos::Unspecified},
         1,
         -1,
         1,
         kCameraBack},
        {"none", {}, 0, -1, -1, kCameraBack},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::shared_ptr<CaptureDevice>> devices;
        for (std::size_t i = 0; i < c.positions.size(); ++i)
            devices.push_back(fake(c.positions[i], std::uint8_t(10 + i)));
        auto at = [&](int i) { return i < 0 ? nullptr : devices[std::size_t(i)]; };
        Camera camera(std::make_shared<FakeLayer>(devices), quickOptions());
        RecordingDelegate delegate;
        camera.setDelegate(&delegate);
        EXPECT_EQ(camera.numCameras(), c.numCameras);
        EXPECT_EQ(camera.frontCameraDevice(), at(c.front));
        EXPECT_EQ(camera.backCameraDevice(), at(c.back));
        EXPECT_EQ(camera.curCameraType(), c.type);
        auto expected = at(c.type == kCameraFront ? c.front : c.back);
        if (!expected) {
            EXPECT_FALSE(camera.createAndStartCapture());
            mainLoop().runFor(100ms);
            EXPECT_TRUE(delegate.tags.empty());
            continue;
        }
        ASSERT_TRUE(waitFrames(delegate, 3));
        for (int tag : delegate.tags)
            EXPECT_EQ(tag, static_cast<FakeDevice&>(*expected).tag);
        EXPECT_EQ(delegate.sizes.back(), std::make_pair(640, 480));
    }
}

TEST(Camera, SwapSwitchesInputsAndTwiceReturns) {
    auto back = fake(Pos::Back, 1), front = fake(Pos::Front, 2);
    Camera camera(
        std::make_shared<FakeLayer>(std::vector<std::shared_ptr<CaptureDevice>>{back, front}),
        quickOptions());
    RecordingDelegate delegate;
    camera.setDelegate(&delegate);
    ASSERT_TRUE(waitFrames(delegate, 2));
    for (int expected : {kCameraBack, kCameraFront, kCameraBack}) {
        camera.swapCamera();
        EXPECT_EQ(camera.curCameraType(), expected);
        EXPECT_TRUE(camera.isRunning());
        std::size_t from = delegate.tags.size();
        ASSERT_TRUE(waitFrames(delegate, 3));
        // Every frame after the swap comes from the new camera.
        for (std::size_t i = from; i < delegate.tags.size(); ++i)
            EXPECT_EQ(delegate.tags[i], expected == kCameraFront ? 2 : 1) << "frame " << i;
    }
}

TEST(Camera, SwapWithOneCameraKeepsDelivering) {
    auto only = fake(Pos::Back, 7);
    Camera camera(std::make_shared<FakeLayer>(std::vector<std::shared_ptr<CaptureDevice>>{only}),
                  quickOptions());
    RecordingDelegate delegate;
    camera.setDelegate(&delegate);
    camera.swapCamera();
    EXPECT_EQ(camera.curCameraType(), kCameraBack);
    ASSERT_TRUE(waitFrames(delegate, 3));
    EXPECT_EQ(delegate.tags.back(), 7);
}

TEST(Camera, StopAndRestartAreIdempotent) {
    auto front = fake(Pos::Front, 3);
    Camera camera(std::make_shared<FakeLayer>(std::vector<std::shared_ptr<CaptureDevice>>{front}),
                  quickOptions());
    RecordingDelegate delegate;
    camera.setDelegate(&delegate);
    ASSERT_TRUE(waitFrames(delegate, 2));

    camera.restartCamera();  // already running: nothing happens
    ASSERT_TRUE(waitFrames(delegate, 2));
    EXPECT_EQ(front->opens, 1);

    for (int i = 0; i < 2; ++i) {
        camera.stopCamera();
        EXPECT_FALSE(camera.isRunning());
        std::size_t stoppedAt = delegate.tags.size();
        EXPECT_TRUE(pumpUntil([&] { return front->closes == 1; }, 2s));
        mainLoop().runFor(100ms);
        EXPECT_EQ(delegate.tags.size(), stoppedAt) << "no frame after stopCamera";
    }

    for (int i = 0; i < 2; ++i) {
        camera.restartCamera();
        EXPECT_TRUE(camera.isRunning());
        ASSERT_TRUE(waitFrames(delegate, 2));
    }
    EXPECT_EQ(front->opens, 2);
    EXPECT_EQ(delegate.maxDepth, 1);
}

TEST(Camera, CapsDeliveriesByTheInjectedClock) {
    FakeClock clock;
    auto front = fake(Pos::Front, 4);
    front->clock = &clock;
    front->clockStep = 10ms;  // 100 frames a second in the camera's time
    front->interval = std::chrono::microseconds(200);
    CameraOptions options = quickOptions();
    options.clock = clock.function();
    Camera camera(std::make_shared<FakeLayer>(std::vector<std::shared_ptr<CaptureDevice>>{front}),
                  options);
    RecordingDelegate delegate;
    std::vector<std::chrono::steady_clock::time_point> at;
    delegate.during = [&](PixelBuffer&) { at.push_back(clock.now()); };
    camera.setDelegate(&delegate);
    auto start = clock.now();
    ASSERT_TRUE(waitFrames(delegate, 20));
    camera.stopCamera();
    double seconds = std::chrono::duration<double>(clock.now() - start).count();
    EXPECT_LE(double(at.size()), seconds * 24 + 2);
    EXPECT_GT(front->frames, int(at.size()));
    for (std::size_t i = 1; i < at.size(); ++i)
        EXPECT_GE(at[i] - at[i - 1], FrameMailbox::kMinFrameInterval / 2);
}

TEST(Camera, FailingDevicesAreReportedOnceAndTheCameraStaysUp) {
    struct Case {
        const char* name;
        std::function<void(FakeDevice&)> setUp;
        std::string message;
    } cases[] = {
        {"busy", [](FakeDevice& d) { d.openError = "busy (in use by another program)"; }, "busy"},
        {"unplugged while capturing", [](FakeDevice& d) { d.failAfter = 2; }, "unplugged"},
        {"no frames", [](FakeDevice& d) { d.silent = true; }, "delivers no frames"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        FakeClock clock;
        auto front = fake(Pos::Front, 5);
        front->clock = &clock;
        c.setUp(*front);
        CameraOptions options = quickOptions();
        options.clock = clock.function();
        Camera camera(
            std::make_shared<FakeLayer>(std::vector<std::shared_ptr<CaptureDevice>>{front}),
            options);
        RecordingDelegate delegate;
        camera.setDelegate(&delegate);
        EXPECT_TRUE(pumpUntil([&] { return log.count(c.message) > 0; }, 3s));
        mainLoop().runFor(300ms);  // long enough for several retries
        EXPECT_EQ(log.count("camera /dev/fake5: "), 1);
        EXPECT_EQ(log.count(c.message), 1);
        EXPECT_TRUE(camera.isRunning());
        EXPECT_LE(delegate.tags.size(), 2u);
        // The main thread stays free: a swap or stop answers at once.
        auto before = std::chrono::steady_clock::now();
        camera.stopCamera();
        EXPECT_LT(std::chrono::steady_clock::now() - before, 5ms);
    }
}

}  // namespace
}  // namespace quorbit::capture::testing
