#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorbit::testing {

// A process group that the tests started. It dies with the test process, however that
// ends: one of its processes waits on a pipe that only the test process holds open, and
// kills the whole group when the pipe closes.
class ChildGroup {
  public:
    // Runs command with sh in a new session, output appended to log.
    ChildGroup(const std::string& command, const std::map<std::string, std::string>& env,
               const std::string& log);
    ~ChildGroup() { kill(); }
    ChildGroup(const ChildGroup&) = delete;
    ChildGroup& operator=(const ChildGroup&) = delete;

    bool started() const { return _pid > 0; }
    pid_t pid() const { return _pid; }
    // Whether the command is still running.
    bool running();
    // Kills every process of the group.
    void kill();
    // Waits at most timeout for the command to end by itself; its exit status, or -1.
    int wait(std::chrono::milliseconds timeout);

  private:
    pid_t _pid = -1;
    int _lifeline = -1;
    int _status = -1;
};

// A private desktop session for the tests: a D-Bus session bus (dbus-run-session), the
// PipeWire daemon and WirePlumber, in a temporary XDG_RUNTIME_DIR, and fake camera nodes
// made with GStreamer (videotestsrc into pipewiresink). Everything it starts is killed
// when it goes, and when the test process dies.
class PipeWireSession {
  public:
    struct CameraNode {
        std::string name;           // node.name
        std::string description;    // node.description
        std::string location;       // api.libcamera.location; empty: none
        std::string rotation = {};  // api.libcamera.rotation; empty: none
        std::string caps = "video/x-raw,format=YUY2,width=640,height=480,framerate=24/1";
        std::string pattern = "smpte";  // videotestsrc's pattern, with its other properties
    };

    // Starts the session; check problem() before use.
    PipeWireSession();
    ~PipeWireSession();

    // Why the daemon could not start (the tests are then skipped); empty when it runs.
    const std::string& problem() const { return _problem; }
    const std::string& runtimeDir() const { return _dir; }
    std::string socketPath() const { return _dir + "/pipewire-0"; }
    const std::string& busAddress() const { return _busAddress; }
    // The environment a process needs to use this session.
    std::map<std::string, std::string> environment() const;

    // Starts a fake camera; it runs until stopped (or the session ends).
    void startCamera(const CameraNode& node);
    void stopCamera(const std::string& name);
    // The last lines of a log of the session ("pipewire", "wireplumber" or a camera name).
    std::string logTail(const std::string& name) const;
    // Whether this machine moves frames between two processes through the session at all,
    // tried once with GStreamer alone (a fake camera and a consumer of a few frames), so
    // that a sandbox that cannot share buffers is told apart from a fault of ours. Empty
    // when it does; otherwise what went wrong, with the logs.
    const std::string& framesProblem();
    // The daemons' logs, for a failure message.
    std::string daemonLogs() const { return logTail("pipewire") + logTail("wireplumber"); }

  private:
    std::string _dir, _problem, _busAddress;
    std::optional<std::string> _framesProblem;
    std::unique_ptr<ChildGroup> _daemons;
    std::map<std::string, std::unique_ptr<ChildGroup>> _cameras;
};

}  // namespace quorbit::testing
