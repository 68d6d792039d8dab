// The program starts without the web engine: neither a plain command nor a headless run of
// the camera screen maps its module or any library the engine alone brings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/QuorbitProcess.h"

namespace quorbit::app {
namespace {

using testing::Outcome;
using testing::RunOptions;

class WebEngineOnDemand : public testing::ScratchFolderTest {
  protected:
    WebEngineOnDemand() : ScratchFolderTest("quorbit-webengine-") {}
};

TEST_F(WebEngineOnDemand, StartingMapsNoWebEngineLibrary) {
    std::string script = file("run.script", "wait-frames 3\nwait 300\nquit\n");
    const std::vector<std::vector<std::string>> runs = {
        {"--version"},
        {"--headless", "--camera", "synthetic", "--script", script},
    };
    // The dynamic loader names every library it maps, the ones loaded later included.
    const char* const kEngineOnly[] = {"quorbit-webengine", "libWPEWebKit", "libWPEBackend",
                                       "libwpe-",           "libsoup",      "libjavascriptcore"};
    for (const auto& args : runs) {
        SCOPED_TRACE(args.back());
        RunOptions options;
        options.limit = std::chrono::seconds(60);
        options.env = {{"LD_DEBUG", "files"}, {"SDL_VIDEODRIVER", "offscreen"}};
        Outcome outcome = testing::runQuorbit(args, dir, options);
        ASSERT_EQ(outcome.status, 0) << outcome.err.substr(0, 4000);
        ASSERT_NE(outcome.err.find("file=libstdc++"), std::string::npos)
            << "the loader named no libraries";
        for (const char* library : kEngineOnly)
            EXPECT_EQ(outcome.err.find(library), std::string::npos) << library << " was mapped";
    }
}

}  // namespace
}  // namespace quorbit::app
