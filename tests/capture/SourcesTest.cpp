#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "FakeDevices.h"
#include "capture/Camera.h"
#include "capture/CameraCommandLine.h"
#include "capture/SourceDeviceLayer.h"
#include "capture/SyntheticScene.h"
#include "capture/V4L2DeviceLayer.h"
#include "platform/gfx/ImageCodec.h"

namespace quorbit::capture::testing {
namespace {

namespace fs = std::filesystem;
using Kind = SourceSpec::Kind;

struct TempDir {
    fs::path path;
    TempDir() {
        char pattern[] = "/tmp/quorbit-capture-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { fs::remove_all(path); }
};

TEST(SourceSpec, ParsesTheSourceNames) {
    struct Case {
        const char* text;
        bool ok;
        Kind kind;
        const char* path;
        bool front, back;
    } cases[] = {
        {"", true, Kind::Default, "", true, true},
        {"v4l2", true, Kind::V4L2, "", true, true},
        {"v4l2:/dev/video3", true, Kind::V4L2, "/dev/video3", true, true},
        {"synthetic", true, Kind::Synthetic, "", true, true},
        {"synthetic:front", true, Kind::Synthetic, "", true, false},
        {"synthetic:back", true, Kind::Synthetic, "", false, true},
        {"image:/tmp/a:b.png", true, Kind::Image, "/tmp/a:b.png", true, true},
        {"v4l2:", false, Kind::Default, "", true, true},
        {"image:", false, Kind::Default, "", true, true},
        {"image", false, Kind::Default, "", true, true},
        {"synthetic:side", false, Kind::Default, "", true, true},
        {"webcam", false, Kind::Default, "", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto spec = SourceSpec::parse(c.text);
        ASSERT_EQ(spec.ok(), c.ok);
        if (!c.ok) {
            EXPECT_NE(spec.error().localizedDescription().find(c.text), std::string::npos);
            continue;
        }
        EXPECT_EQ(spec->kind, c.kind);
        EXPECT_EQ(spec->path, c.path);
        EXPECT_EQ(spec->front, c.front);
        EXPECT_EQ(spec->back, c.back);
        EXPECT_EQ(spec->toString(), c.text);
    }
}

TEST(SourceSpec, CommandLineChoiceWinsOverTheEnvironment) {
    setenv("QUORBIT_CAMERA", "synthetic:back", 1);
    EXPECT_EQ(SourceSpec::current().toString(), "synthetic:back");
    std::FILE* err = std::tmpfile();
    EXPECT_FALSE(CameraCommandLine::selectSource("bogus", err));
    EXPECT_GT(std::ftell(err), 0);
    std::fclose(err);
    EXPECT_TRUE(CameraCommandLine::selectSource("image:/x.png", stderr));
    EXPECT_EQ(SourceSpec::current().toString(), "image:/x.png");
    SourceSpec::select(SourceSpec::synthetic());
    unsetenv("QUORBIT_CAMERA");
}

TEST(CameraCommandLine, ListsSourcesWithPositionAndFormats) {
    auto layer = SourceDeviceLayer(SourceSpec::synthetic());
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    EXPECT_EQ(CameraCommandLine::listCameras(out, SourceSpec::synthetic(), layer), 0);
    std::fclose(out);
    std::string listing(text, size);
    std::free(text);
    EXPECT_NE(listing.find("synthetic:front\tfront\t"), std::string::npos) << listing;
    EXPECT_NE(listing.find("synthetic:back\tback\t"), std::string::npos) << listing;
    EXPECT_NE(listing.find("BGRA 640x480"), std::string::npos) << listing;

    FakeLayer none({});
    out = open_memstream(&text, &size);
    CameraCommandLine::listCameras(out, SourceSpec{}, none);
    std::fclose(out);
    EXPECT_NE(std::string(text, size).find("no camera found"), std::string::npos);
    std::free(text);
}

TEST(V4L2DeviceLayer, TellsCamerasFromOtherNodes) {
    constexpr std::uint32_t kCamera = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    struct Case {
        const char* name;
        std::uint32_t capabilities, deviceCaps;
        bool camera;
    } cases[] = {
        {"webcam", kCamera | V4L2_CAP_META_CAPTURE | V4L2_CAP_DEVICE_CAPS, kCamera, true},
        {"its metadata node", kCamera | V4L2_CAP_META_CAPTURE | V4L2_CAP_DEVICE_CAPS,
         V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING, false},
        {"encoder", V4L2_CAP_VIDEO_M2M | V4L2_CAP_STREAMING | V4L2_CAP_DEVICE_CAPS,
         V4L2_CAP_VIDEO_M2M | V4L2_CAP_STREAMING, false},
        {"capture and output", kCamera | V4L2_CAP_VIDEO_OUTPUT, 0, false},
        {"read() only", V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_READWRITE, 0, false},
        {"old driver without device caps", kCamera, 0, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(V4L2DeviceLayer::isCaptureDevice(c.capabilities, c.deviceCaps), c.camera)
            << c.name;

    EXPECT_EQ(V4L2DeviceLayer::positionFor(V4L2_CAMERA_ORIENTATION_BACK), DevicePosition::Back);
    EXPECT_EQ(V4L2DeviceLayer::positionFor(V4L2_CAMERA_ORIENTATION_FRONT), DevicePosition::Front);
    EXPECT_EQ(V4L2DeviceLayer::positionFor(V4L2_CAMERA_ORIENTATION_EXTERNAL),
              DevicePosition::Front);
    EXPECT_EQ(V4L2DeviceLayer::positionFor(std::nullopt), DevicePosition::Front);

    TempDir dir;
    for (const char* name : {"video10", "video2", "vbi0", "video", "videoX", "video0"})
        std::ofstream(dir.path / name).put('x');
    std::vector<std::string> expected;
    for (const char* name : {"video0", "video2", "video10"})
        expected.push_back(dir.path / name);
    EXPECT_EQ(V4L2DeviceLayer::deviceNodes(dir.path), expected);
    // None of these are devices: nothing is found and the default falls back to the scene.
    EXPECT_TRUE(V4L2DeviceLayer({}, dir.path).devices().empty());
    auto fallback = SourceDeviceLayer(SourceSpec{}, dir.path).devices();
    ASSERT_EQ(fallback.size(), 2u);
    EXPECT_EQ(fallback[0]->info().id, "synthetic:front");
}

TEST(SyntheticScene, ShowsMotionColourEdgesAndADisc) {
    SyntheticScene front(SyntheticScene::Style::Front), back(SyntheticScene::Style::Back);
    const std::size_t size = 640 * 480 * 4;
    std::vector<std::uint8_t> a(size), b(size), c(size);
    front.render(0, a.data());
    front.render(12, b.data());
    back.render(0, c.data());
    auto differing = [&](const std::vector<std::uint8_t>& x, const std::vector<std::uint8_t>& y) {
        int n = 0;
        for (std::size_t i = 0; i < size; i += 4)
            n += std::memcmp(&x[i], &y[i], 3) != 0;
        return n;
    };
    EXPECT_GT(differing(a, b), 640 * 480 / 4) << "moves";
    EXPECT_GT(differing(a, c), 640 * 480 / 2) << "front and back differ";

    for (const auto* frame : {&a, &c}) {
        std::set<int> hues;  // coarse colour classes
        int edges = 0;
        for (int y = 0; y < 480; ++y) {
            for (int x = 0; x < 640; ++x) {
                const std::uint8_t* p = &(*frame)[(std::size_t(y) * 640 + std::size_t(x)) * 4];
                EXPECT_EQ(p[3], 255);
                hues.insert(p[0] / 64 * 16 + p[1] / 64 * 4 + p[2] / 64);
                if (x > 0 && std::abs(int(p[1]) - int(p[-3])) > 150) ++edges;
            }
        }
        EXPECT_GE(hues.size(), 12u);
        EXPECT_GE(edges, 2000);
    }
    // The disc: its centre is bright, and it covers about pi r^2 pixels of one colour.
    int cx, cy;
    front.discCentre(12, cx, cy);
    const std::uint8_t* centre = &b[(std::size_t(cy) * 640 + std::size_t(cx)) * 4];
    EXPECT_GT(centre[0] + centre[1] + centre[2], 3 * 160);
    int same = 0;
    for (std::size_t i = 0; i < size; i += 4)
        same += std::memcmp(&b[i], centre, 4) == 0;
    double r = front.discRadius();
    EXPECT_NEAR(same, 3.14159 * r * r, 0.15 * 3.14159 * r * r);
}

TEST(Camera, DeliversSyntheticAndStillPictureFrames) {
    // The synthetic scene: two cameras, moving frames, different scenes after a swap.
    {
        Camera camera(SourceSpec::synthetic());
        RecordingDelegate delegate;
        delegate.keep = true;
        camera.setDelegate(&delegate);
        EXPECT_EQ(camera.numCameras(), 2);
        auto& loop = platform::RunLoop::main();
        ASSERT_TRUE(loop.runUntil([&] { return delegate.tags.size() >= 1; }, 3s));
        auto first = delegate.last;
        ASSERT_TRUE(loop.runUntil([&] { return delegate.tags.size() >= 3; }, 3s));
        EXPECT_NE(first, delegate.last);
        EXPECT_EQ(delegate.sizes.back(), std::make_pair(640, 480));
    }
    // A still picture, left half red and right half blue, scaled to cover 640 x 480.
    TempDir dir;
    platform::Image picture(80, 48);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 80; ++x) {
            std::uint8_t* p = picture.pixel(x, y);
            p[0] = x < 40 ? 255 : 0, p[1] = 0, p[2] = x < 40 ? 0 : 255, p[3] = 255;
        }
    ASSERT_TRUE(platform::ImageCodec::writePng(picture, dir.path / "still.png").ok());
    Camera camera(SourceSpec::image(dir.path / "still.png"));
    RecordingDelegate delegate;
    delegate.keep = true;
    camera.setDelegate(&delegate);
    ASSERT_TRUE(platform::RunLoop::main().runUntil([&] { return !delegate.tags.empty(); }, 3s));
    auto bgra = [&](int x, int y) {
        const std::uint8_t* p = &delegate.last[(std::size_t(y) * 640 + std::size_t(x)) * 4];
        return std::vector<int>{p[0], p[1], p[2], p[3]};
    };
    EXPECT_EQ(bgra(20, 240), (std::vector<int>{0, 0, 255, 255}));   // red
    EXPECT_EQ(bgra(620, 240), (std::vector<int>{255, 0, 0, 255}));  // blue

    // A picture that cannot be read: said once, no frames, the camera stays up.
    LogCapture log;
    Camera missing(SourceSpec::image(dir.path / "missing.png"));
    RecordingDelegate none;
    missing.setDelegate(&none);
    platform::RunLoop::main().runFor(300ms);
    EXPECT_TRUE(none.tags.empty());
    EXPECT_EQ(log.count("missing.png"), 1);
}

}  // namespace
}  // namespace quorbit::capture::testing
