#pragma once

#include <string>

namespace quorbit::share {

// Whether the internet looks reachable, for the screens that offer Facebook: the platform's
// reachability flags, and a probe request for a small page ($QUORBIT_PROBE_URL, else a
// public connectivity-check page) that is started on every check whose flags could be read
// and runs to its end unobserved. Unreadable flags answer false without a probe. Main thread.
bool connectedToNetwork();

// The decision on the flags alone: reachable without a connection to make first, or a
// transient connection.
bool connectedWithFlags(unsigned flags);

std::string probeUrl();

}  // namespace quorbit::share
