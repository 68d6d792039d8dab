#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/RenderCommands.h"
#include "platform/gfx/ImageCodec.h"
#include "support/HostileFiles.h"
#include "support/Pixels.h"
#include "support/Scratch.h"

namespace quorbit::app {
namespace {

namespace fs = std::filesystem;
using platform::Image;
using platform::ImageCodec::readFile;
using testing::Rgb;

// The colours of testing::quadrantPicture.
const Rgb kRed{200, 40, 40}, kGreen{40, 200, 40}, kBlue{40, 40, 200}, kWhite{230, 230, 230};

class RenderCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(platform::ImageCodec::writePng(testing::quadrantPicture(640, 480), input()));
    }
    std::string input() const { return out("quadrants.png"); }
    std::string out(const std::string& name) const { return (scratch / name).string(); }
    testing::ScratchDir scratch{"quorbit-render"};
};

TEST_F(RenderCommands, TheInputIsUprightUnlessARotationIsGiven) {
    // The input turned a quarter clockwise, as a portrait picture: blue | red over white | green.
    Image landscape = testing::quadrantPicture(640, 480), portrait(480, 640);
    for (int y = 0; y < 640; ++y)
        for (int x = 0; x < 480; ++x)
            std::copy_n(landscape.pixel(y, 479 - x), 4, portrait.pixel(x, y));
    ASSERT_TRUE(platform::ImageCodec::writePng(portrait, out("portrait.png")));
    struct Case {
        std::string input, rotation;
        int width, height;
        std::array<Rgb, 4> quadrants;  // top left, top right, bottom left, bottom right
    };
    // clang-format off
    const Case cases[] = {
        {input(), "", 427, 320, {kRed, kGreen, kBlue, kWhite}},
        {input(), "0", 427, 320, {kRed, kGreen, kBlue, kWhite}},
        {out("portrait.png"), "", 320, 427, {kBlue, kRed, kWhite, kGreen}},
        // A sensor's frame of rotation 90 is shown turned a quarter clockwise, as the live view does.
        {input(), "90", 320, 427, {kBlue, kRed, kWhite, kGreen}},
        {input(), "180", 427, 320, {kWhite, kBlue, kGreen, kRed}},
        {input(), "270", 320, 427, {kGreen, kWhite, kRed, kBlue}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input + " " + c.rotation);
        std::vector<std::string> args = {"--filter", "Normal",   "--input",
                                         c.input,    "--output", out("r.png")};
        if (!c.rotation.empty()) args.insert(args.end(), {"--rotation", c.rotation});
        ASSERT_EQ(runRender(args), kExitOk);
        auto image = readFile(out("r.png"));
        ASSERT_TRUE(image);
        ASSERT_EQ(image->width(), c.width);
        ASSERT_EQ(image->height(), c.height);
        for (int q = 0; q < 4; ++q)
            EXPECT_TRUE(
                testing::near(image->pixel(q % 2 ? c.width - 40 : 40, q / 2 ? c.height - 40 : 40),
                              c.quadrants[size_t(q)]))
                << "quadrant " << q;
    }
}

TEST_F(RenderCommands, OtherSizesAreScaledToCoverAndTheCentreMovesTheDistortion) {
    // The middle half of a picture twice as wide is what the 640 x 480 one shows.
    Image wide(1280, 480), quadrants = testing::quadrantPicture(640, 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 1280; ++x)
            std::copy_n(quadrants.pixel(std::clamp(x - 320, 0, 639), y), 4, wide.pixel(x, y));
    ASSERT_TRUE(platform::ImageCodec::writePng(wide, out("wide.png")));
    auto render = [&](const std::string& filter, const std::string& picture,
                      std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--filter", filter,     "--input",
                                         picture,    "--output", out("r.png")};
        args.insert(args.end(), extra.begin(), extra.end());
        EXPECT_EQ(runRender(args), kExitOk);
        auto image = readFile(out("r.png"));
        return image ? std::move(image).value() : Image();
    };
    Image scaled = render("Normal", out("wide.png")), plain = render("Normal", input());
    EXPECT_EQ(scaled.pixels(), plain.pixels());
    // Bulge magnifies around its centre: in the middle, where the quadrants meet, unless
    // --center moves it away; the middle given as --center is where it is without one.
    Image centred = render("Bulge", input());
    EXPECT_EQ(render("Bulge", input(), {"--center", "0.5,0.5"}).pixels(), centred.pixels());
    Image moved = render("Bulge", input(), {"--center", "0.2,0.7"});
    long differing = 0;
    for (int y = 0; y < moved.height(); ++y)
        for (int x = 0; x < moved.width(); ++x)
            differing += testing::colourDistance(moved.pixel(x, y), centred.pixel(x, y)) > 30;
    EXPECT_GT(differing, 1000);
}

TEST_F(RenderCommands, BadInputGetsAClearStatusAndNeverAPartialFile) {
    scratch.write("corrupt.png", "\x89PNG\r\n\x1a\n not really");
    fs::create_directories(scratch / "locked");
    chmod((scratch / "locked").c_str(), 0500);
    bool canWriteLocked = access((scratch / "locked").c_str(), W_OK) == 0;  // root ignores modes
    const std::string in = input(), x = out("x.png");
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    // clang-format off
    const Case cases[] = {
        {{"--filter", "Blur", "--input", in, "--output", x}, kExitUsage},
        {{"--filter", "16", "--input", in, "--output", x}, kExitUsage},
        {{"--input", in, "--output", x}, kExitUsage},
        {{"--filter", "Normal", "--output", x}, kExitUsage},
        {{"--filter", "Normal", "--input", in}, kExitUsage},
        {{"--filter", "Normal", "--input", in, "--output"}, kExitUsage},
        {{"--filter", "Normal", "--input", in, "--output", x, "--camera", "side"}, kExitUsage},
        {{"--filter", "Normal", "--input", in, "--output", x, "--rotation", "45"}, kExitUsage},
        {{"--filter", "Normal", "--input", in, "--output", x, "--rotation", "-90"}, kExitUsage},
        {{"--filter", "Normal", "--input", in, "--output", x, "--bogus", "1"}, kExitUsage},
        {{"--filter", "Bulge", "--input", in, "--output", x, "--center", "0.5"}, kExitUsage},
        {{"--filter", "Bulge", "--input", in, "--output", x, "--center", "1.2,0"}, kExitUsage},
        {{"--filter", "Bulge", "--input", in, "--output", x, "--center", "0.5,x"}, kExitUsage},
        {{"--filter", "Normal", "--input", out("missing.png"), "--output", x}, kExitFailure},
        {{"--filter", "Normal", "--input", out("corrupt.png"), "--output", x}, kExitFailure},
        {{"--filter", "Normal", "--input", in, "--output", out("no/such/dir/x.png")}, kExitFailure},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        EXPECT_EQ(runRender(c.args), c.status);
        EXPECT_FALSE(fs::exists(x));
    }
    if (!canWriteLocked) {
        std::string locked = (scratch / "locked" / "x.png").string();
        EXPECT_EQ(runRender({"--filter", "1", "--input", in, "--output", locked}), kExitFailure);
        EXPECT_TRUE(fs::is_empty(scratch / "locked"));
    }
    EXPECT_EQ(runContactSheet({"--input", out("corrupt.png"), "--output", x}), kExitFailure);
    EXPECT_EQ(runContactSheet({"--input", in}), kExitUsage);
    EXPECT_EQ(runContactSheet({"--output", x, "--rotation", "1"}), kExitUsage);
    EXPECT_FALSE(fs::exists(x));
    // Only the inputs are left: no temporary files.
    for (const auto& entry : fs::directory_iterator(scratch.path()))
        EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
}

TEST_F(RenderCommands, ContactSheetShowsSixteenPreviewsAtThePickersPlaces) {
    ASSERT_EQ(runContactSheet({"--input", input(), "--output", out("sheet.png")}), kExitOk);
    auto sheet = readFile(out("sheet.png"));
    ASSERT_TRUE(sheet);
    ASSERT_EQ(sheet->width(), 1280);
    ASSERT_EQ(sheet->height(), 416);
    // Every place filled, neither with the clear colour nor mostly black; the landscape picture
    // upright in each (144 x 108, centred), the four Normal slots that open the pages alike.
    for (int slot = 0; slot < 16; ++slot) {
        int x = 320 * (slot / 4) + (slot % 2 ? 165 : 11), y = slot % 4 < 2 ? 11 : 213;
        long cleared = 0, dark = 0;
        for (int dy = 42; dy < 42 + 108; dy += 4)
            for (int dx = 0; dx < 144; dx += 4) {
                cleared += testing::near(sheet->pixel(x + dx, y + dy), {255, 0, 255}, 0);
                dark += testing::near(sheet->pixel(x + dx, y + dy), {0, 0, 0}, 0);
            }
        EXPECT_EQ(cleared, 0) << "slot " << slot;
        EXPECT_LT(dark, 36 * 27 / 2) << "slot " << slot;
    }
    EXPECT_TRUE(testing::near(sheet->pixel(11 + 20, 11 + 42 + 20), kRed));
    EXPECT_TRUE(testing::near(sheet->pixel(11 + 124, 11 + 42 + 20), kGreen));
    EXPECT_TRUE(testing::near(sheet->pixel(11 + 20, 11 + 42 + 88), kBlue));
    for (int page = 1; page < 4; ++page)
        for (int d : {20, 70, 130})
            EXPECT_EQ(testing::colourDistance(sheet->pixel(11 + d, 11 + d),
                                              sheet->pixel(320 * page + 11 + d, 11 + d)),
                      0);
}

}  // namespace
}  // namespace quorbit::app
