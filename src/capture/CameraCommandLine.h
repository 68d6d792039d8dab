#pragma once

#include <cstdio>
#include <string>

#include "capture/DeviceLayer.h"
#include "capture/SourceSpec.h"

namespace quorbit::capture {

// The camera options of the command line:
//   --camera SPEC    chooses the frame source for this run (the syntax of SourceSpec)
//   --list-cameras   prints the sources found, with position and formats
class CameraCommandLine {
  public:
    // Makes spec the process's choice. A bad spec is explained on err and answers false.
    static bool selectSource(const std::string& spec, std::FILE* err);
    // Lists the sources of the process's choice; the exit status (0).
    static int listCameras(std::FILE* out);
    static int listCameras(std::FILE* out, const SourceSpec& spec, DeviceLayer& layer);
};

}  // namespace quorbit::capture
