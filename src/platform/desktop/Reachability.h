#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorbit::platform {

// Whether the internet can be reached, told from the network interfaces (getifaddrs) and
// the default routes (/proc/net/route, /proc/net/ipv6_route), as reachability flags. It
// sends nothing on the network. Callable from any thread.
//
// $QUORBIT_REACHABILITY, when set, is the answer instead (headless runs that must not
// depend on the machine's network): "unreadable", "offline", or flag names joined by
// commas ("reachable", "transient", "connection-required").
class Reachability {
  public:
    enum Flag : unsigned {
        TransientConnection = 1u << 0,  // the route runs over a point-to-point link
        Reachable = 1u << 1,            // there is a route to the internet
        ConnectionRequired = 1u << 2,   // a connection must be made first (never on Linux)
    };

    // The flags for a route to the internet; empty when they cannot be read.
    static std::optional<unsigned> internetFlags();

    // A stand-in answer (tests, demonstrations); an empty function restores the real one.
    // It comes before $QUORBIT_REACHABILITY.
    static void setOverride(std::function<std::optional<unsigned>()> answer);

    // One network interface as getifaddrs describes it.
    struct Interface {
        std::string name;
        unsigned flags = 0;       // IFF_UP, IFF_RUNNING, IFF_LOOPBACK, IFF_POINTOPOINT, ...
        bool hasAddress = false;  // an IPv4 or IPv6 address
    };
    // The flags from the interfaces and the two routing tables' texts (empty when a table
    // cannot be read). Reachable when a default route leaves through an interface that is
    // up, running and addressed; without routing tables, any such interface that is not
    // the loopback counts.
    static unsigned flagsFrom(const std::vector<Interface>& interfaces,
                              std::optional<std::string_view> ipv4Routes,
                              std::optional<std::string_view> ipv6Routes);
};

}  // namespace quorbit::platform
