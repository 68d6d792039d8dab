#pragma once

#include <functional>
#include <memory>

#include "platform/host/Application.h"
#include "platform/host/HostOptions.h"

namespace quorbit::platform {

class ViewController;

// Runs the application until it quits: opens the host (a window, or the offscreen one with
// --headless; its settings then live in a temporary folder unless QUORBIT_CONFIG_DIR names
// one), makes the main window with makeRoot() as its root screen, finishes launching
// (telling delegate, which is not owned and may be null), becomes active, then either
// serves the user or runs the script of --script. Returns the process exit status: 0, or
// 1 when the host cannot start (the message says how to run without a display) or a
// script command fails, or 128 + the signal's number when SIGTERM, SIGINT or SIGHUP ended
// the run (see TerminationSignals).
int runApplication(const HostOptions& options,
                   std::function<std::shared_ptr<ViewController>()> makeRoot,
                   ApplicationDelegate* delegate = nullptr);

}  // namespace quorbit::platform
