#include "support/PipeWireSession.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace quorbit::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// How long the daemon may take to come up on a busy machine.
constexpr auto kStartTimeout = 30s;

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

bool canConnect(const std::string& socketPath) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

ChildGroup::ChildGroup(const std::string& command, const std::map<std::string, std::string>& env,
                       const std::string& log) {
    int lifeline[2];
    if (pipe2(lifeline, O_CLOEXEC) != 0) return;
    // The environment: this process's, with env's entries replacing (or, empty, removing)
    // variables of the same name.
    std::vector<std::string> entries;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        if (!env.count(entry.substr(0, entry.find('=')))) entries.push_back(entry);
    }
    for (const auto& [name, value] : env)
        if (!value.empty()) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    // The leader runs the command and ends with it; a watcher beside it, reading the
    // lifeline (descriptor 3), kills the whole group once the lifeline closes.
    std::string script =
        "sh -c \"$1\" </dev/null 3<&- & command=$!; { read -r _; kill -KILL 0; } <&3 & "
        "exec 3<&-; wait $command";
    std::vector<std::string> args = {"sh", "-c", script, "sh", command};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, lifeline[0], 3);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    if (posix_spawnp(&pid, "sh", &actions, &attributes, argv.data(), envp.data()) == 0) {
        _pid = pid;
        _lifeline = lifeline[1];
    } else {
        close(lifeline[1]);
    }
    close(lifeline[0]);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
}

bool ChildGroup::running() {
    if (_pid <= 0) return false;
    return waitpid(_pid, &_status, WNOHANG) == 0;
}

int ChildGroup::wait(std::chrono::milliseconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (_pid > 0) {
        int status = 0;
        pid_t done = waitpid(_pid, &status, WNOHANG);
        if (done == _pid) {
            _pid = -1;
            _status = status;
            break;
        }
        if (std::chrono::steady_clock::now() >= end) return -1;
        std::this_thread::sleep_for(10ms);
    }
    return WIFEXITED(_status) ? WEXITSTATUS(_status) : -1;
}

void ChildGroup::kill() {
    if (_pid > 0) {
        ::kill(-_pid, SIGKILL);
        waitpid(_pid, &_status, 0);
        _pid = -1;
    }
    if (_lifeline >= 0) {
        close(_lifeline);
        _lifeline = -1;
    }
}

PipeWireSession::PipeWireSession() {
    for (const char* tool : {"dbus-run-session", "pipewire", "wireplumber", "gst-launch-1.0"}) {
        if (!onPath(tool)) {
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
    chmod(_dir.c_str(), 0700);
    std::string inner =
        "printf %s \"$DBUS_SESSION_BUS_ADDRESS\" > \"$0/bus.tmp\" && mv \"$0/bus.tmp\" \"$0/bus\"; "
        "pipewire > \"$0/pipewire.log\" 2>&1 & "
        // The session manager gives up at once when the daemon is not listening yet: it starts
        // once the daemon's socket is there (for up to 20 s).
        "i=0; while [ ! -S \"$0/pipewire-0\" ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done; "
        "wireplumber > \"$0/wireplumber.log\" 2>&1 & wait";
    std::string command = "exec dbus-run-session -- sh -c '" + inner + "' \"" + _dir + "\"";
    auto env = environment();
    env["DBUS_SESSION_BUS_ADDRESS"] = "";
    _daemons = std::make_unique<ChildGroup>(command, env, _dir + "/session.log");

    auto end = std::chrono::steady_clock::now() + kStartTimeout;
    while (!(fs::exists(_dir + "/bus") && canConnect(socketPath()))) {
        if (std::chrono::steady_clock::now() >= end || !_daemons->running()) {
            _problem =
                "the PipeWire daemon did not start: " + logTail("session") + logTail("pipewire");
            _daemons.reset();
            return;
        }
        std::this_thread::sleep_for(20ms);
    }
    _busAddress = readFile(_dir + "/bus");
}

PipeWireSession::~PipeWireSession() {
    _cameras.clear();
    _daemons.reset();
    if (!_dir.empty()) {
        std::error_code error;
        fs::remove_all(_dir, error);
    }
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
    std::string command =
        "exec gst-launch-1.0 -q videotestsrc is-live=true pattern=" + node.pattern + " ! " +
        node.caps + " ! pipewiresink mode=provide stream-properties=\"" + props + "\"";
    _cameras[node.name] =
        std::make_unique<ChildGroup>(command, environment(), _dir + "/" + node.name + ".log");
}

void PipeWireSession::stopCamera(const std::string& name) {
    _cameras.erase(name);
}

const std::string& PipeWireSession::framesProblem() {
    if (_framesProblem) return *_framesProblem;
    _framesProblem.emplace();
    if (!_problem.empty()) return *_framesProblem = _problem;
    CameraNode probe{"frameprobe", "Frame-probe", "front"};
    startCamera(probe);
    // The consumer asks for the node by name, as a camera's video, and ends by itself after
    // a few frames. One that came before the node was offered is never linked: it is
    // stopped and asked again.
    int status = -1;
    auto end = std::chrono::steady_clock::now() + kStartTimeout;
    while (status != 0 && std::chrono::steady_clock::now() < end) {
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
    std::string text = readFile(_dir + "/" + name + ".log");
    if (text.size() > 1500) text = "..." + text.substr(text.size() - 1500);
    return text.empty() ? std::string() : "\n[" + name + ".log]\n" + text;
}

}  // namespace quorbit::testing
