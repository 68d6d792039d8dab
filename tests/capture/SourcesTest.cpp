#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <future>

#include "FakeDevices.h"
#include "capture/Camera.h"
#include "capture/CameraCommandLine.h"
#include "capture/SourceDeviceLayer.h"
#include "capture/V4L2DeviceLayer.h"
#include "platform/gfx/ImageCodec.h"
#include "support/HostileFiles.h"
#include "support/Scratch.h"

namespace quorbit::capture::testing {
namespace {

using Kind = CameraSource::Kind;
using quorbit::testing::ScratchDir;

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
        {"synthetic:front:rotation=0:size=1920x1080",
         CameraSource{Kind::Synthetic, "", true, false, 0, FrameSize{1920, 1080}}},
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

// Sets an environment variable while it lives (unsets it when value is null).
struct ScopedEnv {
    const char* name;
    ScopedEnv(const char* name, const char* value) : name(name) {
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { unsetenv(name); }
};

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
        ScopedEnv env("QUORBIT_CAMERA_ROTATION", c.rotation);
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
        ScopedEnv env("QUORBIT_CAMERA_ROTATION", c.override);
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
