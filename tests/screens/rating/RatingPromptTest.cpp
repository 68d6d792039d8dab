#include <gtest/gtest.h>

#include <fstream>
#include <latch>

#include "platform/core/Bundle.h"
#include "platform/core/RunLoop.h"
#include "platform/core/UserDefaults.h"
#include "platform/desktop/Reachability.h"
#include "platform/desktop/UrlOpener.h"
#include "screens/rating/RatingPrompt.h"
#include "support/LocalHttpServer.h"
#include "support/Scratch.h"

namespace quorbit::rating {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::AlertView;
using platform::Reachability;
using platform::RunLoop;
using platform::UserDefaults;
using P = RatingPrompt;

constexpr double kDay = 86400;
constexpr double kT0 = 1.7e9;  // some day in 2023
const std::string kId = "io.github.quorbit.Flurio";

// The shared prompt working on a scratch store, a clock the test sets, a recording URL
// opener, reachability flags the test chooses and a probe page on a local server.
class RatingPromptTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RunLoop::main();  // this thread is the main thread, whichever thread posts first
        // Records each URL; appstream: links open only where the file "centre" exists.
        scratch.write("open",
                      "d=$(dirname \"$0\")\nprintf '%s\\n' \"$1\" >> \"$d/opened\"\n"
                      "case \"$1\" in appstream:*) [ -e \"$d/centre\" ];; esac\n");
        server.server().Get("/probe", [this](const httplib::Request&, httplib::Response& res) {
            ++probes;
            res.set_content("NetworkManager is online\n", "text/plain");
        });
        server.start();
        Reachability::setOverride([this]() -> std::optional<unsigned> {
            if (long f = flags.load(); f >= 0) return unsigned(f);
            return std::nullopt;
        });
        auto now = [this] { return clock.load(); };
        P::sharedInstance().setServices(
            {store.get(), &opener, now, "Flurio", "2.0", kId, server.url("/probe"), {}});
    }
    void TearDown() override {
        P::sharedInstance().waitUntilIdle();
        while (AlertView* alert = AlertView::visibleAlert())
            alert->dismissWithClickedButtonIndex(2, false);
        RunLoop::main().runFor(50ms);
        P::sharedInstance().setServices({});  // a stray call now fails loudly
        Reachability::setOverride(nullptr);
    }

    bool use(bool canPrompt = true) {
        P::appLaunched(canPrompt);
        P::sharedInstance().waitUntilIdle();
        RunLoop::main().runFor(20ms);
        AlertView* alert = AlertView::visibleAlert();
        return alert && alert->title() == "Rate Flurio";
    }
    void answer(int button) {
        AlertView* alert = AlertView::visibleAlert();
        ASSERT_TRUE(alert);
        alert->dismissWithClickedButtonIndex(button, false);
        P::sharedInstance().waitUntilIdle();
    }
    // Version 2.0 used `uses` times since `firstUse`, with no answer yet unless rated.
    void prepare(long uses, double firstUse, bool rated = false) {
        store->setString(P::kCurrentVersion, "2.0");
        store->setDouble(P::kFirstUseDate, firstUse);
        store->setInteger(P::kUseCount, uses);
        store->setInteger(P::kSignificantEventCount, 0);
        store->setDouble(P::kReminderRequestDate, 0);
        store->setBool(P::kDeclinedToRate, false);
        store->setBool(P::kRatedCurrentVersion, rated);
    }
    // The count's state: first use, uses and significant events.
    std::tuple<double, std::int64_t, std::int64_t> counts() const {
        return {store->doubleForKey(P::kFirstUseDate), store->integerForKey(P::kUseCount),
                store->integerForKey(P::kSignificantEventCount)};
    }
    std::string opened() const { return platform::readFile(dir / "opened").value_or(""); }
    void change(const std::function<void(P::Services&)>& edit) {
        auto s = P::sharedInstance().services();
        edit(s);
        P::sharedInstance().setServices(s);
    }
    void setVersion(const std::string& version) {
        change([&](P::Services& s) { s.version = version; });
    }

    quorbit::testing::ScratchDir scratch{"rating"};
    fs::path dir = scratch.path();
    std::unique_ptr<UserDefaults> store = std::make_unique<UserDefaults>(dir / "defaults.json");
    platform::UrlOpener opener{{{"sh", (dir / "open").string()}, {}, 3000ms}};
    std::atomic<int> probes{0};
    std::atomic<long> flags{Reachability::Reachable};
    std::atomic<double> clock{kT0};
    quorbit::testing::LocalHttpServer server;  // goes first: its handler counts probes
};

using Counts = std::tuple<double, std::int64_t, std::int64_t>;

TEST_F(RatingPromptTest, FirstUseStartsTheCountAndAVersionChangeStartsItAgain) {
    EXPECT_FALSE(use());
    EXPECT_EQ(counts(), (Counts{kT0, 1, 0}));
    prepare(40, kT0 - 30 * kDay, true);
    store->setInteger(P::kSignificantEventCount, 3);
    store->setDouble(P::kReminderRequestDate, kT0 - kDay);
    store->setBool(P::kDeclinedToRate, true);
    setVersion("2.1");
    EXPECT_FALSE(use());
    EXPECT_EQ(store->stringForKey(P::kCurrentVersion), "2.1");
    EXPECT_EQ(counts(), (Counts{kT0, 1, 0}));
    EXPECT_FALSE(store->boolForKey(P::kDeclinedToRate) ||
                 store->boolForKey(P::kRatedCurrentVersion));
    EXPECT_EQ(store->doubleForKey(P::kReminderRequestDate), 0);
    // A significant event that opens a version leaves the first use to the next use.
    setVersion("2.2");
    P::userDidSignificantEvent(true);
    P::sharedInstance().waitUntilIdle();
    EXPECT_EQ(counts(), (Counts{0, 0, 1}));
    clock = kT0 + kDay;
    EXPECT_FALSE(use());
    P::userDidSignificantEvent(false);
    P::sharedInstance().waitUntilIdle();
    EXPECT_EQ(counts(), (Counts{kT0 + kDay, 1, 2}));
}

// Each case: the state before one more use and the network flags, and whether that use asks.
// Flags that cannot be read, or that show no way out, count the use but ask nothing; the probe
// page is requested whenever the flags could be read.
TEST_F(RatingPromptTest, AsksFromTheSixthUseSevenDaysOnWithAWayOutToTheNetwork) {
    using R = Reachability;
    const long up = R::Reachable, required = R::Reachable | R::ConnectionRequired,
               transient = R::TransientConnection;
    // clang-format off
    const struct { const char* what; long uses; double firstUseAgo; bool rated, canPrompt; long flags; bool asks; } cases[] = {
        {"fifth use", 4, 30 * kDay, false, true, up, false},
        {"sixth use, a second early", 5, 7 * kDay - 1, false, true, up, false},
        {"sixth use, on the mark", 5, 7 * kDay, false, true, up, true},
        {"rated", 9, 30 * kDay, true, true, up, false},
        {"may not prompt", 9, 30 * kDay, false, false, up, false},
        {"unreadable flags", 5, 8 * kDay, false, true, -1, false},
        {"offline", 5, 8 * kDay, false, true, 0, false},
        {"connection required", 5, 8 * kDay, false, true, required, false},
        {"required, transient link", 5, 8 * kDay, false, true, required | transient, true},
        {"transient link, no route", 5, 8 * kDay, false, true, transient, false},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        prepare(c.uses, kT0 - c.firstUseAgo, c.rated);
        flags = c.flags;
        int probesBefore = probes;
        EXPECT_EQ(use(c.canPrompt), c.asks);
        EXPECT_EQ(store->integerForKey(P::kUseCount), c.uses + 1);
        if (c.asks) answer(2);
        if (c.flags < 0) {
            RunLoop::main().runFor(200ms);
            EXPECT_EQ(probes, probesBefore);
        } else if (c.firstUseAgo == 8 * kDay) {  // the network rows, due otherwise
            EXPECT_TRUE(RunLoop::main().runUntil([&] { return probes > probesBefore; }, 2s));
        }
    }
}

// After "Remind me later" the next ask is a day later; after "No, Thanks" never. The rate
// button opens the software centre's page, or the web page where a phone-only bundle asks for
// it or no software centre takes appstream: links.
TEST_F(RatingPromptTest, EachAnswerIsKeptLaterAsksADayLaterAndRateOpensTheCentreElseTheWeb) {
    prepare(5, kT0 - 8 * kDay);
    ASSERT_TRUE(use());
    answer(2);
    EXPECT_EQ(store->doubleForKey(P::kReminderRequestDate), kT0);
    clock = kT0 + 23 * 3600;
    EXPECT_FALSE(use());
    clock = kT0 + 25 * 3600;
    ASSERT_TRUE(use());
    answer(0);
    EXPECT_TRUE(store->boolForKey(P::kDeclinedToRate));
    clock = kT0 + 60 * kDay;
    EXPECT_FALSE(use());
    EXPECT_EQ(opened(), "");
    const std::string centre = "appstream://" + kId + "\n",
                      web = "https://flathub.org/apps/" + kId + "\n";
    const std::string phone = P::kOrientationsInfoKey, tablet = P::kTabletOrientationsInfoKey;
    // clang-format off
    const struct { std::set<std::string> infoKeys; std::string storeId; bool centre; std::string opened; } cases[] = {
        {{}, kId, true, centre},
        {{phone, tablet}, kId, true, centre},
        {{phone}, kId, true, web},
        {{}, "odd id/&x", true, "appstream://odd%20id%2F%26x\n"},
        {{}, kId, false, centre + web},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        change([&](P::Services& s) { s.infoKeys = c.infoKeys, s.storeId = c.storeId; });
        fs::remove(dir / "opened");
        c.centre ? void(std::ofstream(dir / "centre")) : void(fs::remove(dir / "centre"));
        prepare(5, kT0 - 8 * kDay);
        ASSERT_TRUE(use());
        answer(1);
        EXPECT_TRUE(store->boolForKey(P::kRatedCurrentVersion));
        EXPECT_EQ(opened(), c.opened);
    }
}

// The application's own services: the bundle's version, the store id and probe page from
// the environment, the bundle's identifier where the store id is empty.
TEST(RatingPromptServices, TheApplicationsServicesComeFromTheBundleAndTheEnvironment) {
    for (const char* storeId : {"", "org.example.Other"}) {
        setenv("QUORBIT_STORE_ID", storeId, 1);
        setenv("QUORBIT_PROBE_URL", "http://127.0.0.1:9/probe", 1);
        P::Services s = P::applicationServices();
        EXPECT_EQ(s.storeId, *storeId ? storeId : platform::Bundle::main().identifier());
        EXPECT_EQ(s.probeUrl, "http://127.0.0.1:9/probe");
        EXPECT_EQ(s.version, platform::Bundle::main().version());
        EXPECT_EQ(s.appName, "Flurio");
    }
    unsetenv("QUORBIT_STORE_ID");
    unsetenv("QUORBIT_PROBE_URL");
}

TEST_F(RatingPromptTest, CallsAtOnceEachCountAndAskOnlyOnce) {
    // The first calls after an update: one of them starts the new version's count from the
    // start while the others count; none of their uses may be lost.
    prepare(40, kT0 - 30 * kDay);
    store->setString(P::kCurrentVersion, "1.9");
    constexpr int kCalls = 48;
    std::latch start(kCalls);
    std::vector<std::thread> callers;
    for (int i = 0; i < kCalls; ++i)
        callers.emplace_back([&] { start.arrive_and_wait(), P::appLaunched(false); });
    for (auto& t : callers)
        t.join();
    P::sharedInstance().waitUntilIdle();
    EXPECT_EQ(UserDefaults(dir / "defaults.json").integerForKey(P::kUseCount), kCalls);
    // Two instances, each with its own store of the one file, launched three times in pairs.
    prepare(0, kT0);
    UserDefaults other(dir / "defaults.json");
    auto mine = P::sharedInstance().services(), theirs = mine;
    theirs.defaults = &other;
    for (int i = 0; i < 6; ++i) {
        P::sharedInstance().setServices(i % 2 ? theirs : mine);
        P::appLaunched(false);
        P::sharedInstance().waitUntilIdle();
    }
    P::sharedInstance().setServices(mine);
    EXPECT_EQ(UserDefaults(dir / "defaults.json").integerForKey(P::kUseCount), 6);
    // Two eligible uses before the user answers bring one question, not two stacked.
    prepare(5, kT0 - 8 * kDay);
    P::appLaunched(true);
    P::appLaunched(true);
    EXPECT_TRUE(use());
    answer(2);
    RunLoop::main().runFor(20ms);
    EXPECT_EQ(AlertView::visibleAlert(), nullptr);
}

}  // namespace
}  // namespace quorbit::rating
