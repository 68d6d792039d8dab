#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/core/Bundle.h"

namespace quorbit::app {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kUrl = "fb123://authorize#access_token=secret-token&expires_in=60";

// Runs the quorbit program with its own runtime and settings folders and app identifier 123.
class QuorbitUrlCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quorbit-url-XXXXXX").string();
        dir = mkdtemp(pattern.data());
        fs::create_directory(dir / "runtime");
        fs::permissions(dir / "runtime", fs::perms::owner_all);
        std::ofstream(dir / "wait.script") << "wait 4000\nquit\n";
        std::ofstream(dir / "quit.script") << "wait-frames 2\nquit\n";
    }
    void TearDown() override { fs::remove_all(dir); }

    // Starts quorbit with args; its standard error goes to a file named after tag.
    pid_t spawn(const std::vector<std::string>& args, const std::string& tag) {
        pid_t pid = fork();
        if (pid == 0) {
            setenv("XDG_RUNTIME_DIR", (dir / "runtime").c_str(), 1);
            setenv("QUORBIT_CONFIG_DIR", (dir / "config").c_str(), 1);
            setenv("QUORBIT_FB_APP_ID", "123", 1);
            // A sign-in that is taken loads the user from here: nothing listens, so it fails
            // at once and nothing leaves the machine.
            for (const char* endpoint : {"QUORBIT_FB_GRAPH_URL", "QUORBIT_FB_REST_URL",
                                         "QUORBIT_FB_DIALOG_URL", "QUORBIT_FB_LOGIN_URL"})
                setenv(endpoint, "http://127.0.0.1:9/", 1);
            setenv("QUORBIT_CAMERA", "synthetic", 1);
            setenv("QUORBIT_LOG", "info", 1);
            setenv("SDL_VIDEODRIVER", "offscreen", 1);
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            FILE* err = std::fopen((dir / (tag + ".err")).c_str(), "w");
            if (err) dup2(fileno(err), STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(QUORBIT_BINARY)};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(QUORBIT_BINARY, argv.data());
            _exit(127);
        }
        return pid;
    }
    int waitFor(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string errors(const std::string& tag) const {
        return platform::readFile(dir / (tag + ".err")).value_or("");
    }

    fs::path dir;
};

TEST_F(QuorbitUrlCommandTest, WithNoInstanceRunningTheCommandStartsTheApplicationWithTheUrl) {
    int status =
        waitFor(spawn({"--headless", "--script", (dir / "quit.script").string(), kUrl}, "first"));
    std::string err = errors("first");
    EXPECT_EQ(status, 0) << err;
    EXPECT_NE(err.find("handed the URL this run started with to the application"),
              std::string::npos)
        << err;
    // The token never reaches the log.
    EXPECT_EQ(err.find("secret-token"), std::string::npos) << err;
}

TEST_F(QuorbitUrlCommandTest, ASecondCommandHandsTheUrlToTheRunningInstance) {
    pid_t instance = spawn({"--headless", "--script", (dir / "wait.script").string()}, "instance");
    fs::path socket = dir / "runtime" / "quorbit" / "incoming.sock";
    for (int i = 0; i < 300 && !fs::exists(socket); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(fs::exists(socket)) << errors("instance");

    // The instance listens and its Facebook client takes the sign-in's URL.
    int status = waitFor(spawn({kUrl}, "second"));
    EXPECT_EQ(status, 0) << errors("second");
    // A URL for another application is refused before anything is sent.
    EXPECT_EQ(waitFor(spawn({"https://example.invalid/"}, "other")), 1);
    EXPECT_NE(errors("other").find("not a URL for fb123:"), std::string::npos) << errors("other");

    EXPECT_EQ(waitFor(instance), 0) << errors("instance");
    EXPECT_NE(errors("instance").find("handed an incoming fb123: URL to the application"),
              std::string::npos)
        << errors("instance");
    EXPECT_EQ(errors("instance").find("which did not take it"), std::string::npos)
        << errors("instance");
    EXPECT_EQ(errors("instance").find("secret-token"), std::string::npos);
    EXPECT_FALSE(fs::exists(socket));
}

// A second launch with a window brings the running one to the front and ends; a headless run
// and one with --new-instance start all the same.
TEST_F(QuorbitUrlCommandTest, ASecondLaunchHandsOverToTheRunningInstanceAndEnds) {
    pid_t instance = spawn({}, "instance");  // a window, on SDL's offscreen driver
    fs::path socket = dir / "runtime" / "quorbit" / "incoming.sock";
    for (int i = 0; i < 500 && !fs::exists(socket); ++i)
        std::this_thread::sleep_for(10ms);
    auto handedOver = [this] {
        std::string err = errors("instance");
        size_t n = 0;
        for (size_t at = 0; (at = err.find("the window came to the front", at)) != err.npos; ++at)
            ++n;
        return n;
    };
    auto start = std::chrono::steady_clock::now();
    // With a script of its own, so that it ends should it not hand over.
    int second = waitFor(spawn({"--script", (dir / "quit.script").string()}, "second"));
    auto took = std::chrono::steady_clock::now() - start;
    int headless =
        waitFor(spawn({"--headless", "--script", (dir / "quit.script").string()}, "headless"));
    int another =
        waitFor(spawn({"--new-instance", "--script", (dir / "quit.script").string()}, "another"));
    size_t handOvers = handedOver();
    kill(instance, SIGTERM);
    EXPECT_EQ(waitFor(instance), 128 + SIGTERM) << errors("instance");

    EXPECT_EQ(second, 0) << errors("second");
    EXPECT_LT(took, 3s) << "the second launch ran on";
    EXPECT_NE(errors("second").find("running already"), std::string::npos) << errors("second");
    EXPECT_EQ(handOvers, 1u) << errors("instance");
    for (const char* tag : {"headless", "another"})
        EXPECT_EQ(errors(tag).find("running already"), std::string::npos) << errors(tag);
    EXPECT_EQ(headless, 0) << errors("headless");
    EXPECT_EQ(another, 0) << errors("another");
}

}  // namespace
}  // namespace quorbit::app
