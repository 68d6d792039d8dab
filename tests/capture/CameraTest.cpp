// The camera over fake devices and over its own sources (the synthetic scene, a picture,
// V4L2 nodes), its sources named on the command line, and the frame mailbox.
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <future>

#include "FakeDevices.h"
#include "capture/Camera.h"
#include "capture/CameraCommandLine.h"
#include "capture/FrameMailbox.h"
#include "capture/SourceDeviceLayer.h"
#include "capture/V4L2DeviceLayer.h"
#include "platform/gfx/ImageCodec.h"
#include "support/HostileFiles.h"
#include "support/QuorbitProcess.h"
#include "support/Scratch.h"

namespace quorbit::capture::testing {
namespace {

using Pos = DevicePosition;
using Kind = CameraSource::Kind;
using quorbit::testing::ScratchDir;

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
        return pumpUntil([&] { return clock.advance(50ms), delegate.tags.size() >= target; },
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
    EXPECT_TRUE(camera.availability().available && heard.empty());
    device.unplugged = true;
    ASSERT_TRUE(pumpUntil([&] { return !camera.availability().available; }));
    const CameraAvailability lost{false, "The camera does not work: unplugged."};
    EXPECT_EQ(camera.availability(), lost);
    f.frames(1, 200ms);  // tried again meanwhile
    device.unplugged = false;
    ASSERT_TRUE(pumpUntil([&] { return camera.availability().available; }));
    ASSERT_GE(heard.size(), 2u);
    EXPECT_TRUE(heard.front() == lost && heard.back() == CameraAvailability{});
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
    // Jitter: added to odd frames, taken from even ones; frames over ten seconds, 0: every one.
    // clang-format off
    struct Case { const char* name; nanoseconds interval, jitter; int minFrames, maxFrames; } cases[] = {
        {"100 fps is thinned to 24", 10ms, {}, 238, 241},
        {"30 fps is thinned to 24, not halved", nanoseconds(33'333'333), {}, 236, 241},
        {"24 fps with jitter passes whole", cap, 4ms, 0, 0},
        {"10 fps passes whole", 100ms, 3ms, 0, 0},
    };
    // clang-format on
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

// A picture of four quadrants (red, green; blue, grey) as a camera source, written in dir.
std::string pictureSource(const ScratchDir& dir) {
    auto written =
        platform::ImageCodec::writePng(quorbit::testing::quadrantPicture(80, 48), dir / "p.png");
    EXPECT_TRUE(written.ok());
    return "image:" + (dir / "p.png").string();
}

TEST(CameraSource, ParsesTheSourceNames) {
    // clang-format off
    // expected: none: refused
    struct Case { const char* text; std::optional<CameraSource> expected; };
    const Case cases[] = {
        {"", CameraSource{}},
        {"v4l2", CameraSource{Kind::V4L2, "", true, true}},
        {"v4l2:/dev/video3", CameraSource{Kind::V4L2, "/dev/video3", true, true}},
        {"synthetic", CameraSource{Kind::Synthetic, "", true, true}},
        {"synthetic:front", CameraSource{Kind::Synthetic, "", true, false}},
        {"synthetic:back", CameraSource{Kind::Synthetic, "", false, true}},
        {"synthetic:rotation=0", CameraSource{Kind::Synthetic, "", true, true, 0}},
        {"synthetic:back:rotation=270", CameraSource{Kind::Synthetic, "", false, true, 270}},
        {"synthetic:rotation=45", {}}, {"synthetic:rotation=", {}}, {"synthetic:front:", {}},
        {"synthetic:rotation=0:front", {}},
        {"synthetic:size=4000x3000", CameraSource{Kind::Synthetic, "", true, true, 90, FrameSize{4000, 3000}}},
        {"synthetic:front:rotation=0:size=1920x1080", CameraSource{Kind::Synthetic, "", true, false, 0, FrameSize{1920, 1080}}},
        {"synthetic:size=4001x3000", {}}, {"synthetic:size=0x10", {}}, {"synthetic:size=12x", {}},
        {"synthetic:size=640x480x", {}}, {"synthetic:size=640x480:front", {}},
        {"image:/tmp/a:b.png", CameraSource{Kind::Image, "/tmp/a:b.png", true, true}},
        {"pipewire", CameraSource{Kind::PipeWire, "", true, true}},
        {"pipewire:libcamera_front", CameraSource{Kind::PipeWire, "libcamera_front", true, true}},
        {"pipewire:", {}}, {"v4l2:", {}}, {"image:", {}}, {"image", {}}, {"synthetic:side", {}},
        {"webcam", {}},
    };
    // clang-format on
    for (const auto& c : cases) {
        auto source = CameraSource::parse(c.text);
        ASSERT_EQ(source.ok(), c.expected.has_value()) << c.text;
        if (!source.ok()) continue;
        const CameraSource& e = *c.expected;
        EXPECT_EQ(std::tie(source->kind, source->path, source->front, source->back,
                           source->rotation, source->size),
                  std::tie(e.kind, e.path, e.front, e.back, e.rotation, e.size))
            << c.text;
        EXPECT_EQ(source->toString(), c.text);
    }
}

// QUORBIT_CAMERA_ROTATION set to value while the result lives (unset for null).
quorbit::testing::ScopedEnv rotationOverride(const char* value) {
    using Value = std::optional<std::string>;
    return quorbit::testing::ScopedEnv(
        {{"QUORBIT_CAMERA_ROTATION", value ? Value(value) : Value()}});
}

TEST(CameraCommandLine, TakesItsOptionsAndListsTheSources) {
    const std::vector<std::string> listFront = {"--list-cameras", "--camera", "synthetic:front"};
    // clang-format off
    // rotation: QUORBIT_CAMERA_ROTATION; null: unset
    struct Case { std::vector<std::string> args, left; std::optional<int> status;
                  const char* printed; const char* rotation = nullptr; };
    const Case cases[] = {
        {{"--camera", "synthetic:front", "--scale", "2"}, {"--scale", "2"}, {}, ""},
        {{"--camera", "bogus"}, {}, 2, "bad camera source"},
        {{"--headless", "--camera"}, {}, 2, "--camera needs a value"},
        {{"render", "--camera", "back"}, {"render", "--camera", "back"}, {}, ""},
        // The rotation listed is the override's; a bad one refuses to start.
        {listFront, {}, 0, "synthetic:front\tfront\trotation 180\t", "180"},
        {listFront, {}, 2, "QUORBIT_CAMERA_ROTATION takes 0, 90, 180 or 270, not \"-90\"", "-90"},
        {{"--list-cameras", "--camera", "synthetic"}, {}, 0, "synthetic:back\tback\trotation 90\t"},
    };
    // clang-format on
    for (Case c : cases) {
        auto env = rotationOverride(c.rotation);
        std::optional<int> status;
        std::string printed = printedTo(
            [&](std::FILE* out) { status = CameraCommandLine::takeOptions(c.args, out, out); });
        EXPECT_EQ(status, c.status) << printed;
        EXPECT_TRUE(c.status || c.args == c.left);
        EXPECT_NE(printed.find(c.printed), std::string::npos) << printed;
    }
    EXPECT_EQ(CameraSource::current().toString(), "synthetic");  // the last good choice
}

TEST(V4L2DeviceLayer, TellsCamerasFromOtherNodes) {
    constexpr std::uint32_t kCamera = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING,
                            kAll = kCamera | V4L2_CAP_META_CAPTURE | V4L2_CAP_DEVICE_CAPS,
                            kM2M = V4L2_CAP_VIDEO_M2M | V4L2_CAP_STREAMING;
    // clang-format off
    struct Case { const char* name; std::uint32_t capabilities, deviceCaps; bool camera; };
    const Case cases[] = {
        {"webcam", kAll, kCamera, true},
        {"its metadata node", kAll, V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING, false},
        {"encoder", kM2M | V4L2_CAP_DEVICE_CAPS, kM2M, false},
        {"capture and output", kCamera | V4L2_CAP_VIDEO_OUTPUT, 0, false},
        {"read() only", V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_READWRITE, 0, false},
        {"old driver without device caps", kCamera, 0, true},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(V4L2DeviceLayer::isCaptureDevice(c.capabilities, c.deviceCaps), c.camera)
            << c.name;
    for (auto [orientation, position] :
         {std::pair{V4L2_CAMERA_ORIENTATION_BACK, DevicePosition::Back},
          {V4L2_CAMERA_ORIENTATION_FRONT, DevicePosition::Front},
          {V4L2_CAMERA_ORIENTATION_EXTERNAL, DevicePosition::Front}})
        EXPECT_EQ(V4L2DeviceLayer::positionFor(orientation), position);
    EXPECT_EQ(V4L2DeviceLayer::positionFor(std::nullopt), DevicePosition::Front);
    ScratchDir dir("quorbit-capture");
    for (const char* name : {"video10", "video2", "vbi0", "video", "videoX", "video0"})
        dir.write(name, "x");
    std::vector<std::string> expected;
    for (const char* name : {"video0", "video2", "video10"})
        expected.push_back(dir / name);
    EXPECT_EQ(V4L2DeviceLayer::deviceNodes(dir.path()), expected);
    // None of these is a device and no PipeWire daemon answers: the default falls back to
    // the synthetic scene.
    EXPECT_TRUE(V4L2DeviceLayer({}, dir.path()).devices().empty());
    SourceDeviceLayer::Settings settings{dir.path(), dir / "no-marker", dir / "no-pipewire"};
    auto fallback = SourceDeviceLayer(CameraSource{}, settings).devices();
    ASSERT_EQ(fallback.size(), 2u);
    EXPECT_EQ(fallback[0]->info().id, "synthetic:front");
}

TEST(Camera, FramesShowTheStillPictureAndCarryTheSourcesRotationOrTheOverride) {
    ScratchDir dir("quorbit-capture");
    const std::string picture = pictureSource(dir);  // scaled to cover 640 x 480
    // An empty override is none; a bad one is said, and the camera's own rotation used.
    // clang-format off
    // override: QUORBIT_CAMERA_ROTATION; null: unset
    struct Case { std::string source; const char* override; int rotation; };
    const Case cases[] = {
        {"synthetic", nullptr, 90}, {"synthetic:back:rotation=180", "", 180}, {picture, nullptr, 0},
        {"synthetic", "270", 270}, {picture, "90", 90}, {"synthetic:rotation=0", "sideways", 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source + " " + (c.override ? c.override : "(unset)"));
        auto env = rotationOverride(c.override);
        LogCapture log;
        Camera camera(CameraSource::parse(c.source).value());
        RecordingDelegate delegate;
        camera.setDelegate(&delegate);
        ASSERT_TRUE(pumpUntil([&] { return !delegate.tags.empty(); }));
        EXPECT_EQ(delegate.lastRotation, c.rotation);
        bool bad = c.override && *c.override && !parseRotation(c.override);
        EXPECT_EQ(log.count("QUORBIT_CAMERA_ROTATION takes 0, 90, 180 or 270"), bad ? 1 : 0);
        if (c.source != picture) continue;
        EXPECT_EQ(camera.numCameras(), 2);
        std::vector<int> seen;  // blue first: red, green; blue, grey
        for (auto [x, y] : {std::pair(20, 100), {620, 100}, {20, 380}, {620, 380}})
            seen.insert(seen.end(), &delegate.last[std::size_t(y * 640 + x) * 4],
                        &delegate.last[std::size_t(y * 640 + x) * 4 + 4]);
        EXPECT_EQ(seen, (std::vector<int>{40, 40, 200, 255, 40, 200, 40, 255, 200, 40, 40, 255, 230,
                                          230, 230, 255}));
    }
    // A picture that cannot be read: said once, no frames, the camera stays up.
    LogCapture log;
    Camera missing(CameraSource::image(dir / "missing.png"));
    RecordingDelegate none;
    missing.setDelegate(&none);
    EXPECT_FALSE(pumpUntil([&] { return !none.tags.empty(); }, 300ms));
    EXPECT_EQ(log.count("missing.png"), 1);
}

// Stills at a size of their own: the largest the source offers, taken between live frames,
// which come back by themselves; the prepare step runs off the main thread.
TEST(Camera, TakesStillsAtTheSizesItsSourceOffersBetweenLiveFrames) {
    ScratchDir dir("quorbit-stills");
    struct Case {
        std::string source;
        FrameSize largest;
        int rotation;
    } cases[] = {{"synthetic:front:size=1280x960", {1280, 960}, 90},
                 {pictureSource(dir), {80, 48}, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        Camera camera(CameraSource::parse(c.source).value());
        RecordingDelegate delegate;
        camera.setDelegate(&delegate);
        ASSERT_TRUE(pumpUntil([&] { return !delegate.tags.empty(); }));
        EXPECT_EQ(largestSize(camera.stillSizes()), c.largest);
        std::optional<platform::Result<StillFrame>> got;
        bool preparedOffMain = false;
        auto mainThread = std::this_thread::get_id();
        ASSERT_TRUE(camera.captureStill(
            c.largest,
            [&](StillFrame&) { preparedOffMain = std::this_thread::get_id() != mainThread; },
            [&](platform::Result<StillFrame> still) { got = std::move(still); }));
        // One at a time.
        EXPECT_FALSE(camera.captureStill(c.largest, {}, [](auto) {}));
        ASSERT_TRUE(pumpUntil([&] { return got.has_value(); }, 5000ms));
        ASSERT_TRUE(got->ok()) << got->error().localizedDescription();
        const StillFrame& still = got->value();
        EXPECT_EQ((FrameSize{still.width, still.height}), c.largest);
        EXPECT_EQ(still.rotation, c.rotation);
        EXPECT_EQ(still.bgra.size(), std::size_t(c.largest.pixels()) * 4);
        EXPECT_TRUE(preparedOffMain);
        if (c.rotation == 0) {
            // The picture's own pixels: red at the top left, grey at the bottom right.
            EXPECT_EQ(still.bgra[2], 200);
            EXPECT_EQ(still.bgra[still.bgra.size() - 2], 230);
        }
        std::size_t seen = delegate.tags.size();
        EXPECT_TRUE(pumpUntil([&] { return delegate.tags.size() > seen + 2; }));
        // A size the source does not offer, and a still cancelled before it came.
        got.reset();
        ASSERT_TRUE(camera.captureStill({4000, 3000}, {}, [&](auto still) { got = still; }));
        ASSERT_TRUE(pumpUntil([&] { return got.has_value(); }));
        EXPECT_FALSE(got->ok());
        // The cancelled one is never handed over, not even to a still asked for right after.
        // It is held on the capture thread until the next one has been asked for.
        got.reset();
        bool cancelledCame = false;
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<bool> taken{false};
        ASSERT_TRUE(camera.captureStill(
            c.largest,
            [&, released](StillFrame&) {
                taken = true;
                released.wait();
            },
            [&](auto) { cancelledCame = true; }));
        ASSERT_TRUE(pumpUntil([&] { return taken.load(); }, 5000ms));
        camera.cancelStill();
        EXPECT_FALSE(camera.isTakingStill());
        FrameSize smallest = camera.stillSizes().front();
        ASSERT_TRUE(camera.captureStill(smallest, {}, [&](auto still) { got = still; }));
        release.set_value();
        ASSERT_TRUE(pumpUntil([&] { return got.has_value(); }, 5000ms));
        ASSERT_TRUE(got->ok());
        EXPECT_EQ((FrameSize{got->value().width, got->value().height}), smallest);
        EXPECT_FALSE(cancelledCame);
    }
}

}  // namespace
}  // namespace quorbit::capture::testing
