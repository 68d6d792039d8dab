#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/QuorbitProcess.h"

namespace quorbit::app {
namespace {

class GlObjectsAtExit : public testing::ScratchFolderTest {
  protected:
    GlObjectsAtExit() : ScratchFolderTest("quorbit-globjects") {}
};

// A whole headless run of the application counts the GL objects it makes and deletes: at
// exit the count must be back where it started, or the run fails and names what was left.
TEST_F(GlObjectsAtExit, AHeadlessRunDeletesEveryGlObjectItMade) {
    // Live frames, a tap on the live surface, a screenshot (a read-back through the
    // compositor) and more frames after it.
    std::string script = file("run.script",
                              "wait-frames 15\ntap 160 200\nwait 100\n"
                              "screenshot shot.png\nwait-frames 5\nquit\n");
    testing::RunOptions options;
    options.cwd = dir;
    options.env = {{"QUORBIT_CAMERA", "synthetic"}};
    auto outcome = testing::runQuorbit({"--headless", "--script", script}, dir, options);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err.find("GL objects left at exit"), std::string::npos) << outcome.err;
    std::smatch made;
    const std::regex deleted("all ([0-9]+) GL objects made in the run were deleted at exit");
    ASSERT_TRUE(std::regex_search(outcome.err, made, deleted)) << outcome.err;
    // The compositor's and the sixteen filters' programs, the live surface, and a texture
    // for each frame at least.
    EXPECT_GT(std::stoll(made[1]), 20 + 16 + 2) << outcome.err;
}

}  // namespace
}  // namespace quorbit::app
