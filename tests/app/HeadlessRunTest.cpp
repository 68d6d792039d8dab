// Whole runs of the program: it starts without the web engine, and a headless run deletes
// every GL object it made.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/QuorbitProcess.h"

namespace quorbit::app {
namespace {

class HeadlessRun : public testing::ScratchFolderTest {
  protected:
    HeadlessRun() : ScratchFolderTest("quorbit-headless-") {}
};

TEST_F(HeadlessRun, MapsNoWebEngineLibraryAndDeletesEveryGlObjectItMade) {
    // Live frames, a tap on the live surface, a screenshot (a read-back through the
    // compositor) and more frames after it.
    std::string script = file("run.script",
                              "wait-frames 15\ntap 160 200\nwait 100\n"
                              "screenshot shot.png\nwait-frames 5\nquit\n");
    testing::RunOptions options;
    options.cwd = dir;
    // The dynamic loader names every library it maps, the ones loaded later included.
    options.env = {{"LD_DEBUG", "files"}, {"SDL_VIDEODRIVER", "offscreen"}};
    auto outcome = testing::runQuorbit({"--headless", "--camera", "synthetic", "--script", script},
                                       dir, options);
    ASSERT_EQ(outcome.status, 0) << outcome.err.substr(0, 4000);
    ASSERT_NE(outcome.err.find("file=libstdc++"), std::string::npos)
        << "the loader named no libraries";
    for (const char* library : {"quorbit-webengine", "libWPEWebKit", "libWPEBackend", "libwpe-",
                                "libsoup", "libjavascriptcore"})
        EXPECT_EQ(outcome.err.find(library), std::string::npos) << library << " was mapped";
    // At exit the count of GL objects must be back where it started, or the run fails and
    // names what was left.
    EXPECT_EQ(outcome.err.find("GL objects left at exit"), std::string::npos);
    std::smatch made;
    const std::regex deleted("all ([0-9]+) GL objects made in the run were deleted at exit");
    ASSERT_TRUE(std::regex_search(outcome.err, made, deleted));
    // The compositor's and the sixteen filters' programs, the live surface, and a texture
    // for each frame at least.
    EXPECT_GT(std::stoll(made[1]), 20 + 16 + 2);
}

}  // namespace
}  // namespace quorbit::app
