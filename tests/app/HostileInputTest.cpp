#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <set>

#include "platform/gfx/ImageCodec.h"
#include "support/HostileFiles.h"
#include "support/QuorbitProcess.h"

// What each reader refuses is the readers' own test; here the commands of the program refuse
// it in time, with a message and exit status 1, and within a bound on memory.
namespace quorbit::app {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::JpegKind;
using testing::kSanitized;
using testing::Outcome;

class HostileInput : public testing::ScratchFolderTest {
  protected:
    HostileInput() : ScratchFolderTest("quorbit-hostile-") {}
    Outcome run(const std::vector<std::string>& args, rlim_t addressSpace = 0) {
        testing::RunOptions options;
        options.addressSpace = addressSpace;
        return testing::runQuorbit(args, dir, options);
    }
};

TEST_F(HostileInput, RenderContactSheetAndScriptsRefuseWhatTheyCannotRead) {
    platform::Image picture = testing::quadrantPicture(64, 48);
    std::string jpeg = testing::encodeJpeg(picture, JpegKind::Baseline);
    std::string pngBomb = file("bomb.png", testing::pngClaiming(16384, 16384));
    std::string jpegBomb =
        file("bomb.jpg", testing::withoutScanData(testing::withClaimedSize(jpeg, 30000, 30000)));
    std::string fifo = (dir / "pipe").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string longScript = file("long.script", "wait 1\n");
    fs::resize_file(longScript, 2 << 20);
    std::set<std::string> inputs{"bomb.png", "bomb.jpg", "pipe", "long.script"};
    std::string out = (dir / "out.png").string();
    auto render = [&](const std::string& input) {
        return std::vector<std::string>{"render", "--filter", "Normal", "--input",
                                        input,    "--output", out};
    };
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    // clang-format off
    const Case cases[] = {
        {render(pngBomb), "the picture is 16384 x 16384 pixels"},
        {render(jpegBomb), "the picture is 30000 x 30000 pixels"},
        {render(fifo), "pipe is a FIFO (named pipe), not a regular file"},
        {{"contact-sheet", "--input", fifo, "--output", out}, "is a FIFO"},
        {{"--headless", "--script", fifo}, "cannot read the script: " + fifo + " is a FIFO (named pipe), not a regular file"},
        {{"--headless", "--script", longScript}, "long.script is larger than the limit of 1 MiB"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        auto start = std::chrono::steady_clock::now();
        Outcome outcome = run(c.args);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
        EXPECT_EQ(namesBut(inputs), std::set<std::string>{}) << "an output or a temporary";
        if (!kSanitized) {
            EXPECT_LT(outcome.peakKiB, 200 * 1024);
        }
    }
    // Nothing read from the FIFO: it is still there and still a FIFO.
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(HostileInput, MemoryThatCannotBeHadIsAnErrorWithAMessage) {
    if (kSanitized) GTEST_SKIP() << "the sanitizers need more address space than the cap";
    // 90 MB of address space: enough to start (the program maps about 45 MB; the web
    // engine is not loaded for a render), not enough for 4096 x 4096 pixels (64 MiB) beside
    // the libraries. The PNG fails where the picture is made, the progressive JPEG
    // where the decoder keeps its coefficients.
    std::string png = file("large.png", testing::pngClaiming(4096, 4096));
    std::string jpeg = file(
        "large.jpg", testing::withClaimedSize(testing::encodeJpeg(testing::quadrantPicture(64, 64),
                                                                  JpegKind::Progressive444),
                                              4096, 4096));
    for (const std::string& input : {png, jpeg}) {
        Outcome outcome = run({"render", "--filter", "Normal", "--input", input, "--output",
                               (dir / "out.png").string()},
                              rlim_t(90) << 20);
        EXPECT_EQ(outcome.status, 1) << input;
        EXPECT_NE(outcome.err.find("not enough memory for a picture of 4096 x 4096 pixels"),
                  std::string::npos)
            << outcome.err;
        EXPECT_FALSE(fs::exists(dir / "out.png"));
    }
}

TEST_F(HostileInput, TheLargestPictureAcceptedRendersWithinTheMemoryBound) {
    // 4096 x 4096, progressive with full-resolution colour: the decoder keeps every
    // coefficient (96 MiB) beside the picture itself (64 MiB).
    std::string input = file("large.jpg", testing::encodeJpeg(testing::quadrantPicture(4096, 4096),
                                                              JpegKind::Progressive444, 75));
    std::string out = (dir / "out.png").string();
    Outcome outcome = run({"render", "--filter", "Normal", "--input", input, "--output", out});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    auto rendered = platform::ImageCodec::readFile(out);
    ASSERT_TRUE(rendered);
    // The picture upright: the red quadrant at the top left.
    EXPECT_NEAR(rendered->pixel(60, 60)[0], 200, 12);
    if (!kSanitized) {
        EXPECT_LT(outcome.peakKiB, 200 * 1024);
    }
}

}  // namespace
}  // namespace quorbit::app
