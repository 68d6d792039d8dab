#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "app/RenderCommands.h"
#include "gpu/FilterCatalogue.h"
#include "platform/gfx/ImageCodec.h"

namespace quorbit::app {
namespace {

namespace fs = std::filesystem;
using platform::Image;
using platform::ImageCodec::readFile;

class RenderCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("quorbit-render-" + std::to_string(getpid()));
        fs::create_directories(dir);
        // Four quadrants: red, green / blue, white, as a 640 x 480 PNG.
        Image quadrants(640, 480);
        const std::uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
        for (int y = 0; y < 480; ++y) {
            for (int x = 0; x < 640; ++x) {
                const auto* c = colours[(y >= 240) * 2 + (x >= 320)];
                std::uint8_t* p = quadrants.pixel(x, y);
                p[0] = c[0], p[1] = c[1], p[2] = c[2], p[3] = 255;
            }
        }
        ASSERT_TRUE(platform::ImageCodec::writePng(quadrants, input()));
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string input() const { return (dir / "quadrants.png").string(); }
    std::string out(const std::string& name) const { return (dir / name).string(); }
    static std::array<int, 3> rgb(const Image& image, int x, int y) {
        const auto* p = image.pixel(x, y);
        return {p[0], p[1], p[2]};
    }
    fs::path dir;
};

TEST_F(RenderCommands, TheInputIsUprightUnlessARotationIsGiven) {
    // The input turned a quarter, as a portrait picture: blue | red over white | green.
    Image portrait(480, 640);
    auto input = readFile(this->input());
    ASSERT_TRUE(input);
    for (int y = 0; y < 640; ++y)
        for (int x = 0; x < 480; ++x)
            std::copy_n(input->pixel(y, 479 - x), 4, portrait.pixel(x, y));
    ASSERT_TRUE(platform::ImageCodec::writePng(portrait, out("portrait.png")));
    using C = std::array<int, 3>;
    const C red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255}, white{255, 255, 255};
    struct Case {
        std::string input;
        std::vector<std::string> rotation;
        int width, height;
        std::array<C, 4> quadrants;  // top left, top right, bottom left, bottom right
    } cases[] = {
        {this->input(), {}, 427, 320, {red, green, blue, white}},
        {this->input(), {"--rotation", "0"}, 427, 320, {red, green, blue, white}},
        // A sensor's frame of rotation 90: the live view's quarter turn clockwise.
        {this->input(), {"--rotation", "90"}, 320, 427, {blue, red, white, green}},
        {out("portrait.png"), {}, 320, 427, {blue, red, white, green}},
        {this->input(), {"--rotation", "180"}, 427, 320, {white, blue, green, red}},
        {this->input(), {"--rotation", "270"}, 320, 427, {green, white, red, blue}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input + " " + ::testing::PrintToString(c.rotation));
        std::vector<std::string> args = {"--filter", "Normal",   "--input",
                                         c.input,    "--output", out("r.png")};
        args.insert(args.end(), c.rotation.begin(), c.rotation.end());
        ASSERT_EQ(runRender(args), 0);
        auto image = readFile(out("r.png"));
        ASSERT_TRUE(image);
        ASSERT_EQ(image->width(), c.width);
        ASSERT_EQ(image->height(), c.height);
        for (int q = 0; q < 4; ++q)
            EXPECT_EQ(rgb(*image, q % 2 ? c.width - 40 : 40, q / 2 ? c.height - 40 : 40),
                      c.quadrants[size_t(q)])
                << "quadrant " << q;
    }
}

TEST_F(RenderCommands, EveryFilterVisiblyChangesThePictureWithBothCameras) {
    // The built-in frame has a disc, edges and ramps for the distortions to move.
    std::string frame = out("frame.png");
    ASSERT_TRUE(platform::ImageCodec::writePng(builtinTestFrame(), frame));
    ASSERT_EQ(runRender({"--filter", "0", "--input", frame, "--output", out("normal.png")}), 0);
    auto normal = readFile(out("normal.png"));
    ASSERT_TRUE(normal);
    for (const char* camera : {"back", "front"}) {
        for (int slot = 0; slot < gpu::kFilterSlotCount; ++slot) {
            SCOPED_TRACE(std::string(camera) + " " + gpu::kFilterSlotNames[slot]);
            std::string path = out("slot.png");
            ASSERT_EQ(runRender({"--filter", std::to_string(slot), "--input", frame, "--output",
                                 path, "--camera", camera}),
                      0);
            auto image = readFile(path);
            ASSERT_TRUE(image);
            ASSERT_EQ(image->width(), normal->width());
            ASSERT_EQ(image->height(), normal->height());
            int width = image->width(), height = image->height();
            long changed = 0, yellow = 0;
            for (int y = 0; y < height; y += 3) {
                for (int x = 0; x < width; x += 3) {
                    auto got = rgb(*image, x, y);
                    auto plain =
                        rgb(*normal, std::string(camera) == "front" ? width - 1 - x : x, y);
                    int d = 0;
                    for (int k = 0; k < 3; ++k)
                        d += std::abs(got[size_t(k)] - plain[size_t(k)]);
                    changed += d > 24;
                    yellow += got == std::array<int, 3>{255, 255, 0};
                }
            }
            long total = long(height / 3 + 1) * (width / 3 + 1);
            if (std::string(gpu::kFilterSlotNames[slot]) == "Normal") {
                EXPECT_EQ(changed, 0);
            } else {
                EXPECT_GT(changed, total / 20);
            }
            EXPECT_LT(yellow, total / 100);  // the program drew over the clear colour
        }
    }
}

TEST_F(RenderCommands, OtherSizesAreScaledToCoverAndCentreCropped) {
    // 1280 x 480: twice as wide. Covering keeps its middle half: the right half of the left
    // (red over blue) picture and the left half of the right (green over white) one.
    Image wide(1280, 480);
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 1280; ++x) {
            std::uint8_t* p = wide.pixel(x, y);
            bool right = x >= 640, bottom = y >= 240;
            p[0] = std::uint8_t(right ? (bottom ? 255 : 0) : (bottom ? 0 : 255));
            p[1] = std::uint8_t(right ? 255 : 0);
            p[2] = std::uint8_t(bottom ? 255 : 0);
            p[3] = 255;
        }
    }
    ASSERT_TRUE(platform::ImageCodec::writePng(wide, out("wide.png")));
    ASSERT_EQ(
        runRender({"--filter", "Normal", "--input", out("wide.png"), "--output", out("w.png")}), 0);
    ASSERT_EQ(runRender({"--filter", "Normal", "--input", input(), "--output", out("q.png")}), 0);
    auto scaled = readFile(out("w.png"));
    auto plain = readFile(out("q.png"));
    ASSERT_TRUE(scaled && plain);
    for (int y : {40, 280}) {
        for (int x : {40, 380})
            EXPECT_EQ(rgb(*scaled, x, y), rgb(*plain, x, y));
    }
}

TEST_F(RenderCommands, BadInputGetsAClearStatusAndNeverAPartialFile) {
    std::ofstream(out("corrupt.png")) << "\x89PNG\r\n\x1a\n not really";
    fs::create_directories(dir / "locked");
    chmod((dir / "locked").c_str(), 0500);
    bool canWriteLocked = access((dir / "locked").c_str(), W_OK) == 0;  // root ignores modes
    struct Case {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"--filter", "Blur", "--input", input(), "--output", out("x.png")}, kExitUsage},
        {{"--filter", "16", "--input", input(), "--output", out("x.png")}, kExitUsage},
        {{"--input", input(), "--output", out("x.png")}, kExitUsage},
        {{"--filter", "Normal", "--output", out("x.png")}, kExitUsage},
        {{"--filter", "Normal", "--input", input()}, kExitUsage},
        {{"--filter", "Normal", "--input", input(), "--output", out("x.png"), "--camera", "side"},
         kExitUsage},
        {{"--filter", "Normal", "--input", input(), "--output"}, kExitUsage},
        {{"--filter", "Normal", "--input", input(), "--output", out("x.png"), "--rotation", "45"},
         kExitUsage},
        {{"--filter", "Normal", "--input", input(), "--output", out("x.png"), "--rotation", "-90"},
         kExitUsage},
        {{"--filter", "Normal", "--input", input(), "--output", out("x.png"), "--bogus", "1"},
         kExitUsage},
        {{"--filter", "Normal", "--input", out("missing.png"), "--output", out("x.png")},
         kExitFailure},
        {{"--filter", "Normal", "--input", out("corrupt.png"), "--output", out("x.png")},
         kExitFailure},
        {{"--filter", "Normal", "--input", input(), "--output", out("no/such/dir/x.png")},
         kExitFailure},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        EXPECT_EQ(runRender(c.args), c.status);
        EXPECT_FALSE(fs::exists(out("x.png")));
    }
    if (!canWriteLocked) {
        std::string locked = (dir / "locked" / "x.png").string();
        EXPECT_EQ(runRender({"--filter", "1", "--input", input(), "--output", locked}),
                  kExitFailure);
        EXPECT_TRUE(fs::is_empty(dir / "locked"));
    }
    EXPECT_EQ(runContactSheet({"--input", out("corrupt.png"), "--output", out("x.png")}),
              kExitFailure);
    EXPECT_EQ(runContactSheet({"--input", input()}), kExitUsage);
    EXPECT_EQ(runContactSheet({"--output", out("x.png"), "--rotation", "1"}), kExitUsage);
    EXPECT_FALSE(fs::exists(out("x.png")));
    // Only the output itself and the inputs are left: no temporary files.
    for (const auto& entry : fs::directory_iterator(dir)) {
        EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
    }
}

TEST_F(RenderCommands, ContactSheetShowsSixteenPreviewsAtThePickersPlaces) {
    ASSERT_EQ(runContactSheet({"--input", input(), "--output", out("sheet.png")}), 0);
    auto sheet = readFile(out("sheet.png"));
    ASSERT_TRUE(sheet);
    ASSERT_EQ(sheet->width(), 1280);
    ASSERT_EQ(sheet->height(), 416);
    using C = std::array<int, 3>;
    EXPECT_EQ(rgb(*sheet, 5, 5), (C{0, 0, 0}));      // outer margin
    EXPECT_EQ(rgb(*sheet, 160, 100), (C{0, 0, 0}));  // between the columns
    EXPECT_EQ(rgb(*sheet, 100, 208), (C{0, 0, 0}));  // between the rows
    EXPECT_EQ(rgb(*sheet, 100, 410), (C{0, 0, 0}));  // below the grid
    for (int slot = 0; slot < 16; ++slot) {
        int x = 320 * (slot / 4) + (slot % 2 ? 165 : 11), y = slot % 4 < 2 ? 11 : 213;
        long cleared = 0, black = 0;
        for (int dy = 42; dy < 42 + 108; dy += 4) {
            for (int dx = 0; dx < 144; dx += 4) {
                auto c = rgb(*sheet, x + dx, y + dy);
                cleared += c == C{255, 0, 255};
                black += c == C{0, 0, 0};
            }
        }
        EXPECT_EQ(cleared, 0) << "slot " << slot;
        EXPECT_LT(black, 36 * 27 / 2) << "slot " << slot;
    }
    // The landscape picture upright, fitted into each place: 144 x 108, centred.
    EXPECT_EQ(rgb(*sheet, 11 + 20, 11 + 42 + 20), (C{255, 0, 0}));
    EXPECT_EQ(rgb(*sheet, 11 + 124, 11 + 42 + 20), (C{0, 255, 0}));
    EXPECT_EQ(rgb(*sheet, 11 + 20, 11 + 42 + 88), (C{0, 0, 255}));
    EXPECT_EQ(rgb(*sheet, 11 + 72, 11 + 30), (C{0, 0, 0}));  // above the picture
    // The four Normal slots show the same picture.
    for (int page = 1; page < 4; ++page) {
        for (int d : {20, 70, 130})
            EXPECT_EQ(rgb(*sheet, 11 + d, 11 + d), rgb(*sheet, 320 * page + 11 + d, 11 + d));
    }
}

}  // namespace
}  // namespace quorbit::app
