// `quorbit URL` and a second launch, as separate processes meeting at the hand-off socket.
#include <gtest/gtest.h>

#include <future>

#include "support/QuorbitProcess.h"

namespace quorbit::app {
namespace {

using namespace testing;

constexpr const char* kUrl = "fb123://authorize#access_token=secret-token&expires_in=60";

class QuorbitUrlCommand : public ScratchFolderTest {
  protected:
    QuorbitUrlCommand() : ScratchFolderTest("quorbit-url") {}
    void SetUp() override {
        ScratchFolderTest::SetUp();
        fs::create_directory(dir / "runtime");
        fs::permissions(dir / "runtime", fs::perms::owner_all);
        quit = file("quit.script", "wait-frames 2\nquit\n");
    }

    // Runs quorbit in a folder of its own (its output files there), with the private runtime
    // and settings folders and app identifier 123.
    Outcome run(const std::string& tag, const std::vector<std::string>& args) {
        fs::create_directory(dir / tag);
        RunOptions options;
        options.env = {{"XDG_RUNTIME_DIR", (dir / "runtime").string()},
                       {"QUORBIT_CONFIG_DIR", (dir / "config").string()},
                       {"QUORBIT_FB_APP_ID", "123"},
                       {"QUORBIT_CAMERA", "synthetic"},
                       {"QUORBIT_LOG", "info"}};
        // A sign-in that is taken loads the user from here: nothing listens, so it fails at
        // once and nothing leaves the machine.
        for (const char* endpoint : {"QUORBIT_FB_GRAPH_URL", "QUORBIT_FB_REST_URL",
                                     "QUORBIT_FB_DIALOG_URL", "QUORBIT_FB_LOGIN_URL"})
            options.env.emplace_back(endpoint, "http://127.0.0.1:9/");
        return runQuorbit(args, dir / tag, options);
    }
    fs::path socket() const { return dir / "runtime" / "quorbit" / "incoming.sock"; }

    std::string quit;
};

// A URL for another application is refused before anything is sent or started. With no
// instance the URL starts the application, which takes it. A second launch with a window brings
// the running one to the front and ends; a headless run and one with --new-instance start all
// the same.
TEST_F(QuorbitUrlCommand, TheUrlStartsTheApplicationAndASecondLaunchHandsOverToIt) {
    Outcome other = run("other", {"https://example.invalid/"});
    EXPECT_EQ(other.status, 1);
    EXPECT_NE(other.err.find("not a URL for fb123:"), std::string::npos) << other.err;
    EXPECT_FALSE(fs::exists(socket()));

    // A window on SDL's offscreen driver, up long enough for the launches beside it.
    std::string wait = file("wait.script", "wait 6000\nquit\n");
    auto instance = std::async(std::launch::async, [&] {
        return run("instance", {"--script", wait, kUrl});
    });
    for (int i = 0; i < 1000 && !fs::exists(socket()); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(fs::exists(socket()));

    auto start = std::chrono::steady_clock::now();
    // With a script of its own, so that it ends should it not hand over.
    Outcome second = run("second", {"--script", quit});
    auto took = std::chrono::steady_clock::now() - start;
    Outcome headless = run("headless", {"--headless", "--script", quit});
    Outcome another = run("another", {"--new-instance", "--script", quit});
    Outcome first = instance.get();

    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.err.find("handed the URL this run started with to the application"),
              std::string::npos)
        << first.err;
    EXPECT_EQ(first.err.find("secret-token"), std::string::npos) << "the token reached the log";
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_LT(took, 3s) << "the second launch ran on";
    EXPECT_NE(second.err.find("running already"), std::string::npos) << second.err;
    std::size_t handOvers = 0;
    for (std::size_t at = 0;
         (at = first.err.find("the window came to the front", at)) != first.err.npos; ++at)
        ++handOvers;
    EXPECT_EQ(handOvers, 1u) << first.err;
    for (const Outcome* beside : {&headless, &another}) {
        EXPECT_EQ(beside->status, 0) << beside->err;
        EXPECT_EQ(beside->err.find("running already"), std::string::npos) << beside->err;
    }
}

}  // namespace
}  // namespace quorbit::app
