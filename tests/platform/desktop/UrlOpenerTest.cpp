#include <gtest/gtest.h>
#include <net/if.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/core/Bundle.h"
#include "platform/desktop/Reachability.h"
#include "platform/desktop/UrlOpener.h"
#include "support/Scratch.h"

namespace quorbit::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A scratch folder with small shell scripts standing in for xdg-mime and xdg-open. Each
// opener writes the argument it got to "opened".
class UrlOpenerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        script("handler-known", "echo browser.desktop");
        script("handler-none", "exit 0");  // xdg-mime prints nothing when nobody is registered
        script("opener-ok", "printf '%s' \"$1\" > \"$(dirname \"$0\")/opened\"");
        script("opener-fails", "printf '%s' \"$1\" > \"$(dirname \"$0\")/opened\"; exit 4");
        script("opener-stays", "printf '%s' \"$1\" > \"$(dirname \"$0\")/opened\"; sleep 5");
    }
    void script(const std::string& name, const std::string& body) {
        fs::permissions(scratch.write(name, "#!/bin/sh\n" + body + "\n"), fs::perms::owner_all);
    }
    std::string opened() const { return readFile(dir / "opened").value_or("<not run>"); }
    std::string path(const std::string& name) const { return (dir / name).string(); }

    testing::ScratchDir scratch{"url-opener"};
    fs::path dir = scratch.path();
};

TEST_F(UrlOpenerTest, AnswersFromTheHandlerAndTheOpenersExitStatus) {
    struct Case {
        const char* url;
        const char* query;  // empty: no handler query
        const char* opener;
        bool opened;
        const char* handedOver;
    };
    // Where nobody handles the scheme the opener is not even run; web URLs go to the opener
    // whatever the query says. An opener still running after the wait counts as opened.
    // clang-format off
    const char *app = "fbauth://authorize?client_id=1", *web = "https://example.invalid/login";
    const Case cases[] = {
        {app, "handler-known", "opener-ok", true, app},
        {app, "handler-none", "opener-ok", false, "<not run>"},
        {web, "handler-none", "opener-ok", true, web},
        {web, "handler-known", "opener-fails", false, web},
        {"no scheme here", "handler-known", "opener-ok", false, "<not run>"},
        {app, "", "opener-stays", true, app},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.url) + " / " + c.query + " / " + c.opener);
        fs::remove(dir / "opened");
        UrlOpener::Commands commands;
        commands.handlerQuery = {path(c.query)};
        if (!*c.query) commands.handlerQuery.clear();
        commands.open = {path(c.opener)};
        commands.launchWait = 1s;
        auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(UrlOpener(commands).openURL(c.url), c.opened);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
        EXPECT_EQ(opened(), c.handedOver);
    }
}

TEST_F(UrlOpenerTest, TheCommandFromTheEnvironmentGetsTheUrlAsOneUnchangedArgument) {
    ASSERT_EQ(setenv("QUORBIT_URL_OPENER", path("opener-ok").c_str(), 1), 0);
    UrlOpener opener(UrlOpener::commandsFromEnvironment());
    unsetenv("QUORBIT_URL_OPENER");
    // Characters a shell would act on stay in the URL and do nothing.
    std::string url = "fbauth://authorize?a=1&b=$(touch " + path("pwned") + ")`id`;x' \"y\"";
    EXPECT_TRUE(opener.openURL(url));
    EXPECT_EQ(opened(), url);
    EXPECT_FALSE(fs::exists(dir / "pwned"));
}

TEST(Reachability, FlagsFollowTheInterfaceThatCarriesTheDefaultRoute) {
    const std::string v4Heading =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    const std::string v4Default = v4Heading +
                                  "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n" +
                                  "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n";
    const std::string v4LocalOnly =
        v4Heading + "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n";
    const std::string v4Ppp =
        v4Heading + "ppp0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n";
    const std::string v4Reject =
        v4Heading + "eth0\t00000000\t00000000\t0201\t0\t0\t0\t00000000\t0\t0\t0\n";
    const std::string v6Default =
        "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
        "fe800000000000000000000000000001 00000400 00000001 00000000 00000003 wlan0\n";
    const std::string v6LoopbackReject =
        "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
        "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200 lo\n";

    using I = Reachability::Interface;
    const unsigned live = IFF_UP | IFF_RUNNING;
    const I lo{"lo", live | IFF_LOOPBACK, true};
    const I eth0{"eth0", live, true};
    const I eth0Down{"eth0", IFF_UP, true};
    const I eth0NoAddress{"eth0", live, false};
    const I ppp0{"ppp0", live | IFF_POINTOPOINT, true};
    const I wlan0{"wlan0", live, true};
    const unsigned R = Reachability::Reachable, T = Reachability::TransientConnection;

    struct Case {
        const char* name;
        std::vector<I> interfaces;
        std::optional<std::string> v4, v6;
        unsigned flags;
    };
    const std::vector<Case> cases = {
        {"default route on a live interface", {lo, eth0}, v4Default, "", R},
        {"interface not running", {lo, eth0Down}, v4Default, "", 0},
        {"interface without an address", {lo, eth0NoAddress}, v4Default, "", 0},
        {"only a local network route", {lo, eth0}, v4LocalOnly, "", 0},
        {"point-to-point link", {lo, ppp0}, v4Ppp, "", R | T},
        {"unreachable route", {lo, eth0}, v4Reject, "", 0},
        {"IPv6 default route only", {lo, wlan0}, v4Heading, v6Default, R},
        {"IPv6 loopback's reject route", {lo, eth0}, v4Heading, v6LoopbackReject, 0},
        {"no routing tables: a live interface", {lo, eth0}, std::nullopt, std::nullopt, R},
        {"no routing tables: the loopback alone", {lo}, std::nullopt, std::nullopt, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<std::string_view> v4, v6;
        if (c.v4) v4 = *c.v4;
        if (c.v6) v6 = *c.v6;
        EXPECT_EQ(Reachability::flagsFrom(c.interfaces, v4, v6), c.flags);
    }
}

// A stand-in answer (a test's, or $QUORBIT_REACHABILITY's) replaces the system's until cleared;
// text that cannot be read leaves the real one.
TEST(Reachability, AStandInAnswerReplacesTheSystemsUntilCleared) {
    Reachability::setOverride([] { return std::optional<unsigned>(); });
    EXPECT_EQ(Reachability::internetFlags(), std::nullopt);
    Reachability::setOverride({});
    EXPECT_TRUE(Reachability::internetFlags().has_value());  // this machine can be asked
    struct Case {
        const char* text;
        bool valid;
        std::optional<unsigned> flags;
    };
    // clang-format off
    const Case cases[] = {
        {"unreadable", true, std::nullopt},
        {"offline", true, 0u},
        {"reachable,transient,connection-required", true, 7u},
        {"reachable,", false, std::nullopt},
        {"online", false, std::nullopt},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        setenv("QUORBIT_REACHABILITY", c.text, 1);
        if (c.valid)
            EXPECT_EQ(Reachability::internetFlags(), c.flags);
        else
            EXPECT_TRUE(Reachability::internetFlags().has_value());
    }
    unsetenv("QUORBIT_REACHABILITY");
}

}  // namespace
}  // namespace quorbit::platform
