#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/core/Bundle.h"
#include "platform/core/UserDefaults.h"
#include "screens/rating/RatingPrompt.h"

namespace quorbit::rating {
namespace {

namespace fs = std::filesystem;
using P = RatingPrompt;

// Runs the application headless on script with the extra environment, its output going to
// log; returns the exit status.
int runApplication(const fs::path& script, const std::vector<std::string>& environment,
                   const fs::path& log) {
    auto quote = [](const std::string& text) {
        std::string out = "'";
        for (char c : text)
            out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    };
    std::string command = "env";
    for (const std::string& e : environment)
        command += " " + quote(e);
    command += " " + quote(QUORBIT_BINARY) + " --headless --script " + quote(script) + " >" +
               quote(log) + " 2>&1";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The real application, launched on defaults that say five uses over eight days: the
// launch is the sixth use, the question comes up, and the script answers it. The URL opener
// is a recorder with no software centre behind it.
TEST(RatingPromptEndToEnd, TheSixthLaunchAsksAndEachButtonDoesItsPart) {
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

        int status = runApplication(
            dir / "answer.script",
            {"QUORBIT_CONFIG_DIR=" + dir.string(), "QUORBIT_URL_OPENER=" + (dir / "open").string(),
             "QUORBIT_REACHABILITY=reachable", "QUORBIT_PROBE_URL=http://127.0.0.1:9/",
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
        fs::remove_all(dir);
    }
}

}  // namespace
}  // namespace quorbit::rating
