#include "screens/share/NetworkCheck.h"

#include <chrono>
#include <cstdlib>

#include "platform/desktop/Reachability.h"
#include "platform/net/UrlConnection.h"

namespace quorbit::share {

namespace {
constexpr const char* kDefaultProbeUrl = "http://nmcheck.gnome.org/check_network_status.txt";
constexpr std::chrono::duration<double> kProbeTimeout{20.0};
}  // namespace

std::string probeUrl() {
    const char* url = std::getenv("QUORBIT_PROBE_URL");
    return url && *url ? url : kDefaultProbeUrl;
}

bool connectedWithFlags(unsigned flags) {
    using platform::Reachability;
    bool transient = flags & Reachability::TransientConnection;
    bool reachable = flags & Reachability::Reachable;
    bool connectionRequired = flags & Reachability::ConnectionRequired;
    return (reachable && !connectionRequired) || transient;
}

bool connectedToNetwork() {
    std::optional<unsigned> flags = platform::Reachability::internetFlags();
    if (!flags) return false;
    platform::UrlRequest request(probeUrl());
    request.timeoutInterval = kProbeTimeout;
    // Nobody waits for the answer: the connection keeps itself alive until it ends.
    auto probe = platform::UrlConnection::start(std::move(request), {});
    return probe != nullptr && connectedWithFlags(*flags & 0xffu);
}

}  // namespace quorbit::share
