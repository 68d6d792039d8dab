// The PipeWire cameras against a real, private PipeWire daemon with fake camera nodes (see
// PipeWireSession).
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "FakeDevices.h"
#include "FakePortal.h"
#include "capture/Camera.h"
#include "capture/CameraCommandLine.h"
#include "capture/CameraPortal.h"
#include "capture/PipeWireDeviceLayer.h"
#include "capture/SourceDeviceLayer.h"
#include "platform/gfx/ImageCodec.h"
#include "support/PipeWireSession.h"

namespace quorbit::capture::testing {
namespace {

namespace fs = std::filesystem;
using quorbit::testing::ChildGroup;
using quorbit::testing::PipeWireSession;
using Node = PipeWireSession::CameraNode;

// Generous: the machine may be busy with other builds.
constexpr auto kEventTimeout = 20000ms;

// videotestsrc's colour bars across the top two thirds of a frame, left to right (RGB).
constexpr std::array<std::array<int, 3>, 7> kBars = {{{255, 255, 255},
                                                      {255, 255, 0},
                                                      {0, 255, 255},
                                                      {0, 255, 0},
                                                      {255, 0, 255},
                                                      {255, 0, 0},
                                                      {0, 0, 255}}};
// The back camera's picture: one colour (RGB), sent as NV12 at 1280 x 720.
constexpr std::array<int, 3> kBackColour = {32, 80, 224};

Node frontCamera(const std::string& name) {
    return Node{name, "Front" + name, "front"};
}
Node backCamera(const std::string& name) {
    Node node{name, "Back" + name, "back"};
    node.caps = "video/x-raw,format=NV12,width=1280,height=720,framerate=30/1";
    node.pattern = "solid-color foreground-color=0xff2050e0";
    return node;
}

bool near(const std::uint8_t* bgr, const std::array<int, 3>& rgb, int tolerance = 8) {
    return std::abs(bgr[0] - rgb[2]) <= tolerance && std::abs(bgr[1] - rgb[1]) <= tolerance &&
           std::abs(bgr[2] - rgb[0]) <= tolerance;
}

// Whether a 640 x 480 BGRA frame shows the colour bars.
bool showsBars(const std::vector<std::uint8_t>& frame) {
    if (frame.size() != 640 * 480 * 4) return false;
    for (std::size_t bar = 0; bar < kBars.size(); ++bar) {
        std::size_t x = (2 * bar + 1) * 640 / 14;
        if (!near(&frame[(100 * 640 + x) * 4], kBars[bar])) return false;
    }
    return true;
}

bool showsColour(const std::vector<std::uint8_t>& frame, const std::array<int, 3>& rgb) {
    if (frame.size() != 640 * 480 * 4) return false;
    for (std::size_t y : {10, 240, 470})
        for (std::size_t x : {10, 320, 630})
            if (!near(&frame[(y * 640 + x) * 4], rgb)) return false;
    return true;
}

// Skips a test that needs frames where GStreamer alone cannot move any through the session.
#define REQUIRE_FRAMES()                                                              \
    do {                                                                              \
        if (const std::string& why = session->framesProblem(); !why.empty())          \
            GTEST_SKIP() << "this machine moves no frames through PipeWire: " << why; \
    } while (false)

class PipeWire : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        session = new PipeWireSession;
        // The camera portal is asked on the session bus of this process.
        if (session->problem().empty())
            setenv("DBUS_SESSION_BUS_ADDRESS", session->busAddress().c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete session;
        session = nullptr;
    }
    void SetUp() override {
        if (!session->problem().empty())
            GTEST_SKIP() << "no private PipeWire session: " << session->problem();
    }
    void TearDown() override {
        for (const std::string& name : started)
            session->stopCamera(name);
    }

    void start(const Node& node) {
        session->startCamera(node);
        started.push_back(node.name);
    }
    // Outside the sandbox, on the session's daemon, with no V4L2 devices.
    SourceDeviceLayer::Settings settings() const {
        fs::path emptyDir = fs::path(session->runtimeDir()) / "dev";
        fs::create_directories(emptyDir);
        SourceDeviceLayer::Settings s;
        s.deviceDir = emptyDir.string();
        s.sandboxMarker = (emptyDir / "no-such-marker").string();
        s.pipeWireRemote = session->socketPath();
        return s;
    }
    // Waits until PipeWire offers every camera named.
    void waitForCameras(const std::vector<std::string>& names) {
        PipeWireDeviceLayer layer(PipeWireConnection::Remote{{}, session->socketPath()});
        std::vector<std::string> missing;
        bool all = pumpUntil(
            [&] {
                missing = names;
                for (const auto& device : layer.devices())
                    std::erase(missing, device->info().id.substr(9));  // after "pipewire:"
                return missing.empty();
            },
            kEventTimeout);
        ASSERT_TRUE(all) << "not offered: " << missing.front() << session->logTail(missing.front())
                         << session->logTail("wireplumber");
    }
    std::unique_ptr<Camera> camera(const std::string& source,
                                   std::chrono::milliseconds retryDelay = 2000ms) {
        CameraOptions options;
        options.retryDelay = retryDelay;
        auto layer =
            std::make_shared<SourceDeviceLayer>(CameraSource::parse(source).value(), settings());
        return std::make_unique<Camera>(layer, options);
    }

    static inline PipeWireSession* session = nullptr;
    std::vector<std::string> started;
};

std::string listing(const CameraSource& source, DeviceLayer& layer) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    CameraCommandLine::listCameras(out, source, layer);
    std::fclose(out);
    std::string printed(text, size);
    std::free(text);
    return printed;
}

TEST_F(PipeWire, ListsTheCameraNodesWithPositionRotationAndFormats) {
    Node front = frontCamera("listfront"), back = backCamera("listback");
    front.rotation = "270";
    back.rotation = "90";
    start(front);
    start(back);
    Node external{"listext", "Webcam", "external"};
    external.caps = "video/x-raw,format=I420,width=320,height=240,framerate=15/1";
    external.rotation = "45";  // no quarter turn: as without
    start(external);
    waitForCameras({"listfront", "listback", "listext"});

    // The default choice takes PipeWire's cameras, neither V4L2 nor the test scene.
    SourceDeviceLayer layer(CameraSource{}, settings());
    std::string printed = listing(CameraSource{}, layer);
    for (const char* line :
         {"source: default (PipeWire cameras, else V4L2 cameras, else synthetic)\n",
          "pipewire:listfront\tfront\trotation 270\tFrontlistfront\n\tYUY2 640x480\n",
          "pipewire:listback\tback\trotation 90\tBacklistback\n\tNV12 1280x720\n",
          "pipewire:listext\tfront\trotation 0\tWebcam\n\tI420 320x240\n"})
        EXPECT_NE(printed.find(line), std::string::npos) << line << "\nin:\n" << printed;
    EXPECT_EQ(printed.find("synthetic:"), std::string::npos) << printed;

    // The application itself, finding the daemon through XDG_RUNTIME_DIR.
    fs::path log = fs::path(session->runtimeDir()) / "list.log";
    auto env = session->environment();
    env["QUORBIT_CAMERA"] = "";
    env["QUORBIT_CAMERA_ROTATION"] = "180";  // replaces every camera's own
    ChildGroup app(std::string(QUORBIT_BINARY) + " --list-cameras", env, log.string());
    EXPECT_EQ(app.wait(kEventTimeout), 0);
    std::ifstream in(log);
    std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(output.find("pipewire:listback\tback\trotation 180\tBacklistback"), std::string::npos)
        << output;
}

TEST_F(PipeWire, DeliversFramesAndSwapsBetweenFrontAndBack) {
    REQUIRE_FRAMES();
    start(frontCamera("swapfront"));
    Node back = backCamera("swapback");
    back.rotation = "90";  // each frame carries its node's rotation
    start(back);
    waitForCameras({"swapfront", "swapback"});
    auto cam = camera("pipewire");
    RecordingDelegate delegate;
    cam->setDelegate(&delegate);
    EXPECT_EQ(cam->numCameras(), 2);
    EXPECT_EQ(cam->curCameraType(), kCameraFront);

    // Front, back and front again: frames of the other side stop once the swap is made.
    for (int turn = 0; turn < 3; ++turn) {
        bool front = turn % 2 == 0;
        SCOPED_TRACE(front ? "front" : "back");
        if (turn == 2) {
            // GStreamer's fake camera nodes stop delivering to a consumer that comes back
            // after another node has streamed; a fresh one stands in for the front node.
            session->stopCamera("swapfront");
            start(frontCamera("swapfront"));
            waitForCameras({"swapfront"});
        }
        if (turn > 0) cam->swapCamera();
        EXPECT_EQ(cam->curCameraType(), front ? kCameraFront : kCameraBack);
        auto shows = [&] {
            return front ? showsBars(delegate.last) : showsColour(delegate.last, kBackColour);
        };
        ASSERT_TRUE(pumpUntil(shows, kEventTimeout))
            << session->logTail("swapfront") << session->logTail("swapback")
            << session->daemonLogs();
        std::size_t from = delegate.tags.size();
        ASSERT_TRUE(pumpUntil([&] { return delegate.tags.size() >= from + 3; }, kEventTimeout));
        EXPECT_TRUE(shows());
        EXPECT_EQ(delegate.lastRotation, front ? 0 : 90);
    }
    EXPECT_EQ(delegate.maxDepth, 1);
    EXPECT_TRUE(cam->availability().available);
}

TEST_F(PipeWire, ANodeThatGoesAwayLeavesTheCameraUpAndComesBack) {
    REQUIRE_FRAMES();
    LogCapture log;
    start(frontCamera("losscam"));
    waitForCameras({"losscam"});
    auto cam = camera("pipewire:losscam", 300ms);
    RecordingDelegate delegate;
    cam->setDelegate(&delegate);
    std::vector<CameraAvailability> heard;
    cam->setAvailabilityHandler([&](const CameraAvailability& a) { heard.push_back(a); });
    ASSERT_TRUE(pumpUntil([&] { return showsBars(delegate.last); }, kEventTimeout))
        << session->logTail("losscam") << session->daemonLogs();

    session->stopCamera("losscam");
    ASSERT_TRUE(pumpUntil([&] { return !cam->availability().available; }, kEventTimeout));
    EXPECT_NE(cam->availability().reason.find("disconnected"), std::string::npos)
        << cam->availability().reason;
    // No frames meanwhile, and the last picture is the one the delegate had.
    std::size_t frames = delegate.tags.size();
    pumpUntil([] { return false; }, 700ms);  // several retries
    EXPECT_EQ(delegate.tags.size(), frames);
    // The controls answer at once.
    auto before = std::chrono::steady_clock::now();
    cam->swapCamera();
    cam->stopCamera();
    cam->restartCamera();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 100ms);
    EXPECT_TRUE(cam->isRunning());

    start(frontCamera("losscam"));
    ASSERT_TRUE(pumpUntil([&] { return delegate.tags.size() > frames + 2; }, kEventTimeout))
        << session->logTail("losscam");
    EXPECT_TRUE(showsBars(delegate.last));
    EXPECT_TRUE(pumpUntil([&] { return cam->availability().available; }, kEventTimeout));
    ASSERT_GE(heard.size(), 2u);
    EXPECT_FALSE(heard.front().available);
    EXPECT_TRUE(heard.back().available);
    // Said once in the log, however often it was tried meanwhile.
    EXPECT_EQ(log.count("camera pipewire:losscam: disconnected"), 1);
    EXPECT_EQ(log.count("camera pipewire:losscam: delivering frames again"), 1);
}

TEST_F(PipeWire, RefusesANodeWhoseFormatsCannotBeConverted) {
    LogCapture log;
    Node gray{"graycam", "Gray", "front"};
    gray.caps = "video/x-raw,format=GRAY8,width=640,height=480,framerate=24/1";
    start(gray);
    waitForCameras({"graycam"});
    auto cam = camera("pipewire:graycam", 100ms);
    RecordingDelegate delegate;
    cam->setDelegate(&delegate);
    const std::string line =
        "camera pipewire:graycam: offers no frame format that can be converted (it offers "
        "GRAY8 640x480)";
    ASSERT_TRUE(pumpUntil([&] { return log.count(line) > 0; }, kEventTimeout));
    pumpUntil([] { return false; }, 500ms);  // tried again meanwhile
    EXPECT_EQ(log.count(line), 1);
    EXPECT_TRUE(delegate.tags.empty());
    EXPECT_FALSE(cam->availability().available);
}

TEST_F(PipeWire, InsideTheSandboxTheCamerasComeThroughThePortal) {
    REQUIRE_FRAMES();
    fs::path marker = fs::path(session->runtimeDir()) / "flatpak-info";
    std::ofstream(marker) << "[Application]\nname=org.example.Flurio\n";

    // Each case has a camera node of its own (see the swap test on reused fake nodes).
    // Granted: connections come from the portal; denied: no camera, not even the test scene;
    // no camera: the test scene; no portal: the daemon's own socket.
    const std::vector<std::string> scene = {"synthetic:front", "synthetic:back"};
    struct Case {
        const char* node;
        bool portal, present;
        unsigned response;
        bool direct;  // whether the daemon's own socket is reachable
        std::vector<std::string> ids;
        std::string unavailable;
    } cases[] = {
        {"portalgranted", true, true, 0, false, {"pipewire:portalgranted"}, ""},
        {"portaldenied", true, true, 1, true, {}, SourceDeviceLayer::kAccessDenied},
        {"portalnone", true, false, 0, true, scene, ""},
        {"portalabsent", false, true, 0, true, {"pipewire:portalabsent"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.node);
        start(frontCamera(c.node));
        waitForCameras({c.node});
        std::unique_ptr<FakePortal> portal;
        if (c.portal) {
            portal = std::make_unique<FakePortal>(session->busAddress(), session->socketPath());
            ASSERT_TRUE(portal->ready());
            portal->cameraPresent = c.present;
            portal->response = c.response;
        }
        CameraPortal asked;
        auto s = settings();
        s.sandboxMarker = marker.string();
        s.portal = &asked;
        if (!c.direct) s.pipeWireRemote = (fs::path(session->runtimeDir()) / "none").string();
        auto layer = std::make_shared<SourceDeviceLayer>(CameraSource{}, s);
        std::vector<std::string> ids;
        for (const auto& device : layer->devices())
            ids.push_back(device->info().id);
        EXPECT_EQ(ids, c.ids);
        EXPECT_EQ(layer->unavailableReason(), c.unavailable);
        if (portal && c.present) {
            EXPECT_EQ(portal->accessRequests, 1);
        }

        Camera cam(layer);
        RecordingDelegate delegate;
        cam.setDelegate(&delegate);
        if (c.ids.empty()) {
            EXPECT_FALSE(cam.availability().available);
            EXPECT_EQ(cam.availability().reason, c.unavailable);
        } else {
            EXPECT_TRUE(pumpUntil([&] { return !delegate.tags.empty(); }, kEventTimeout))
                << session->logTail(c.node) << session->daemonLogs();
        }
        if (portal && c.response == 0 && c.present) {
            EXPECT_GE(portal->remotesOpened, 2);
        }
        session->stopCamera(c.node);
    }
}

// The screenshot of the headless application, once it is complete: the next one exists.
std::optional<platform::Image> screenshot(const fs::path& dir, int index) {
    auto path = [&](int i) { return dir / ("shot-" + std::to_string(i) + ".png"); };
    if (!fs::exists(path(index + 1))) return std::nullopt;
    auto image = platform::ImageCodec::readFile(path(index));
    if (!image) return std::nullopt;
    return image.value();
}

// Whether the live view shows the bars of a front camera through Normal: the frame of a
// sensor at rotation 90 turned a quarter, its left-to-right bars top to bottom, on the left
// two thirds of the view.
bool liveViewShowsBars(const platform::Image& shot) {
    for (std::size_t bar = 0; bar < kBars.size(); ++bar) {
        int y = int((2 * bar + 1) * 427 / 14);
        const std::uint8_t* p = shot.pixel(60, y);
        std::uint8_t bgr[3] = {p[2], p[1], p[0]};
        if (!near(bgr, kBars[bar])) return false;
    }
    return true;
}

// Whether the note on a camera that is not available covers the middle of the live view.
bool showsNote(const platform::Image& shot) {
    const std::uint8_t* middle = shot.pixel(40, 180);  // over the cyan bar, dimmed
    return middle[1] < 160 && middle[2] < 160;
}

TEST_F(PipeWire, TheHeadlessApplicationShowsTheNodeAndOutlivesItsLoss) {
    REQUIRE_FRAMES();
    // A phone's sideways sensor: its rotation turns the picture on screen.
    Node sideways = frontCamera("appcam");
    sideways.rotation = "90";
    start(sideways);
    waitForCameras({"appcam"});
    fs::path dir = fs::path(session->runtimeDir()) / "app";
    fs::create_directories(dir / "config");
    // A filter kept from an earlier run (the plain look of slot 4), so the picker stays shut.
    std::ofstream(dir / "config" / "defaults.json") << "{\"LastFilterUsed\": 4}\n";
    {
        std::ofstream script(dir / "run.script");
        for (int i = 0; i < 150; ++i)
            script << "wait 200\nscreenshot "
                   << (dir / ("shot-" + std::to_string(i) + ".png")).string() << "\n";
        script << "quit\n";
    }
    auto env = session->environment();
    env["QUORBIT_CONFIG_DIR"] = (dir / "config").string();
    env["QUORBIT_CAMERA"] = "";
    ChildGroup app(
        std::string(QUORBIT_BINARY) + " --headless --script " + (dir / "run.script").string(), env,
        (dir / "app.log").string());
    auto appLog = [&] {
        std::ifstream in(dir / "app.log");
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    int next = 0;
    // Waits for a screenshot that passes; the screenshots before it are passed over.
    auto waitForShot = [&](const std::function<bool(const platform::Image&)>& wanted) {
        return pumpUntil(
            [&] {
                while (auto shot = screenshot(dir, next)) {
                    ++next;
                    if (wanted(*shot)) return true;
                }
                return false;
            },
            kEventTimeout);
    };
    ASSERT_TRUE(waitForShot([](auto& shot) { return liveViewShowsBars(shot) && !showsNote(shot); }))
        << appLog() << session->logTail("appcam") << session->daemonLogs();

    // Unplugged: the note over the last picture, which stays around it.
    session->stopCamera("appcam");
    ASSERT_TRUE(waitForShot([](auto& shot) {
        const std::uint8_t* outside = shot.pixel(60, 30);  // the white bar, above the note
        return showsNote(shot) && outside[0] > 240 && outside[1] > 240 && outside[2] > 240;
    })) << appLog();
    EXPECT_TRUE(app.running());

    // Back: the picture without the note.
    start(sideways);
    ASSERT_TRUE(waitForShot([](auto& shot) { return liveViewShowsBars(shot) && !showsNote(shot); }))
        << appLog() << session->logTail("appcam") << session->daemonLogs();
    EXPECT_TRUE(app.running());
}

}  // namespace
}  // namespace quorbit::capture::testing
