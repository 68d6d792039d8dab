#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "support/QuorbitProcess.h"
#include "platform/gfx/ImageCodec.h"

// The first screen of the product, as the live-view end-to-end script leaves it, compared
// with the expected picture in tests/data/screens. Setting QUORBIT_UPDATE_SCREENS=1 makes the
// test write the expected picture instead (after a deliberate change of the screen).
namespace quorbit::app {
namespace {

namespace fs = std::filesystem;
using platform::Image;

// The live view's share of the screen: the camera picture fills the top 427 points.
constexpr int kLiveHeight = 427;

int channelDistance(const std::uint8_t* a, const std::uint8_t* b) {
    return std::max({std::abs(a[0] - b[0]), std::abs(a[1] - b[1]), std::abs(a[2] - b[2])});
}

bool near(const std::uint8_t* p, std::uint8_t r, std::uint8_t g, std::uint8_t b, int tolerance) {
    const std::uint8_t colour[3] = {r, g, b};
    return channelDistance(p, colour) <= tolerance;
}

// The synthetic camera's disc travels on its own path: its face colour and rim are left out
// of the comparison wherever either picture shows them.
bool disc(const std::uint8_t* p) {
    return near(p, 250, 205, 170, 40) || near(p, 40, 30, 30, 25);
}

struct Match {
    int shift = 0;        // rows the live picture is scrolled by against the expected one
    double agreeing = 0;  // the share of compared pixels that agree
    long compared = 0;
};

// The synthetic scene scrolls through one whole period of its background, so the live view
// matches the expected picture at some vertical shift (with wrap-around); everything below
// the live view must match as it stands. `step` thins the pixels compared.
Match compareAt(const Image& actual, const Image& expected, int shift, int step) {
    Match match{shift, 0, 0};
    long agreeing = 0;
    for (int y = 0; y < actual.height(); y += step) {
        int ey = y < kLiveHeight ? (y + shift) % kLiveHeight : y;
        for (int x = 0; x < actual.width(); x += step) {
            const std::uint8_t* a = actual.pixel(x, y);
            const std::uint8_t* e = expected.pixel(x, ey);
            if (y < kLiveHeight && (disc(a) || disc(e))) continue;
            ++match.compared;
            agreeing += channelDistance(a, e) <= 48;
        }
    }
    match.agreeing = match.compared ? double(agreeing) / double(match.compared) : 0;
    return match;
}

Match bestMatch(const Image& actual, const Image& expected) {
    Match best;
    for (int shift = 0; shift < kLiveHeight; ++shift) {
        Match m = compareAt(actual, expected, shift, 3);
        if (m.agreeing > best.agreeing) best = m;
    }
    return compareAt(actual, expected, best.shift, 1);
}

TEST(LiveViewScreen, TheFirstScreenLooksAsExpected) {
    const char* data = std::getenv("QUORBIT_TEST_DATA");
    ASSERT_TRUE(data) << "QUORBIT_TEST_DATA names the tests' data folder";
    fs::path script = fs::path(data).parent_path() / "e2e" / "live_view.script";
    fs::path expectedPath = fs::path(data) / "screens" / "live_view.png";
    if (!fs::exists(testing::quorbitPath())) GTEST_SKIP() << "quorbit is not built";
    fs::path dir = fs::temp_directory_path() / ("quorbit-screen-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "config");

    testing::RunOptions options;
    options.cwd = dir;
    options.env = {{"QUORBIT_CAMERA", "synthetic"},
                   {"QUORBIT_CONFIG_DIR", (dir / "config").string()}};
    auto outcome = testing::runQuorbit({"--headless", "--script", script.string()}, dir, options);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    auto shot = platform::ImageCodec::readFile(dir / "live_view.png");
    ASSERT_TRUE(shot) << shot.error().localizedDescription();
    if (std::getenv("QUORBIT_UPDATE_SCREENS")) {
        fs::create_directories(expectedPath.parent_path());
        fs::copy_file(dir / "live_view.png", expectedPath, fs::copy_options::overwrite_existing);
        fs::remove_all(dir);
        GTEST_SKIP() << "wrote " << expectedPath;
    }
    auto expected = platform::ImageCodec::readFile(expectedPath);
    ASSERT_TRUE(expected) << expected.error().localizedDescription();
    ASSERT_EQ(shot->width(), expected->width());
    ASSERT_EQ(shot->height(), expected->height());

    Match match = bestMatch(*shot, *expected);
    std::printf(
        "live view: %.1f%% of %ld pixels agree with the expected picture (scrolled %d rows)\n",
        100 * match.agreeing, match.compared, match.shift);
    // Most of the screen is compared; the rest is the disc and its edges.
    EXPECT_GT(match.compared, long(shot->width()) * shot->height() * 3 / 4);
    EXPECT_GE(match.agreeing, 0.95) << "see " << (dir / "live_view.png");
    if (!HasFailure()) fs::remove_all(dir);
}

}  // namespace
}  // namespace quorbit::app
