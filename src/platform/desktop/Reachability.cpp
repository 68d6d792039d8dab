#include "platform/desktop/Reachability.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstdlib>
#include <mutex>
#include <set>
#include <sstream>

#include "platform/core/Bundle.h"
#include "platform/core/Log.h"

namespace quorbit::platform {
namespace {

constexpr unsigned kRouteUp = 0x0001;
constexpr unsigned kRouteReject = 0x0200;

std::mutex& overrideMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<std::optional<unsigned>()>& overrideAnswer() {
    static std::function<std::optional<unsigned>()> answer;
    return answer;
}

// Interfaces that carry a default route in /proc/net/route: "Iface Destination Gateway
// Flags RefCnt Use Metric Mask ...", addresses in hexadecimal.
void defaultRoutesV4(std::string_view table, std::set<std::string>& out) {
    std::istringstream lines{std::string(table)};
    std::string line;
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string iface, destination, gateway, flags, refCount, use, metric, mask;
        if (!(fields >> iface >> destination >> gateway >> flags >> refCount >> use >> metric >>
              mask))
            continue;
        unsigned f = static_cast<unsigned>(std::strtoul(flags.c_str(), nullptr, 16));
        if (destination == "00000000" && mask == "00000000" && (f & kRouteUp) &&
            !(f & kRouteReject))
            out.insert(iface);
    }
}

// Interfaces that carry a default route in /proc/net/ipv6_route: "destination prefix-length
// source source-prefix next-hop metric refcount use flags iface", no heading.
void defaultRoutesV6(std::string_view table, std::set<std::string>& out) {
    std::istringstream lines{std::string(table)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string destination, prefix, source, sourcePrefix, nextHop, metric, refCount, use,
            flags, iface;
        if (!(fields >> destination >> prefix >> source >> sourcePrefix >> nextHop >> metric >>
              refCount >> use >> flags >> iface))
            continue;
        unsigned f = static_cast<unsigned>(std::strtoul(flags.c_str(), nullptr, 16));
        if (destination == std::string(32, '0') && prefix == "00" && (f & kRouteUp) &&
            !(f & kRouteReject) && iface != "lo")
            out.insert(iface);
    }
}

bool usable(const Reachability::Interface& i) {
    return (i.flags & IFF_UP) && (i.flags & IFF_RUNNING) && i.hasAddress;
}

// Reads a $QUORBIT_REACHABILITY text into flags (empty for "unreadable"); false when the
// text is not one of its forms.
bool parseFlags(std::string_view text, std::optional<unsigned>& flags) {
    if (text == "unreadable") {
        flags.reset();
        return true;
    }
    if (text == "offline") {
        flags = 0u;
        return true;
    }
    unsigned parsed = 0;
    while (true) {
        size_t comma = text.find(',');
        std::string_view name = text.substr(0, comma);
        if (name == "reachable") {
            parsed |= Reachability::Reachable;
        } else if (name == "transient") {
            parsed |= Reachability::TransientConnection;
        } else if (name == "connection-required") {
            parsed |= Reachability::ConnectionRequired;
        } else {
            return false;
        }
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    flags = parsed;
    return true;
}

}  // namespace

unsigned Reachability::flagsFrom(const std::vector<Interface>& interfaces,
                                 std::optional<std::string_view> ipv4Routes,
                                 std::optional<std::string_view> ipv6Routes) {
    std::set<std::string> routed;
    if (ipv4Routes) defaultRoutesV4(*ipv4Routes, routed);
    if (ipv6Routes) defaultRoutesV6(*ipv6Routes, routed);
    bool tables = ipv4Routes || ipv6Routes;
    unsigned flags = 0;
    for (const Interface& i : interfaces) {
        if (!usable(i)) continue;
        bool counts = tables ? routed.count(i.name) != 0 : !(i.flags & IFF_LOOPBACK);
        if (!counts) continue;
        flags |= Reachable;
        if (i.flags & IFF_POINTOPOINT) flags |= TransientConnection;
    }
    return flags;
}

std::optional<unsigned> Reachability::internetFlags() {
    {
        std::lock_guard lock(overrideMutex());
        if (overrideAnswer()) return overrideAnswer()();
    }
    if (const char* forced = std::getenv("QUORBIT_REACHABILITY"); forced && *forced) {
        std::optional<unsigned> flags;
        if (parseFlags(forced, flags)) return flags;
        Log::warn(std::string("QUORBIT_REACHABILITY: cannot read \"") + forced +
                  "\"; asking the network interfaces");
    }
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return std::nullopt;
    std::vector<Interface> interfaces;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        Interface* entry = nullptr;
        for (Interface& i : interfaces) {
            if (i.name == a->ifa_name) entry = &i;
        }
        if (!entry) {
            interfaces.push_back(Interface{a->ifa_name, a->ifa_flags, false});
            entry = &interfaces.back();
        }
        if (a->ifa_addr &&
            (a->ifa_addr->sa_family == AF_INET || a->ifa_addr->sa_family == AF_INET6))
            entry->hasAddress = true;
    }
    freeifaddrs(list);
    std::optional<std::string> v4 = readFile("/proc/net/route");
    std::optional<std::string> v6 = readFile("/proc/net/ipv6_route");
    std::optional<std::string_view> v4View, v6View;
    if (v4) v4View = *v4;
    if (v6) v6View = *v6;
    return flagsFrom(interfaces, v4View, v6View);
}

void Reachability::setOverride(std::function<std::optional<unsigned>()> answer) {
    std::lock_guard lock(overrideMutex());
    overrideAnswer() = std::move(answer);
}

}  // namespace quorbit::platform
