#include "support/PipeWireSession.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/core/Bundle.h"
#include "platform/core/Subprocess.h"

namespace quorbit::testing {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using platform::Subprocess;

// A process group that the tests started: command, run by sh in a session of its own with
// env's changes (an empty value unsets) and its output appended to log, and a watcher beside
// it that kills the whole group once its standard input, a pipe that only this process holds
// open, closes: when the group is let go, or when the test process dies, however that ends.
class ChildGroup {
  public:
    ChildGroup(const std::string& command, const std::map<std::string, std::string>& env,
               const std::string& log) {
        std::string script;
        for (const auto& [name, value] : env)
            script += value.empty() ? "unset " + name + "; "
                                    : name + "='" + value + "'; export " + name + "; ";
        script +=
            "exec 3<&0 </dev/null >>\"$2\" 2>&1; sh -c \"$1\" 3<&- & command=$!; "
            "{ read -r _; kill -KILL 0; } <&3 & exec 3<&-; wait $command";
        Subprocess::Options options{
            {"setsid", "sh", "-c", script, "sh", command, log}, {}, {}, Subprocess::Stream::Pipe};
        if (auto child = Subprocess::spawn(std::move(options))) _child.emplace(std::move(*child));
    }
    ~ChildGroup() {
        if (running()) ::kill(-_child->pid(), SIGKILL);
    }
    // Waits at most timeout for the command to end by itself; its exit status, or -1.
    int wait(std::chrono::milliseconds timeout) {
        auto status = _child ? _child->wait(timeout) : std::nullopt;
        return status ? status->exitCode : -1;
    }
    bool running() { return _child && !_child->wait(0ms); }

  private:
    std::optional<Subprocess> _child;
};

// How long the daemon may take to come up on a busy machine.
constexpr auto kStartTimeout = 30s;

int connectTo(const std::string& socketPath) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    close(fd);
    return -1;
}

PipeWireSession::PipeWireSession() {
    for (const char* tool : {"dbus-run-session", "pipewire", "wireplumber", "gst-launch-1.0"}) {
        if (std::system(("command -v " + std::string(tool) + " >/dev/null").c_str()) != 0) {
            _problem = std::string("no ") + tool +
                       " (scripts/install-deps installs pipewire, wireplumber, "
                       "gstreamer1.0-pipewire and dbus)";
            return;
        }
    }
    char pattern[] = "/tmp/quorbit-pipewire-XXXXXX";
    if (!mkdtemp(pattern)) {
        _problem = "no temporary folder";
        return;
    }
    _dir = pattern;
    std::string inner =
        "printf %s \"$DBUS_SESSION_BUS_ADDRESS\" > \"$0/bus.tmp\" && mv \"$0/bus.tmp\" \"$0/bus\"; "
        "pipewire > \"$0/pipewire.log\" 2>&1 & "
        // The session manager gives up at once when the daemon is not listening yet: it starts
        // once the daemon's socket is there (for up to 20 s).
        "i=0; while [ ! -S \"$0/pipewire-0\" ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done; "
        "wireplumber > \"$0/wireplumber.log\" 2>&1 & wait";
    auto env = environment();
    env["DBUS_SESSION_BUS_ADDRESS"] = "";
    _daemons = std::make_unique<ChildGroup>(
        "exec dbus-run-session -- sh -c '" + inner + "' \"" + _dir + "\"", env,
        _dir + "/session.log");
    // Until the bus address is written and the daemon takes connections (close(-1) fails).
    for (auto end = Clock::now() + kStartTimeout;
         !(std::filesystem::exists(_dir + "/bus") && close(connectTo(socketPath())) == 0);
         std::this_thread::sleep_for(20ms)) {
        if (Clock::now() >= end || !_daemons->running()) {
            _problem =
                "the PipeWire daemon did not start: " + logTail("session") + logTail("pipewire");
            _daemons.reset();
            return;
        }
    }
    _busAddress = platform::readFile(_dir + "/bus").value_or("");
}

PipeWireSession::~PipeWireSession() {
    _cameras.clear();
    _daemons.reset();
    std::error_code error;
    if (!_dir.empty()) std::filesystem::remove_all(_dir, error);
}

std::map<std::string, std::string> PipeWireSession::environment() const {
    return {{"XDG_RUNTIME_DIR", _dir},
            {"XDG_STATE_HOME", _dir + "/state"},
            {"XDG_CONFIG_HOME", _dir + "/config"},
            {"DBUS_SESSION_BUS_ADDRESS", _busAddress},
            {"PIPEWIRE_REMOTE", ""},
            {"PIPEWIRE_RUNTIME_DIR", ""}};
}

void PipeWireSession::startCamera(const CameraNode& node) {
    std::string props = "props,media.class=Video/Source,media.role=Camera,node.name=" + node.name +
                        ",node.description=" + node.description;
    if (!node.location.empty()) props += ",api.libcamera.location=" + node.location;
    if (!node.rotation.empty()) props += ",api.libcamera.rotation=(string)" + node.rotation;
    _cameras[node.name] = std::make_unique<ChildGroup>(
        "exec gst-launch-1.0 -q videotestsrc is-live=true pattern=" + node.pattern + " ! " +
            node.caps + " ! pipewiresink mode=provide stream-properties=\"" + props + "\"",
        environment(), _dir + "/" + node.name + ".log");
}

void PipeWireSession::stopCamera(const std::string& name) {
    _cameras.erase(name);
}

const std::string& PipeWireSession::framesProblem() {
    if (_framesProblem) return *_framesProblem;
    _framesProblem = _problem;
    if (!_problem.empty()) return *_framesProblem;
    CameraNode probe{"frameprobe", "Frame-probe", "front"};
    startCamera(probe);
    // The consumer asks for the node by name, as a camera's video, and ends by itself after
    // a few frames. One that came before the node was offered is never linked: it is
    // stopped and asked again.
    int status = -1;
    for (auto end = Clock::now() + kStartTimeout; status != 0 && Clock::now() < end;) {
        ChildGroup consumer("exec gst-launch-1.0 -q pipewiresrc target-object=" + probe.name +
                                " num-buffers=3 stream-properties=\"props,media.type=Video,"
                                "media.category=Capture,media.role=Camera\" ! fakesink",
                            environment(), _dir + "/frameconsumer.log");
        status = consumer.wait(5s);
    }
    if (status != 0)
        *_framesProblem = std::string(status < 0 ? "no frame reached GStreamer's own consumer"
                                                 : "GStreamer's own consumer failed") +
                          logTail("frameconsumer") + logTail(probe.name) + daemonLogs();
    stopCamera(probe.name);
    return *_framesProblem;
}

std::string PipeWireSession::logTail(const std::string& name) const {
    std::string text = platform::readFile(_dir + "/" + name + ".log").value_or("");
    if (text.size() > 1500) text = "..." + text.substr(text.size() - 1500);
    return text.empty() ? std::string() : "\n[" + name + ".log]\n" + text;
}

}  // namespace quorbit::testing
