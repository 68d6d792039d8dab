#include "capture/PipeWireDevice.h"

#include <pipewire/pipewire.h>
#include <spa/param/buffers.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

#include <cerrno>

#include "capture/PipeWireDeviceLayer.h"
#include "platform/core/Log.h"

namespace quorbit::capture {
namespace {

using namespace std::chrono_literals;

// How long open() waits for the daemon, and for the stream to agree on a format.
constexpr auto kConnectTimeout = 3000ms;
constexpr auto kNegotiateTimeout = 5000ms;

platform::Error deviceError(const std::string& what) {
    return platform::Error::make(PipeWireError::CameraFailed, what);
}

std::string offered(const std::vector<PipeWireFormat::Offer>& offers) {
    std::string text;
    for (const auto& offer : offers)
        for (const std::string& line : PipeWireFormat::describe(offer))
            text += (text.empty() ? "" : ", ") + line;
    return text.empty() ? "nothing" : text;
}

}  // namespace

struct PipeWireDevice::Hooks {
    pw_stream_events events{};
    spa_hook stream{};
};

PipeWireDevice::PipeWireDevice(DeviceInfo info, std::string nodeName,
                               PipeWireConnection::Remote remote)
    : _info(std::move(info)), _nodeName(std::move(nodeName)), _remote(std::move(remote)) {}

PipeWireDevice::~PipeWireDevice() {
    close();
}

platform::Result<void> PipeWireDevice::open() {
    return openAt({kFrameWidth, kFrameHeight}, false);
}

platform::Result<StillFrame> PipeWireDevice::takeStill(FrameSize size, int settleFrames,
                                                       std::chrono::milliseconds timeout) {
    return readStill(size, settleFrames, timeout, [&] { return openAt(size, true); });
}

platform::Result<void> PipeWireDevice::openAt(FrameSize size, bool still) {
    close();
    _size = size;
    _still = still;
    auto connected = PipeWireConnection::connect(_remote, kConnectTimeout);
    if (!connected)
        return deviceError("cannot be opened: " + connected.error().localizedDescription());
    _connection = std::move(connected.value());
    std::unique_lock lock(*_connection);

    std::optional<std::uint32_t> nodeId;
    for (const auto& [id, node] : _connection->nodes())
        if (PipeWireDeviceLayer::isCamera(node) && node.prop(PW_KEY_NODE_NAME) == _nodeName)
            nodeId = id;
    if (!nodeId) {
        lock.unlock();
        close();
        return deviceError("disconnected (PipeWire offers no such camera now)");
    }
    auto result = connectStream(*nodeId);
    if (result) {
        _connection->waitUntil([&] { return _reader.has_value() || _failure.has_value(); },
                               kNegotiateTimeout);
        std::lock_guard state(_mutex);
        if (_failure) result = deviceError(*_failure);
    }
    lock.unlock();
    if (!result) close();
    return result;
}

platform::Result<void> PipeWireDevice::connectStream(std::uint32_t nodeId) {
    auto offers = _connection->detailsOf(nodeId, kConnectTimeout).offers;
    auto choice = PipeWireFormat::choose(offers, _size, _still);
    if (!choice && _still) {
        return platform::Error::make(
            CaptureError::NoStill,
            platform::format("offers no frame format that can be converted at %d x %d (it "
                             "offers %s)",
                             _size.width, _size.height, offered(offers).c_str()));
    }
    if (!choice) {
        return deviceError("offers no frame format that can be converted (it offers " +
                           offered(offers) + ")");
    }
    // The node may have gone while it was asked for its formats (the lock is let go meanwhile).
    auto node = _connection->nodes().find(nodeId);
    if (node == _connection->nodes().end())
        return deviceError("disconnected (PipeWire offers no such camera now)");
    _nodeId = nodeId;
    std::string serial = node->second.prop(PW_KEY_OBJECT_SERIAL);
    _connection->nodeRemoved = [this](std::uint32_t id) {
        if (id == _nodeId) fail("disconnected");
    };
    _connection->failed = [this](const std::string& why) { fail("disconnected: " + why); };

    pw_properties* props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Camera",
        PW_KEY_NODE_DONT_RECONNECT, "true", PW_KEY_TARGET_OBJECT,
        serial.empty() ? _nodeName.c_str() : serial.c_str(), nullptr);
    _stream = pw_stream_new(_connection->core(), "Flurio camera", props);
    if (!_stream) return deviceError("cannot be opened: PipeWire stream could not be made");
    _hooks = std::make_unique<Hooks>();
    _hooks->events.version = PW_VERSION_STREAM_EVENTS;
    _hooks->events.state_changed = [](void* data, pw_stream_state old, pw_stream_state state,
                                      const char* error) {
        onStateChanged(data, int(old), int(state), error);
    };
    _hooks->events.param_changed = onParamChanged;
    _hooks->events.process = onProcess;
    pw_stream_add_listener(_stream, &_hooks->stream, &_hooks->events, this);

    std::uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[] = {PipeWireFormat::build(builder, *choice)};
    platform::Log::debug(platform::format("camera %s: asking for %s %dx%d", _info.id.c_str(),
                                          PipeWireFormat::formatName(choice->format).c_str(),
                                          choice->size.width, choice->size.height));
    int result = pw_stream_connect(
        _stream, PW_DIRECTION_INPUT, PW_ID_ANY,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
        params, 1);
    if (result < 0) return deviceError("cannot be opened: " + std::string(spa_strerror(result)));
    return {};
}

void PipeWireDevice::onStateChanged(void* data, int, int state, const char* error) {
    auto* self = static_cast<PipeWireDevice*>(data);
    platform::Log::debug(
        platform::format("camera %s: stream %s%s%s", self->_info.id.c_str(),
                         pw_stream_state_as_string(static_cast<pw_stream_state>(state)),
                         error ? ": " : "", error ? error : ""));
    if (state == PW_STREAM_STATE_ERROR)
        self->fail(error && *error ? std::string("capture stopped: ") + error : "capture stopped");
    else if (state == PW_STREAM_STATE_UNCONNECTED)
        self->fail("disconnected");
    self->_connection->wake();
}

void PipeWireDevice::onParamChanged(void* data, std::uint32_t id, const spa_pod* param) {
    auto* self = static_cast<PipeWireDevice*>(data);
    if (id != SPA_PARAM_Format || !param) return;
    spa_video_info_raw raw{};
    std::uint32_t mediaType = 0, mediaSubtype = 0;
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
        mediaSubtype != SPA_MEDIA_SUBTYPE_raw || spa_format_video_raw_parse(param, &raw) < 0) {
        self->fail("format could not be read");
        return;
    }
    auto format = PipeWireFormat::converterFormat(raw.format);
    if (!format || raw.size.width == 0 || raw.size.height == 0) {
        self->fail("agreed on a format that cannot be converted (" +
                   PipeWireFormat::formatName(raw.format) + ")");
        return;
    }
    const FrameSize size{int(raw.size.width), int(raw.size.height)};
    self->_reader.emplace(*format, size.width, size.height, self->_size);
    if (size != self->_size) {
        platform::Log::info(platform::format("camera %s: %dx%d frames, scaled to %dx%d",
                                             self->_info.id.c_str(), size.width, size.height,
                                             self->_size.width, self->_size.height));
    }
    // Buffers the loop thread can read: plain memory or shared-memory files, mapped.
    std::uint8_t buffer[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))))};
    pw_stream_update_params(self->_stream, params, 1);
    self->_connection->wake();
}

void PipeWireDevice::onProcess(void* data) {
    auto* self = static_cast<PipeWireDevice*>(data);
    // Only the newest frame is of use; older ones go straight back.
    pw_buffer* newest = nullptr;
    while (pw_buffer* next = pw_stream_dequeue_buffer(self->_stream)) {
        if (newest) pw_stream_queue_buffer(self->_stream, newest);
        newest = next;
    }
    if (!newest) return;
    {
        std::lock_guard lock(self->_mutex);
        if (self->_waiting && self->_outcome == Outcome::None && self->_reader) {
            bool usable = self->_reader->read(*newest->buffer, *self->_waiting);
            self->_outcome = usable ? Outcome::Frame : Outcome::Damaged;
            self->_frameDone.notify_all();
        }
    }
    pw_stream_queue_buffer(self->_stream, newest);
}

void PipeWireDevice::fail(const std::string& why) {
    std::lock_guard lock(_mutex);
    if (_failure) return;
    _failure = why;
    _frameDone.notify_all();
}

platform::Result<bool> PipeWireDevice::readFrame(std::chrono::milliseconds timeout,
                                                 const Destination& destination) {
    std::unique_lock lock(_mutex);
    if (!_connection) return deviceError("not streaming");
    if (_failure) return deviceError(*_failure);
    _waiting = &destination;
    _outcome = Outcome::None;
    _frameDone.wait_for(lock, timeout, [&] { return _outcome != Outcome::None || _failure; });
    _waiting = nullptr;
    // A frame that came is delivered even when the node went away right after it.
    if (_outcome == Outcome::Frame) return true;
    if (_failure) return deviceError(*_failure);
    return false;
}

void PipeWireDevice::close() {
    if (_connection) {
        std::unique_lock lock(*_connection);
        _connection->nodeRemoved = nullptr;
        _connection->failed = nullptr;
        if (_stream) {
            spa_hook_remove(&_hooks->stream);
            pw_stream_destroy(_stream);
            _stream = nullptr;
        }
        lock.unlock();
        _connection.reset();
    }
    _hooks.reset();
    _reader.reset();
    std::lock_guard lock(_mutex);
    _failure.reset();
    _waiting = nullptr;
    _outcome = Outcome::None;
}

}  // namespace quorbit::capture
