#include "capture/PipeWireDeviceLayer.h"

#include <pipewire/keys.h>

#include <map>
#include <mutex>

#include "capture/PipeWireDevice.h"
#include "platform/core/Log.h"

namespace quorbit::capture {

PipeWireDeviceLayer::PipeWireDeviceLayer(PipeWireConnection::Remote remote, std::string onlyName)
    : _remote(std::move(remote)), _onlyName(std::move(onlyName)) {}

bool PipeWireDeviceLayer::isCamera(const PipeWireConnection::Node& node) {
    return node.prop(PW_KEY_MEDIA_CLASS) == "Video/Source" &&
           node.prop(PW_KEY_MEDIA_ROLE) == "Camera" && !node.prop(PW_KEY_NODE_NAME).empty();
}

DevicePosition PipeWireDeviceLayer::positionFor(const std::string& location) {
    return location == "back" ? DevicePosition::Back : DevicePosition::Front;
}

int PipeWireDeviceLayer::rotationFor(const std::string& rotation) {
    return parseRotation(rotation).value_or(0);
}

std::string PipeWireDeviceLayer::nameOf(const PipeWireConnection::Node& node) {
    for (const char* key : {PW_KEY_NODE_DESCRIPTION, PW_KEY_NODE_NICK, PW_KEY_NODE_NAME}) {
        std::string value = node.prop(key);
        if (!value.empty()) return value;
    }
    return {};
}

std::vector<std::shared_ptr<CaptureDevice>> PipeWireDeviceLayer::devices() {
    _answered = false;
    auto connection = PipeWireConnection::connect(_remote, kTimeout);
    if (!connection) {
        platform::Log::debug("PipeWire cameras: " + connection.error().localizedDescription());
        if (!_onlyName.empty())
            platform::Log::warn("camera pipewire:" + _onlyName + ": " +
                                connection.error().localizedDescription());
        return {};
    }
    _answered = true;
    PipeWireConnection& c = *connection.value();
    std::unique_lock lock(c);
    std::vector<std::shared_ptr<CaptureDevice>> found;
    // Asking a node for its details lets go of the lock while it waits, and a node that goes
    // away meanwhile leaves the connection's map: walk a copy of it.
    const std::map<std::uint32_t, PipeWireConnection::Node> nodes = c.nodes();
    for (const auto& [id, node] : nodes) {
        if (!isCamera(node)) continue;
        std::string name = node.prop(PW_KEY_NODE_NAME);
        if (!_onlyName.empty() && name != _onlyName) continue;
        // The registry announces a few properties only; the node itself tells the rest.
        auto details = c.detailsOf(id, kTimeout);
        if (!c.nodes().count(id)) continue;  // gone while it was asked
        PipeWireConnection::Node full = node;
        full.props.insert(details.props.begin(), details.props.end());
        DeviceInfo info{"pipewire:" + name,
                        nameOf(full),
                        positionFor(full.prop("api.libcamera.location")),
                        {},
                        rotationFor(full.prop("api.libcamera.rotation"))};
        info.stillSizes = PipeWireFormat::stillSizes(details.offers);
        for (const auto& offer : details.offers)
            for (std::string& line : PipeWireFormat::describe(offer))
                info.formats.push_back(std::move(line));
        found.push_back(std::make_shared<PipeWireDevice>(std::move(info), name, _remote));
    }
    if (found.empty() && !_onlyName.empty())
        platform::Log::warn("camera pipewire:" + _onlyName + ": PipeWire offers no such camera");
    return found;
}

}  // namespace quorbit::capture
