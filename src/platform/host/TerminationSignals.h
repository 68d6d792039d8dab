#pragma once

#include <csignal>

#include "platform/core/RunLoop.h"

namespace quorbit::platform {

// SIGTERM, SIGINT and SIGHUP end the application as closing its window does: the main run
// loop quits, the application terminates and cleans up (a headless run's scratch settings
// folder included), and the process exits with 128 + the signal's number, so that a script
// cut short never passes for one that ran to its end. A second signal while the first is
// being handled ends the process at once, as if there were no handler.
//
// One instance at a time, made on the main thread; the previous handlers come back when it
// goes.
class TerminationSignals {
  public:
    explicit TerminationSignals(RunLoop& loop);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // The first signal that came; 0 when none did.
    int received() const;
    // 128 + received(), or fallback when no signal came.
    int exitStatus(int fallback) const;

  private:
    RunLoop& _loop;
    RunLoopHandle _watch;
    struct sigaction _previous[3]{};
};

}  // namespace quorbit::platform
