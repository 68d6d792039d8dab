#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "capture/CameraSource.h"
#include "capture/DeviceLayer.h"

namespace quorbit::capture {

// The camera options of the command line:
//   --camera SOURCE    chooses the frame source for this run (the syntax of CameraSource)
//   --list-cameras   prints the sources found, with position, rotation and formats
class CameraCommandLine {
  public:
    // Acts on the camera options of an application run (arguments that do not start with a
    // subcommand such as render): takes every "--camera SOURCE" out of args, then lists the
    // cameras when "--list-cameras" is among them. Answers the exit status when the process
    // is to end here: 0 after the listing, 2 after a bad or missing SOURCE, an option given
    // twice or a QUORBIT_CAMERA_ROTATION that is no rotation.
    static std::optional<int> takeOptions(std::vector<std::string>& args, std::FILE* out = stdout,
                                          std::FILE* err = stderr);
    // Makes source the process's choice. A bad source is explained on err and answers false.
    static bool selectSource(const std::string& source, std::FILE* err);
    // Lists the sources of the process's choice that can be opened; the exit status (0).
    // Each device found is opened and closed again (all of them within kProbeLimit, so that
    // one that does not answer cannot hold the listing up); those that fail are named on err
    // with the reason, and not listed.
    static constexpr std::chrono::milliseconds kProbeLimit{5000};
    static int listCameras(std::FILE* out, std::FILE* err = stderr);
    static int listCameras(std::FILE* out, const CameraSource& source, DeviceLayer& layer,
                           std::FILE* err = stderr);
};

}  // namespace quorbit::capture
