#include "capture/PipeWireConnection.h"

#include <pipewire/pipewire.h>
#include <spa/utils/result.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/core/Log.h"

namespace quorbit::capture {
namespace {

platform::Error connectionError(const std::string& what) {
    return platform::Error::make(PipeWireError::NoDaemon, what);
}

void initPipeWire() {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

void copyProps(const spa_dict* props, std::map<std::string, std::string>& into) {
    if (!props) return;
    const spa_dict_item* item;
    spa_dict_for_each(item, props) {
        if (item->key && item->value) into[item->key] = item->value;
    }
}

// The node's properties and EnumFormat parameters as they come in.
struct DetailsCollector {
    PipeWireConnection::NodeDetails details;
    static void onInfo(void* data, const pw_node_info* info) {
        if (info) copyProps(info->props, static_cast<DetailsCollector*>(data)->details.props);
    }
    static void onParam(void* data, int, std::uint32_t id, std::uint32_t, std::uint32_t,
                        const spa_pod* param) {
        if (id != SPA_PARAM_EnumFormat) return;
        if (auto offer = PipeWireFormat::parse(param))
            static_cast<DetailsCollector*>(data)->details.offers.push_back(std::move(*offer));
    }
};

}  // namespace

struct PipeWireConnection::Hooks {
    pw_core_events coreEvents{};
    pw_registry_events registryEvents{};
    spa_hook core{}, registry{};
};

platform::Result<std::unique_ptr<PipeWireConnection>> PipeWireConnection::connect(
    const Remote& remote, std::chrono::milliseconds timeout) {
    initPipeWire();
    std::unique_ptr<PipeWireConnection> connection(new PipeWireConnection);
    PipeWireConnection& c = *connection;
    c._hooks = std::make_unique<Hooks>();
    c._loop = pw_thread_loop_new("quorbit-pipewire", nullptr);
    if (!c._loop) return connectionError("PipeWire loop could not be made");
    c._context = pw_context_new(pw_thread_loop_get_loop(c._loop), nullptr, 0);
    if (!c._context) return connectionError("PipeWire context could not be made");
    if (pw_thread_loop_start(c._loop) < 0)
        return connectionError("PipeWire loop thread could not be started");

    std::unique_lock lock(c);
    int fd = -1;
    if (remote.openSocket) {
        auto opened = remote.openSocket();
        if (!opened) return opened.error();
        fd = opened.value();
    }
    pw_properties* props = pw_properties_new(PW_KEY_APP_NAME, "Flurio", nullptr);
    if (!remote.name.empty()) pw_properties_set(props, PW_KEY_REMOTE_NAME, remote.name.c_str());
    errno = 0;
    c._core = fd >= 0 ? pw_context_connect_fd(c._context, fd, props, 0)
                      : pw_context_connect(c._context, props, 0);
    if (!c._core) {
        int error = errno;
        return connectionError(platform::format("no PipeWire daemon answers (%s)",
                                                std::strerror(error ? error : ECONNREFUSED)));
    }

    Hooks& hooks = *c._hooks;
    hooks.coreEvents.version = PW_VERSION_CORE_EVENTS;
    hooks.coreEvents.done = onDone;
    hooks.coreEvents.error = onError;
    pw_core_add_listener(c._core, &hooks.core, &hooks.coreEvents, &c);
    hooks.registryEvents.version = PW_VERSION_REGISTRY_EVENTS;
    hooks.registryEvents.global = onGlobal;
    hooks.registryEvents.global_remove = onGlobalRemove;
    c._registry = pw_core_get_registry(c._core, PW_VERSION_REGISTRY, 0);
    if (!c._registry) return connectionError("PipeWire registry could not be read");
    pw_registry_add_listener(c._registry, &hooks.registry, &hooks.registryEvents, &c);
    if (!c.sync(timeout)) {
        return connectionError(c._failure ? "PipeWire: " + *c._failure
                                          : std::string("the PipeWire daemon does not answer"));
    }
    lock.unlock();
    return connection;
}

PipeWireConnection::~PipeWireConnection() {
    if (_loop) {
        pw_thread_loop_lock(_loop);
        nodeRemoved = nullptr;
        failed = nullptr;
        if (_hooks) {
            spa_hook_remove(&_hooks->registry);
            spa_hook_remove(&_hooks->core);
        }
        if (_registry) pw_proxy_destroy(reinterpret_cast<pw_proxy*>(_registry));
        if (_core) pw_core_disconnect(_core);
        pw_thread_loop_unlock(_loop);
        pw_thread_loop_stop(_loop);
    }
    if (_context) pw_context_destroy(_context);
    if (_loop) pw_thread_loop_destroy(_loop);
}

void PipeWireConnection::lock() {
    pw_thread_loop_lock(_loop);
}

void PipeWireConnection::unlock() {
    pw_thread_loop_unlock(_loop);
}

void PipeWireConnection::wake() {
    pw_thread_loop_signal(_loop, false);
}

bool PipeWireConnection::waitUntil(const std::function<bool()>& done,
                                   std::chrono::milliseconds timeout) {
    timespec deadline{};
    pw_thread_loop_get_time(_loop, &deadline,
                            std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count());
    while (!done() && !_failure) {
        if (pw_thread_loop_timed_wait_full(_loop, &deadline) == -ETIMEDOUT) break;
    }
    return done();
}

bool PipeWireConnection::sync(std::chrono::milliseconds timeout) {
    if (!_core || _failure) return false;
    _pendingSeq = pw_core_sync(_core, PW_ID_CORE, _pendingSeq);
    int seq = _pendingSeq;
    return waitUntil([&] { return _doneSeq == seq; }, timeout);
}

PipeWireConnection::NodeDetails PipeWireConnection::detailsOf(std::uint32_t id,
                                                              std::chrono::milliseconds timeout) {
    if (!_registry || !_nodes.count(id)) return {};
    auto* node = static_cast<pw_node*>(
        pw_registry_bind(_registry, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
    if (!node) return {};
    DetailsCollector collector;
    pw_node_events events{};
    events.version = PW_VERSION_NODE_EVENTS;
    events.info = DetailsCollector::onInfo;
    events.param = DetailsCollector::onParam;
    spa_hook hook{};
    pw_node_add_listener(node, &hook, &events, &collector);
    pw_node_enum_params(node, 0, SPA_PARAM_EnumFormat, 0, UINT32_MAX, nullptr);
    // The node's info comes on binding and its parameters in answer to the request, both
    // before the answer to a round trip made after them.
    sync(timeout);
    spa_hook_remove(&hook);
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(node));
    return std::move(collector.details);
}

void PipeWireConnection::onGlobal(void* data, std::uint32_t id, std::uint32_t, const char* type,
                                  std::uint32_t, const spa_dict* props) {
    auto* self = static_cast<PipeWireConnection*>(data);
    if (!type || std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0) return;
    Node node;
    node.id = id;
    copyProps(props, node.props);
    self->_nodes[id] = std::move(node);
    self->wake();
}

void PipeWireConnection::onGlobalRemove(void* data, std::uint32_t id) {
    auto* self = static_cast<PipeWireConnection*>(data);
    if (!self->_nodes.erase(id)) return;
    if (self->nodeRemoved) self->nodeRemoved(id);
    self->wake();
}

void PipeWireConnection::onDone(void* data, std::uint32_t id, int seq) {
    auto* self = static_cast<PipeWireConnection*>(data);
    if (id != PW_ID_CORE) return;
    self->_doneSeq = seq;
    self->wake();
}

void PipeWireConnection::onError(void* data, std::uint32_t id, int, int res, const char* message) {
    auto* self = static_cast<PipeWireConnection*>(data);
    // Errors about other objects (a stream's, say) reach their owners on their own; of the
    // daemon's own, only a lost connection ends this one.
    if (id != PW_ID_CORE) return;
    if (res == -EPIPE) {
        self->fail("the PipeWire daemon went away");
        return;
    }
    platform::Log::debug(
        platform::format("PipeWire: %s", message && *message ? message : spa_strerror(res)));
}

void PipeWireConnection::fail(const std::string& why) {
    if (_failure) return;
    _failure = why;
    platform::Log::debug("PipeWire connection failed: " + why);
    if (failed) failed(why);
    wake();
}

}  // namespace quorbit::capture
