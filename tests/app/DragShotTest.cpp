#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "support/QuorbitProcess.h"
#include "app/RenderCommands.h"
#include "platform/gfx/ImageCodec.h"

// End to end, headless: the application on a still-picture camera with Bulge chosen, a drag on
// the live view, then the shutter. The photo in the album matches `render --center` at the
// point the drag ended, within what JPEG changes, and not the centred render.
namespace quorbit::app {
namespace {

namespace fs = std::filesystem;
using namespace testing;

// Mean absolute difference per RGB channel.
double meanDifference(const platform::Image& a, const platform::Image& b) {
    double total = 0;
    for (size_t i = 0; i < a.pixels().size(); i += 4)
        for (size_t k = 0; k < 3; ++k)
            total += std::abs(int(a.pixels()[i + k]) - int(b.pixels()[i + k]));
    return total / (double(a.width()) * a.height() * 3);
}

TEST(DragShot, ThePhotoShowsTheBulgeWhereTheDragLeftIt) {
    fs::path dir = fs::temp_directory_path() / ("quorbit-drag-shot-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "config");
    fs::create_directories(dir / "album");
    fs::path input = dir / "input.png";
    ASSERT_TRUE(platform::ImageCodec::writePng(builtinTestFrame(), input));
    // Bulge (slot 3) kept from an earlier run; the front camera's flash stays on, so the photo
    // also shows that the flash is not in it.
    std::ofstream(dir / "config" / "defaults.json") << "{\"LastFilterUsed\": 3}\n";
    std::ofstream(dir / "drag.script") << "wait-frames 10\n"
                                          "drag 160 213 240 120 300\n"
                                          "wait-frames 6\n"
                                          "tap-control shutter\n"
                                          "wait 1500\n"
                                          "quit\n";
    RunOptions options;
    options.env = {{"QUORBIT_CONFIG_DIR", (dir / "config").string()},
                   {"QUORBIT_PICTURES_DIR", (dir / "album").string()},
                   {"QUORBIT_CAMERA", "image:" + input.string()},
                   // Taken, here and by render, as a sideways sensor's frame: the live view's
                   // portrait shape.
                   {"QUORBIT_CAMERA_ROTATION", "90"}};
    Outcome app =
        runQuorbit({"--headless", "--script", (dir / "drag.script").string()}, dir, options);
    ASSERT_EQ(app.status, 0) << app.err;
    std::vector<fs::path> photos;
    for (const auto& entry : fs::directory_iterator(dir / "album"))
        if (entry.path().extension() == ".jpg") photos.push_back(entry.path());
    ASSERT_EQ(photos.size(), 1u);
    auto photo = platform::ImageCodec::readFile(photos.front());
    ASSERT_TRUE(photo);

    auto render = [&](const std::vector<std::string>& extra, const std::string& name) {
        std::vector<std::string> args = {"render",
                                         "--filter",
                                         "Bulge",
                                         "--input",
                                         input.string(),
                                         "--output",
                                         (dir / name).string(),
                                         "--camera",
                                         "front",
                                         "--rotation",
                                         "90"};
        args.insert(args.end(), extra.begin(), extra.end());
        Outcome outcome = runQuorbit(args, dir);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        auto image = platform::ImageCodec::readFile(dir / name);
        EXPECT_TRUE(image);
        return image ? std::move(image).value() : platform::Image();
    };
    platform::Image moved = render({"--center", "0.75," + std::to_string(120.0 / 427)}, "at.png");
    platform::Image centred = render({}, "centred.png");
    ASSERT_EQ(moved.width(), photo->width());
    ASSERT_EQ(moved.height(), photo->height());
    double toMoved = meanDifference(*photo, moved), toCentred = meanDifference(*photo, centred);
    std::printf("photo vs render --center: %.2f, vs the centred render: %.2f\n", toMoved,
                toCentred);
    EXPECT_LT(toMoved, 3.0);
    EXPECT_GT(toCentred, 4 * toMoved);
    if (!::testing::Test::HasFailure()) fs::remove_all(dir);
}

}  // namespace
}  // namespace quorbit::app
