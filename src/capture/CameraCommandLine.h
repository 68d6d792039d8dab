#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "capture/CameraSource.h"
#include "capture/DeviceLayer.h"
#include "platform/core/CommandLineParser.h"

namespace quorbit::capture {

// The camera options of the command line:
//   --camera SOURCE    chooses the frame source for this run (the syntax of CameraSource)
//   --list-cameras   prints the sources found, with position, rotation and formats
class CameraCommandLine {
  public:
    // Declares both options on parser: a SOURCE is made the process's choice as it is met, and
    // one that is no source is refused with the reason.
    void addOptions(platform::CommandLineParser& parser);
    // Acts on the options once the command line is parsed. Answers the exit status when the
    // process is to end here: 2 for a QUORBIT_CAMERA_ROTATION that is no rotation (shown
    // sideways, the picture would not say why), 0 after the listing; nothing when the
    // application runs on.
    std::optional<int> finish(std::FILE* out = stdout, std::FILE* err = stderr) const;

    // Acts on the camera options of an application run (arguments that do not start with a
    // subcommand such as render): takes every "--camera SOURCE" out of args, then lists the
    // cameras when "--list-cameras" is among them. Answers the exit status when the process
    // is to end here: 0 after the listing, 2 after a bad or missing SOURCE, an option given
    // twice or a QUORBIT_CAMERA_ROTATION that is no rotation.
    static std::optional<int> takeOptions(std::vector<std::string>& args, std::FILE* out = stdout,
                                          std::FILE* err = stderr);
    // Lists the sources of the process's choice that can be opened; the exit status (0).
    // Each device found is opened and closed again (all of them within kProbeLimit, so that
    // one that does not answer cannot hold the listing up); those that fail are named on err
    // with the reason, and not listed.
    static constexpr std::chrono::milliseconds kProbeLimit{5000};
    static int listCameras(std::FILE* out, std::FILE* err = stderr);
    static int listCameras(std::FILE* out, const CameraSource& source, DeviceLayer& layer,
                           std::FILE* err = stderr);

  private:
    bool _list = false;
};

}  // namespace quorbit::capture
