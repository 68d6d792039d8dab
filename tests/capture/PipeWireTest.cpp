// The PipeWire cameras against a real, private PipeWire daemon with fake camera nodes (see
// PipeWireSession).
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "FakeDevices.h"
#include "capture/Camera.h"
#include "capture/CameraCommandLine.h"
#include "capture/CameraPortal.h"
#include "capture/PipeWireDeviceLayer.h"
#include "capture/SourceDeviceLayer.h"
#include "support/PipeWireSession.h"
#include "support/Pixels.h"
#include "support/QuorbitProcess.h"

namespace quorbit::capture::testing {
namespace {

namespace fs = std::filesystem;
using quorbit::testing::PipeWireSession;
using quorbit::testing::Rgb;
using Node = PipeWireSession::CameraNode;

// Generous: the machine may be busy with other builds.
constexpr auto kEventTimeout = 20000ms;

Node frontCamera(const std::string& name, const std::string& rotation = "") {
    return Node{name, "Front" + name, "front", rotation};
}
// One colour, sent as NV12 at 1280 x 720.
Node backCamera(const std::string& name, const std::string& rotation = "") {
    const char* caps = "video/x-raw,format=NV12,width=1280,height=720,framerate=30/1";
    return {name, "Back" + name, "back", rotation, caps, "solid-color foreground-color=0xff2050e0"};
}

// Whether a 640 x 480 BGRA frame shows the colours (blue first) at (x, y) each, within 8.
bool shows(const std::vector<std::uint8_t>& frame,
           const std::vector<std::tuple<std::size_t, std::size_t, Rgb>>& points) {
    if (frame.size() != 640 * 480 * 4) return false;
    for (const auto& [x, y, bgr] : points)
        if (!quorbit::testing::near(&frame[(y * 640 + x) * 4], bgr, 8)) return false;
    return true;
}
// videotestsrc's colour bars across the top two thirds of a frame, left to right.
bool showsBars(const std::vector<std::uint8_t>& frame) {
    constexpr Rgb kBars[] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                             {255, 0, 255},   {0, 0, 255},   {255, 0, 0}};
    std::vector<std::tuple<std::size_t, std::size_t, Rgb>> points;
    for (std::size_t bar = 0; bar < std::size(kBars); ++bar)
        points.emplace_back((2 * bar + 1) * 640 / 14, 100, kBars[bar]);
    return shows(frame, points);
}
bool showsBack(const std::vector<std::uint8_t>& frame) {
    constexpr Rgb kBack = {224, 80, 32};
    return shows(frame, {{10, 10, kBack}, {320, 240, kBack}, {630, 470, kBack}});
}

// A camera portal on a private session bus, answering as the desktop's would: it knows a
// camera or not, grants or refuses access (its Response on the request object), and hands
// out connections to a PipeWire socket. Its calls are served on a thread of its own.
class FakePortal {
  public:
    std::atomic<bool> cameraPresent{true};
    std::atomic<unsigned> response{0};  // 0 granted, 1 denied by the user
    std::atomic<int> accessRequests{0};
    FakePortal(const std::string& busAddress, std::string pipeWireSocket)
        : _socket(std::move(pipeWireSocket)) {
        // Calls are dispatched to the context that is the thread default at registration.
        g_main_context_push_thread_default(_context);
        _bus = g_dbus_connection_new_for_address_sync(
            busAddress.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        if (_bus) {
            static const GDBusInterfaceVTable vtable = {onMethod, onProperty, nullptr, {}};
            _registration = g_dbus_connection_register_object(
                _bus, "/org/freedesktop/portal/desktop", _info->interfaces[0], &vtable, this,
                nullptr, nullptr);
            [[maybe_unused]] g_autoptr(GVariant) owned = g_dbus_connection_call_sync(
                _bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u),
                G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        }
        g_main_context_pop_thread_default(_context);
        _thread = std::thread([this] {
            while (!_stop)
                g_main_context_iteration(_context, TRUE);
        });
    }
    ~FakePortal() {
        _stop = true;
        g_main_context_wakeup(_context);
        _thread.join();
        if (_registration) g_dbus_connection_unregister_object(_bus, _registration);
        if (_bus) {
            g_dbus_connection_close_sync(_bus, nullptr, nullptr);
            g_object_unref(_bus);
        }
        g_dbus_node_info_unref(_info);
        g_main_context_unref(_context);
    }

  private:
    static GVariant* onProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                const gchar*, GError**, gpointer data) {
        return g_variant_new_boolean(static_cast<FakePortal*>(data)->cameraPresent);
    }
    static void onMethod(GDBusConnection* bus, const gchar* sender, const gchar*, const gchar*,
                         const gchar* method, GVariant* parameters,
                         GDBusMethodInvocation* invocation, gpointer data) {
        auto* self = static_cast<FakePortal*>(data);
        if (std::strcmp(method, "AccessCamera") == 0) {
            ++self->accessRequests;
            const char* token = "t";
            g_autoptr(GVariant) options = g_variant_get_child_value(parameters, 0);
            g_variant_lookup(options, "handle_token", "&s", &token);
            std::string path = std::string("/org/freedesktop/portal/desktop/request/") +
                               (sender + 1) + "/" + token;
            std::replace(path.begin(), path.end(), '.', '_');
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", path.c_str()));
            g_dbus_connection_emit_signal(
                bus, sender, path.c_str(), "org.freedesktop.portal.Request", "Response",
                g_variant_new("(u@a{sv})", self->response.load(), g_variant_new("a{sv}", nullptr)),
                nullptr);
            return;
        }
        // OpenPipeWireRemote: a fresh connection to the daemon, or none without access.
        int fd = self->response == 0 ? quorbit::testing::connectTo(self->_socket) : -1;
        if (fd < 0) {
            g_dbus_method_invocation_return_dbus_error(
                invocation, "org.freedesktop.portal.Error.NotAllowed", "no camera connection");
            return;
        }
        g_autoptr(GUnixFDList) fds = g_unix_fd_list_new_from_array(&fd, 1);  // takes fd
        g_dbus_method_invocation_return_value_with_unix_fd_list(invocation, g_variant_new("(h)", 0),
                                                                fds);
    }
    std::string _socket;
    GMainContext* _context = g_main_context_new();
    GDBusNodeInfo* _info = g_dbus_node_info_new_for_xml(
        "<node><interface name='org.freedesktop.portal.Camera'><method name='AccessCamera'>"
        "<arg type='a{sv}' direction='in'/><arg type='o' direction='out'/></method><method "
        "name='OpenPipeWireRemote'><arg type='a{sv}' direction='in'/><arg type='h' direction="
        "'out'/></method><property name='IsCameraPresent' type='b' "
        "access='read'/></interface></node>",
        nullptr);
    GDBusConnection* _bus = nullptr;
    guint _registration = 0;
    std::atomic<bool> _stop{false};
    std::thread _thread;
};

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
    // Starts the nodes and waits until PipeWire offers each.
    void start(const std::vector<Node>& nodes) {
        std::vector<std::string> missing;
        for (const Node& node : nodes) {
            session->startCamera(node);
            started.push_back(node.name);
        }
        bool all = pumpUntil(
            [&] {
                missing.clear();
                for (const Node& node : nodes)
                    missing.push_back("pipewire:" + node.name);
                for (const auto& device : offered())
                    std::erase(missing, device->info().id);
                return missing.empty();
            },
            kEventTimeout);
        ASSERT_TRUE(all) << "not offered: " << missing.front() << session->daemonLogs();
    }
    static std::vector<std::shared_ptr<CaptureDevice>> offered() {
        return PipeWireDeviceLayer(PipeWireConnection::Remote{{}, session->socketPath()}).devices();
    }
    // Outside the sandbox, on the session's daemon, with no V4L2 devices.
    SourceDeviceLayer::Settings settings() const {
        fs::path emptyDir = fs::path(session->runtimeDir()) / "dev";
        fs::create_directories(emptyDir);
        return {emptyDir.string(), (emptyDir / "no-such-marker").string(), session->socketPath()};
    }
    std::unique_ptr<Camera> camera(const std::string& source, std::chrono::milliseconds retry) {
        auto layer =
            std::make_shared<SourceDeviceLayer>(CameraSource::parse(source).value(), settings());
        return std::make_unique<Camera>(layer, CameraOptions{{}, nullptr, 50ms, retry, 3000ms});
    }
    static inline PipeWireSession* session = nullptr;
    std::vector<std::string> started;
};

// The tests that need frames, skipped where GStreamer alone cannot move any through the
// session.
class PipeWireFrames : public PipeWire {
  protected:
    void SetUp() override {
        PipeWire::SetUp();
        if (IsSkipped()) return;
        if (const std::string& why = session->framesProblem(); !why.empty())
            GTEST_SKIP() << "this machine moves no frames through PipeWire: " << why;
    }
};

TEST_F(PipeWire, ListsTheCameraNodesWithPositionRotationAndFormats) {
    const std::string caps = "video/x-raw,width=320,height=240,framerate=15/1,format=";
    start({frontCamera("listfront", "270"), backCamera("listback", "90"),
           Node{"listext", "Webcam", "external", "45", caps + "I420"},  // 45: as without
           Node{"listgray", "Gray", "front", "", caps + "GRAY8"}});
    // The default choice takes PipeWire's cameras, neither V4L2 nor the test scene; a camera
    // that cannot be opened is named with the reason.
    SourceDeviceLayer layer(CameraSource{}, settings());
    std::string printed = printedTo(
        [&](std::FILE* out) { CameraCommandLine::listCameras(out, CameraSource{}, layer, out); });
    for (const char* line :
         {"source: default (PipeWire cameras, else V4L2 cameras, else synthetic)\n",
          "pipewire:listfront\tfront\trotation 270\tFrontlistfront\n\tYUY2 640x480\n",
          "pipewire:listback\tback\trotation 90\tBacklistback\n\tNV12 1280x720\n",
          "pipewire:listext\tfront\trotation 0\tWebcam\n\tI420 320x240\n",
          "pipewire:listgray (front) cannot be used: offers no frame format that can be converted "
          "(it offers GRAY8 320x240)\n"})
        EXPECT_NE(printed.find(line), std::string::npos) << line << "\nin:\n" << printed;
    EXPECT_EQ(printed.find("synthetic:"), std::string::npos) << printed;
    // The application itself, finding the daemon through XDG_RUNTIME_DIR.
    quorbit::testing::RunOptions options;
    for (const auto& [name, value] : session->environment())
        options.env.emplace_back(name, value.empty() ? std::nullopt : std::optional(value));
    options.env.emplace_back("QUORBIT_CAMERA", std::nullopt);
    options.env.emplace_back("QUORBIT_CAMERA_ROTATION", "180");  // replaces every camera's own
    auto app = quorbit::testing::runQuorbit({"--list-cameras"}, session->runtimeDir(), options);
    EXPECT_EQ(app.status, 0) << app.err;
    EXPECT_NE(app.out.find("pipewire:listback\tback\trotation 180\tBacklistback"),
              std::string::npos)
        << app.out;
}

// Asking each node for its details lets go of the connection's lock: nodes going away
// meanwhile must not pull the listing's ground away.
TEST_F(PipeWire, ListingSurvivesNodesGoingAwayMeanwhile) {
    std::vector<Node> nodes;
    for (int i = 0; i < 6; ++i)
        nodes.push_back(frontCamera("churn" + std::to_string(i)));
    start(nodes);
    for (int round = 0; round < 24; ++round) {
        const Node& node = nodes[size_t(round % 6)];
        std::thread churn([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(round % 7));
            session->stopCamera(node.name);
        });
        offered();
        churn.join();
        session->startCamera(node);
    }
}

TEST_F(PipeWireFrames, DeliversFramesAndSwapsBetweenFrontAndBack) {
    start({frontCamera("swapfront"), backCamera("swapback", "90")});  // frames carry the rotation
    auto cam = camera("pipewire", 2000ms);
    RecordingDelegate delegate;
    cam->setDelegate(&delegate);
    EXPECT_EQ(cam->numCameras(), 2);
    // Front, then back: frames of the other side stop once the swap is made.
    for (bool front : {true, false}) {
        if (!front) cam->swapCamera();
        EXPECT_EQ(cam->curCameraType(), front ? kCameraFront : kCameraBack);
        auto showing = [&] { return front ? showsBars(delegate.last) : showsBack(delegate.last); };
        ASSERT_TRUE(pumpUntil(showing, kEventTimeout)) << session->daemonLogs();
        std::size_t from = delegate.tags.size();
        ASSERT_TRUE(pumpUntil([&] { return delegate.tags.size() >= from + 3; }, kEventTimeout));
        EXPECT_TRUE(showing());
        EXPECT_EQ(delegate.lastRotation, front ? 0 : 90);
    }
    EXPECT_EQ(delegate.maxDepth, 1);
}

TEST_F(PipeWireFrames, InsideTheSandboxTheCamerasComeThroughThePortal) {
    fs::path marker = fs::path(session->runtimeDir()) / "flatpak-info";
    std::ofstream(marker) << "[Application]\nname=org.example.Flurio\n";
    // Each case has a node of its own: GStreamer's fake camera nodes stop delivering to a
    // consumer that comes back after another node has streamed.
    // Granted: connections come from the portal; denied: no camera, not even the test scene;
    // no camera: the test scene; no portal: the daemon's own socket. Direct: whether the
    // daemon's own socket is reachable.
    const std::vector<std::string> scene = {"synthetic:front", "synthetic:back"};
    // clang-format off
    struct Case { const char* node; bool portal, present; unsigned response; bool direct; std::vector<std::string> ids; std::string unavailable; };
    const Case cases[] = {
        {"portalgranted", true, true, 0, false, {"pipewire:portalgranted"}, ""},
        {"portaldenied", true, true, 1, true, {}, SourceDeviceLayer::kAccessDenied},
        {"portalnone", true, false, 0, true, scene, ""},
        {"portalabsent", false, true, 0, true, {"pipewire:portalabsent"}, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.node);
        start({frontCamera(c.node)});
        std::unique_ptr<FakePortal> portal;
        if (c.portal) {
            portal = std::make_unique<FakePortal>(session->busAddress(), session->socketPath());
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
        EXPECT_EQ(portal ? portal->accessRequests.load() : 0, c.portal && c.present ? 1 : 0);
        Camera cam(layer);
        RecordingDelegate delegate;
        cam.setDelegate(&delegate);
        if (c.ids.empty())
            EXPECT_EQ(cam.availability(), (CameraAvailability{false, c.unavailable}));
        else
            EXPECT_TRUE(pumpUntil([&] { return !delegate.tags.empty(); }, kEventTimeout))
                << session->daemonLogs();
        session->stopCamera(c.node);
    }
}

// GStreamer's fake nodes offer one size each: a still at the back node's 1280 x 720, larger
// than the live frames, and one at a size it does not offer. Then the node goes away and comes
// back (how the camera reports and retries a lost device is shown with fake devices).
TEST_F(PipeWireFrames, TakesAStillAtTheNodesSizeAndComesBackWithTheNode) {
    start({backCamera("stillback", "90")});
    auto devices = offered();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->stillSizes(), (std::vector<FrameSize>{{1280, 720}}));
    auto cam = camera("pipewire:stillback", 300ms);
    RecordingDelegate delegate;
    cam->setDelegate(&delegate);
    ASSERT_TRUE(pumpUntil([&] { return showsBack(delegate.last); }, kEventTimeout))
        << session->daemonLogs();
    std::optional<platform::Result<StillFrame>> taken;
    auto take = [&](FrameSize size) {
        taken.reset();
        return cam->captureStill(size, nullptr, [&](auto result) { taken = std::move(result); }) &&
               pumpUntil([&] { return taken.has_value(); }, kEventTimeout);
    };
    ASSERT_TRUE(take({1280, 720}));
    ASSERT_TRUE(*taken) << taken->error().localizedDescription() << session->daemonLogs();
    const StillFrame& still = taken->value();
    EXPECT_EQ(std::tuple(still.width, still.height, still.rotation), std::tuple(1280, 720, 90));
    ASSERT_EQ(still.bgra.size(), 1280u * 720 * 4);
    for (auto [x, y] : {std::pair(0, 0), {1279, 0}, {640, 360}, {0, 719}, {1279, 719}})
        EXPECT_TRUE(
            quorbit::testing::near(&still.bgra[std::size_t(y * 1280 + x) * 4], {224, 80, 32}, 8))
            << x << "," << y;
    ASSERT_TRUE(take({1920, 1080}));
    ASSERT_FALSE(*taken);
    EXPECT_TRUE(taken->error().is(CaptureError::NoStill));
    EXPECT_EQ(taken->error().localizedDescription(),
              "offers no frame format that can be converted at 1920 x 1080 (it offers NV12 "
              "1280x720)");
    std::size_t frames = delegate.tags.size();
    ASSERT_TRUE(pumpUntil([&] { return delegate.tags.size() > frames + 2; }, kEventTimeout))
        << session->daemonLogs();
    EXPECT_TRUE(showsBack(delegate.last));
    session->stopCamera("stillback");
    ASSERT_TRUE(pumpUntil([&] { return !cam->availability().available; }, kEventTimeout));
    EXPECT_NE(cam->availability().reason.find("disconnected"), std::string::npos)
        << cam->availability().reason;
    frames = delegate.tags.size();
    session->startCamera(backCamera("stillback", "90"));
    ASSERT_TRUE(pumpUntil([&] { return delegate.tags.size() > frames + 2; }, kEventTimeout))
        << session->logTail("stillback");
    EXPECT_TRUE(showsBack(delegate.last));
    EXPECT_TRUE(pumpUntil([&] { return cam->availability().available; }, kEventTimeout));
}

}  // namespace
}  // namespace quorbit::capture::testing
