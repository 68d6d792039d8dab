#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/Error.h"

namespace quorbit::capture {

// The errors of the camera portal: their domain and codes.
inline constexpr const char* kPortalErrorDomain = "quorbit.camera-portal";
enum class PortalError : long {
    NoSessionBus = 1,  // there is no D-Bus session bus to ask on
    NoConnection = 2,  // the portal handed out no PipeWire connection
};
constexpr const char* errorDomain(PortalError) {
    return kPortalErrorDomain;
}

// The desktop's camera portal (org.freedesktop.portal.Camera on the session bus), through
// which a sandboxed application gets at the cameras: the user grants access once
// (AccessCamera), and each PipeWire connection then comes from the portal
// (OpenPipeWireRemote), showing the camera nodes alone.
class CameraPortal {
  public:
    enum class Access {
        Granted,
        Denied,       // the user or the system said no
        NoCamera,     // the portal knows of no camera
        Unreachable,  // no session bus, or no portal on it
    };
    struct Answer {
        Access access = Access::Unreachable;
        std::string detail;  // for the log: what the portal said
    };

    // The portal of the process: its answer is asked for once and kept.
    static CameraPortal& shared();

    // Whether the process runs in a Flatpak sandbox, whose marker file is /.flatpak-info.
    static bool sandboxed(const std::string& marker = "/.flatpak-info");

    // Asks the portal for access, the first time only, and waits at most timeout for the
    // user's answer (the portal may put a question on screen).
    Answer requestAccess(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // A socket connected to PipeWire, showing the cameras the portal grants.
    platform::Result<int> openPipeWireRemote();

  private:
    Answer ask(std::chrono::milliseconds timeout);

    std::mutex _mutex;
    std::optional<Answer> _answer;
};

}  // namespace quorbit::capture
