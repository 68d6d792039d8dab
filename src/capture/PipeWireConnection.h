#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/PipeWireFormat.h"
#include "platform/core/Error.h"

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_registry;
struct spa_dict;

namespace quorbit::capture {

// The errors of the PipeWire cameras: their domain and codes.
inline constexpr const char* kPipeWireErrorDomain = "quorbit.pipewire";
enum class PipeWireError : long {
    NoDaemon = 1,      // no PipeWire daemon answers, or the connection could not be made
    CameraFailed = 2,  // a camera node cannot be opened, went away or stopped delivering
};
constexpr const char* errorDomain(PipeWireError) {
    return kPipeWireErrorDomain;
}

// One connection to the PipeWire daemon, served by a loop thread of its own, with the
// daemon's nodes as its registry announces them.
//
// Callbacks run on the loop thread with the loop locked. Every other thread that calls
// into PipeWire, or reads the state below, holds the lock (lock() / unlock(), so that
// std::unique_lock works on a connection).
class PipeWireConnection {
  public:
    // How to reach the daemon: a function answering a connected socket (the camera portal
    // hands one out), or, when empty, the daemon's own socket (PIPEWIRE_REMOTE, else
    // "pipewire-0" in XDG_RUNTIME_DIR).
    struct Remote {
        std::function<platform::Result<int>()> openSocket;
        std::string name;  // the socket name to use instead of the default; for tests
    };

    struct Node {
        std::uint32_t id = 0;
        std::map<std::string, std::string> props;
        std::string prop(const std::string& key) const {
            auto it = props.find(key);
            return it == props.end() ? std::string() : it->second;
        }
    };

    // Connects and waits at most timeout until the daemon has announced its nodes.
    static platform::Result<std::unique_ptr<PipeWireConnection>> connect(
        const Remote& remote, std::chrono::milliseconds timeout);
    ~PipeWireConnection();
    PipeWireConnection(const PipeWireConnection&) = delete;
    PipeWireConnection& operator=(const PipeWireConnection&) = delete;

    void lock();
    void unlock();

    // With the lock held: waits until the daemon has answered every request made so far;
    // false on time-out or when the connection failed.
    bool sync(std::chrono::milliseconds timeout);
    // With the lock held: waits until done() holds, the connection fails or the time is up;
    // answers done(). Loop callbacks call wake() when state that done() reads changed.
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    void wake();

    // With the lock held.
    pw_core* core() const { return _core; }
    const std::map<std::uint32_t, Node>& nodes() const { return _nodes; }
    // Why the connection failed, once it did (the daemon went away, for example).
    const std::optional<std::string>& failure() const { return _failure; }
    // What a node tells when asked: all its properties (the registry announces a few
    // only) and its formats.
    struct NodeDetails {
        std::map<std::string, std::string> props;
        std::vector<PipeWireFormat::Offer> offers;
    };
    // With the lock held: asks the node and waits at most timeout for the answer.
    NodeDetails detailsOf(std::uint32_t id, std::chrono::milliseconds timeout);

    // Told on the loop thread when a node goes away or the connection fails; set with the
    // lock held.
    std::function<void(std::uint32_t id)> nodeRemoved;
    std::function<void(const std::string& why)> failed;

  private:
    PipeWireConnection() = default;
    static void onGlobal(void* data, std::uint32_t id, std::uint32_t permissions, const char* type,
                         std::uint32_t version, const spa_dict* props);
    static void onGlobalRemove(void* data, std::uint32_t id);
    static void onDone(void* data, std::uint32_t id, int seq);
    static void onError(void* data, std::uint32_t id, int seq, int res, const char* message);
    void fail(const std::string& why);

    struct Hooks;
    pw_thread_loop* _loop = nullptr;
    pw_context* _context = nullptr;
    pw_core* _core = nullptr;
    pw_registry* _registry = nullptr;
    std::unique_ptr<Hooks> _hooks;
    std::map<std::uint32_t, Node> _nodes;
    std::optional<std::string> _failure;
    int _pendingSeq = 0, _doneSeq = 0;
};

}  // namespace quorbit::capture
