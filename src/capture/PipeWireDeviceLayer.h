#pragma once

#include <chrono>
#include <string>

#include "capture/DeviceLayer.h"
#include "capture/PipeWireConnection.h"

namespace quorbit::capture {

// Finds the cameras that PipeWire offers: nodes of media class "Video/Source" in the
// role "Camera" (libcamera and V4L2 cameras alike), each with its formats. A node's
// libcamera location tells its position: "back" is a back camera; "front", "external"
// and none at all count as front, as external webcams do.
class PipeWireDeviceLayer : public DeviceLayer {
  public:
    explicit PipeWireDeviceLayer(PipeWireConnection::Remote remote = {}, std::string onlyName = {});
    std::vector<std::shared_ptr<CaptureDevice>> devices() override;

    // Whether the daemon answered the last devices() call.
    bool answered() const { return _answered; }

    static bool isCamera(const PipeWireConnection::Node& node);
    static DevicePosition positionFor(const std::string& location);
    // The rotation for the node property "api.libcamera.rotation"; 0 without it or for a
    // value that is no quarter turn.
    static int rotationFor(const std::string& rotation);
    // The readable name of a node: its description, else its nickname, else its name.
    static std::string nameOf(const PipeWireConnection::Node& node);

    // How long discovery waits for the daemon.
    static constexpr std::chrono::milliseconds kTimeout{3000};

  private:
    PipeWireConnection::Remote _remote;
    std::string _onlyName;
    bool _answered = false;
};

}  // namespace quorbit::capture
