#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

namespace quorbit::app {
namespace {

namespace fs = std::filesystem;

// A whole headless run of the application counts the GL objects it makes and deletes: at
// exit the count must be back where it started, or the run fails and names what was left.
TEST(GlObjectsAtExit, AHeadlessRunDeletesEveryGlObjectItMade) {
    fs::path dir = fs::temp_directory_path() / ("quorbit-globjects-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::path script = dir / "run.script";
    // Live frames, a tap on the live surface, a screenshot (a read-back through the
    // compositor) and more frames after it.
    std::ofstream(script) << "wait-frames 15\ntap 160 200\nwait 100\nscreenshot shot.png\n"
                             "wait-frames 5\nquit\n";
    std::string command = "cd '" + dir.string() + "' && QUORBIT_CAMERA=synthetic timeout 120 '" +
                          QUORBIT_BINARY + "' --headless --script run.script 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    int status = pclose(pipe);
    fs::remove_all(dir);

    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    EXPECT_EQ(output.find("GL objects left at exit"), std::string::npos) << output;
    std::smatch made;
    ASSERT_TRUE(std::regex_search(output, made,
                                  std::regex("all ([0-9]+) GL objects made in the run were "
                                             "deleted at exit")))
        << output;
    // The compositor's and the sixteen filters' programs, the live surface, and a texture
    // for each frame at least.
    EXPECT_GT(std::stoll(made[1]), 20 + 16 + 2) << output;
}

}  // namespace
}  // namespace quorbit::app
