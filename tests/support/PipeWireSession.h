#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace quorbit::testing {

class ChildGroup;

// A connection to the Unix socket at socketPath, or -1.
int connectTo(const std::string& socketPath);

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
    // The environment a process needs to use this session (an empty value: unset).
    std::map<std::string, std::string> environment() const;
    // Starts a fake camera; it runs until stopped (or the session ends).
    void startCamera(const CameraNode& node);
    void stopCamera(const std::string& name);
    // The last lines of a log of the session ("pipewire", "wireplumber" or a camera name).
    std::string logTail(const std::string& name) const;
    // Whether this machine moves frames between two processes through the session at all,
    // tried once with GStreamer alone, so that a sandbox that cannot share buffers is told
    // apart from a fault of ours. Empty when it does; otherwise what went wrong.
    const std::string& framesProblem();
    std::string daemonLogs() const { return logTail("pipewire") + logTail("wireplumber"); }

  private:
    std::string _dir, _problem, _busAddress;
    std::optional<std::string> _framesProblem;
    std::unique_ptr<ChildGroup> _daemons;
    std::map<std::string, std::unique_ptr<ChildGroup>> _cameras;
};

}  // namespace quorbit::testing
