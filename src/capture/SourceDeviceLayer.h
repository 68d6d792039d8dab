#pragma once

#include "capture/CameraSource.h"
#include "capture/DeviceLayer.h"

namespace quorbit::capture {

class CameraPortal;

// The frame sources a CameraSource names: PipeWire or V4L2 cameras, the synthetic scene,
// or a still picture. By default the PipeWire cameras when the daemon offers any, else the
// V4L2 cameras, else the synthetic scene. A device that PipeWire offers is thus taken
// through PipeWire, never opened beside it as a V4L2 node.
//
// Inside a Flatpak sandbox the cameras come through the camera portal: access is asked for
// first, and where the portal says no there is no camera at all (not even the test scene),
// and unavailableReason() says why.
class SourceDeviceLayer : public DeviceLayer {
  public:
    struct Settings {
        std::string deviceDir = "/dev";                // where the V4L2 nodes are
        std::string sandboxMarker = "/.flatpak-info";  // present inside a sandbox
        std::string pipeWireRemote;                    // the daemon's socket; empty: default
        CameraPortal* portal = nullptr;                // null: CameraPortal::shared()
    };

    explicit SourceDeviceLayer(CameraSource source, std::string deviceDir = "/dev");
    SourceDeviceLayer(CameraSource source, Settings settings)
        : _source(std::move(source)), _settings(std::move(settings)) {}

    std::vector<std::shared_ptr<CaptureDevice>> devices() override;
    std::string unavailableReason() const override { return _unavailable; }
    const CameraSource& source() const { return _source; }

    // The words the user sees when the camera portal refuses access.
    static constexpr const char* kAccessDenied = "Flurio is not allowed to use the camera.";

  private:
    // The PipeWire cameras (of one node name, when given); sets _unavailable when the
    // portal refuses.
    std::vector<std::shared_ptr<CaptureDevice>> pipeWireDevices(const std::string& name);

    CameraSource _source;
    Settings _settings;
    std::string _unavailable;
};

}  // namespace quorbit::capture
