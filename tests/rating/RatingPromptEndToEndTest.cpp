#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/core/Bundle.h"
#include "platform/core/UserDefaults.h"
#include "rating/RatingPrompt.h"
#include "support/LocalHttpServer.h"

extern char** environ;

namespace quorbit::rating {
namespace {

namespace fs = std::filesystem;
using P = RatingPrompt;

// Runs the application headless with the given script and extra environment; its output
// goes to log. Returns the exit status.
int runApplication(const fs::path& script, const std::vector<std::string>& extraEnvironment,
                   const fs::path& log) {
    std::vector<std::string> environment(extraEnvironment);
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = std::any_of(extraEnvironment.begin(), extraEnvironment.end(),
                                    [&](const std::string& x) { return x.starts_with(name); });
        if (!replaced) environment.push_back(entry);
    }
    std::vector<char*> envp;
    for (auto& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string binary = QUORBIT_BINARY, headless = "--headless", flag = "--script",
                path = script.string();
    char* argv[] = {binary.data(), headless.data(), flag.data(), path.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The real application, launched on defaults that say five uses over eight days: the
// launch is the sixth use, the question comes up, and the script answers it. The URL opener
// is a recorder with no software centre behind it; the probe page is a local server.
TEST(RatingPromptEndToEnd, TheSixthLaunchAsksAndEachButtonDoesItsPart) {
    quorbit::testing::LocalHttpServer server;
    std::atomic<int> probes{0};
    server.server().Get("/probe", [&](const httplib::Request&, httplib::Response& res) {
        ++probes;
        res.set_content("online", "text/plain");
    });
    server.start();

    const std::string id = platform::Bundle::main().identifier();
    struct Case {
        int button;
        bool declined, rated, reminded;
        std::string opened;
    };
    const Case cases[] = {
        {0, true, false, false, ""},
        {1, false, true, false, "appstream://" + id + "\nhttps://flathub.org/apps/" + id + "\n"},
        {2, false, false, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("button " + std::to_string(c.button));
        std::string pattern = (fs::temp_directory_path() / "rating-e2e-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(pattern.data()));
        fs::path dir = pattern;
        double now =
            std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        {
            platform::UserDefaults prepared(dir / "defaults.json");
            prepared.setString(P::kCurrentVersion, platform::Bundle::main().version());
            prepared.setDouble(P::kFirstUseDate, now - 8 * 86400);
            prepared.setInteger(P::kUseCount, 5);
        }
        std::ofstream(dir / "open")
            << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" << (dir / "opened").string()
            << "\"\ncase \"$1\" in appstream:*) exit 1;; esac\n";
        fs::permissions(dir / "open", fs::perms::owner_all);
        std::ofstream(dir / "answer.script")
            << "expect-alert Rate Flurio\ntap-alert-button " << c.button << "\nquit\n";
        int probesBefore = probes;

        int status = runApplication(
            dir / "answer.script",
            {"QUORBIT_CONFIG_DIR=" + dir.string(), "QUORBIT_URL_OPENER=" + (dir / "open").string(),
             "QUORBIT_REACHABILITY=reachable", "QUORBIT_PROBE_URL=" + server.url("/probe"),
             "QUORBIT_CAMERA=synthetic", "QUORBIT_STORE_ID="},
            dir / "log");
        EXPECT_EQ(status, 0) << platform::readFile(dir / "log").value_or("");

        platform::UserDefaults after(dir / "defaults.json");
        EXPECT_EQ(after.integerForKey(P::kUseCount), 6);
        EXPECT_EQ(after.boolForKey(P::kDeclinedToRate), c.declined);
        EXPECT_EQ(after.boolForKey(P::kRatedCurrentVersion), c.rated);
        double reminder = after.doubleForKey(P::kReminderRequestDate);
        if (c.reminded)
            EXPECT_NEAR(reminder, now, 120);
        else
            EXPECT_EQ(reminder, 0);
        EXPECT_EQ(platform::readFile(dir / "opened").value_or(""), c.opened);
        EXPECT_GT(probes, probesBefore) << "the network check asks for the probe page";
        fs::remove_all(dir);
    }
}

}  // namespace
}  // namespace quorbit::rating
