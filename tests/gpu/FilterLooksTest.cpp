// The filter shaders drawn through the live view's frame path (a 640 x 480 BGRA frame of a
// sideways sensor into a 320 x 427 view cleared to yellow), read back and judged by what each
// look must do to the picture.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <regex>

#include "capture/SyntheticScene.h"
#include "gpu/FilterCatalogue.h"
#include "gpu/FrameDrawing.h"
#include "gpu/StillRendering.h"
#include "support/GlTestContext.h"
#include "support/Pixels.h"

namespace quorbit::gpu {
namespace {

constexpr int kFrameWidth = 640, kFrameHeight = 480, kWidth = 320, kHeight = 427;
constexpr int kBack = capture::kCameraBack, kFront = capture::kCameraFront;

using Frame = std::vector<uint8_t>;  // B, G, R, A; first row first

Frame paintFrame(const std::function<void(int x, int y, int* rgb)>& paint) {
    Frame frame(size_t(kFrameWidth) * kFrameHeight * 4, 255);
    for (int y = 0, rgb[3]; y < kFrameHeight; ++y)
        for (int x = 0; x < kFrameWidth; ++x) {
            paint(x, y, rgb);
            for (int c = 0; c < 3; ++c)
                frame[(size_t(y) * kFrameWidth + x) * 4 + 2 - c] = rgb[c];
        }
    return frame;
}

// Colour bars, a colour ramp, a board of sharp-edged squares and a bright disc in the middle.
const Frame& sceneFrame() {
    static const Frame frame = paintFrame([](int x, int y, int* rgb) {
        // clang-format off
        static const int bars[8][3] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
                                       {235, 16, 235}, {235, 16, 16}, {16, 16, 235}, {16, 16, 16}};
        // clang-format on
        int square = (x / 20 + y / 20) % 2 ? 190 : 50;
        int ramp[3] = {x * 255 / 639, (y - 160) * 255 / 159, 160 - x / 5},
            board[3] = {square, square - 20, square + 20};
        const int* from = y < 160 ? bars[x / 80] : y < 320 ? ramp : board;
        bool disc = (x - 320) * (x - 320) + (y - 240) * (y - 240) < 60 * 60;
        for (int c = 0; c < 3; ++c)
            rgb[c] = disc ? 255 : from[c];
    });
    return frame;
}

// Each texel tells where it is: red = column, green = row.
const Frame& coordinateFrame() {
    static const Frame frame = paintFrame([](int x, int y, int* rgb) {
        rgb[0] = (x * 255 + 319) / 639, rgb[1] = (y * 255 + 239) / 479, rgb[2] = 128;
    });
    return frame;
}

Frame greyFrame(int grey) {
    return paintFrame([grey](int, int, int* rgb) { rgb[0] = rgb[1] = rgb[2] = grey; });
}

using platform::Image;  // RGBA, top row first
double luma(const Image& image, int x, int y) {
    const uint8_t* p = image.pixel(x, y);
    return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
}

// The fragment shaders ask for highp where the GPU has it in the fragment stage and mediump
// elsewhere; every look is judged both ways: as shipped, and built as a GPU without highp
// fragments builds them.
enum class Precision { AsShipped, Mediump };
Precision gPrecision = Precision::AsShipped;
const char* const kHighpTest = "#ifdef GL_FRAGMENT_PRECISION_HIGH";

ShaderProgram& program(const std::string& name) {
    static std::map<std::pair<std::string, Precision>, std::unique_ptr<ShaderProgram>> programs;
    auto& made = programs[{name, gPrecision}];
    if (!made) {
        made = std::make_unique<ShaderProgram>(name, name);
        std::string fragment = made->fragShaderSource().value_or("");
        if (gPrecision == Precision::Mediump && fragment.find(kHighpTest) != std::string::npos)
            made->setFragShaderSource(fragment.replace(fragment.find(kHighpTest),
                                                       std::string(kHighpTest).size(), "#if 0"));
    }
    return *made;
}

class FilterLooks : public ::testing::TestWithParam<Precision> {
  protected:
    void SetUp() override { gPrecision = GetParam(); }
};

Image render(const std::string& filter, const Frame& frame, int camera = kBack, int width = kWidth,
             int height = kHeight, int rotation = 90, platform::Point centre = kViewCentre) {
    auto context = testing::sharedGlContext();
    GLView view(platform::Rect(0, 0, width, height));
    view.setContext(context);
    capture::PixelBuffer buffer(const_cast<uint8_t*>(frame.data()), kFrameWidth, kFrameHeight,
                                rotation);
    buffer.lockBaseAddress();
    CameraTexture texture;
    EXPECT_TRUE(texture.upload(buffer, context));
    drawFrameQuad(view, program(filter), texture.name(), camera, {1, 1, 0, 1}, centre);
    Image picture = readFramebufferImage(view);
    glUseProgram(0);
    return picture;
}

TEST_P(FilterLooks, EveryFilterBuildsCoversTheSurfaceOpaquelyAndChangesThePicture) {
    Image normal = render("Normal", sceneFrame());
    for (std::string name : kFilterSlotNames) {
        EXPECT_EQ(program(name).fragShaderSource()->find(kHighpTest) == std::string::npos,
                  GetParam() == Precision::Mediump);
        ASSERT_TRUE(program(name).compile()) << name;
        // Within small GPUs' limits: no loops and at most nine texture reads, comments aside.
        std::string code = std::regex_replace(
            *program(name).vertShaderSource() + "\n" + *program(name).fragShaderSource(),
            std::regex("//[^\n]*"), "");
        auto uses = [&](const char* word) {
            std::regex whole(std::string("\\b") + word + "\\b");
            return std::distance(std::sregex_iterator(code.begin(), code.end(), whole), {});
        };
        EXPECT_TRUE(uses("texture2D") >= 1 && uses("texture2D") <= 9) << name;
        EXPECT_EQ(uses("for") + uses("while") + uses("do"), 0) << name;
        Image look = render(name, sceneFrame());
        for (const Image& each : {look, render(name, sceneFrame(), kFront, 144, 192)}) {
            int clearedOrTranslucent = 0;
            for (size_t i = 0; i < each.pixels().size(); i += 4)
                clearedOrTranslucent += testing::near(&each.pixels()[i], {255, 255, 0}, 2) ||
                                        each.pixels()[i + 3] != 255;
            EXPECT_EQ(clearedOrTranslucent, 0) << name << " " << each.width();
        }
        double change = 0;
        for (size_t i = 0; i < look.pixels().size(); i += 4)
            change += testing::colourDistance(&look.pixels()[i], &normal.pixels()[i]);
        EXPECT_TRUE(name == "Normal" || change / (kWidth * kHeight) > 10) << name;
    }
}

// The frame is shown turned clockwise by its rotation, the front camera's picture mirrored
// left to right: which frame quadrant (0 top left, 1 top right, 2 bottom left, 3 bottom right)
// each quadrant of the surface shows, in the same order.
TEST_P(FilterLooks, FramesShowUprightAtEveryRotationAndMirroredForTheFrontCamera) {
    // clang-format off
    struct Case { int rotation, camera; int quadrantAt[4]; };
    const Case cases[] = {
        {0, kBack, {0, 1, 2, 3}},   {0, kFront, {1, 0, 3, 2}},  {90, kBack, {2, 0, 3, 1}},
        {90, kFront, {0, 2, 1, 3}}, {180, kBack, {3, 2, 1, 0}}, {180, kFront, {2, 3, 0, 1}},
        {270, kBack, {1, 3, 0, 2}}, {270, kFront, {3, 1, 2, 0}},
    };
    // clang-format on
    for (const auto& c : cases) {
        Image look = render("Normal", coordinateFrame(), c.camera, kWidth, kHeight, c.rotation);
        for (int q = 0; q < 4; ++q) {
            const uint8_t* p =
                look.pixel(kWidth / 4 + q % 2 * kWidth / 2, kHeight / 4 + q / 2 * kHeight / 2);
            EXPECT_EQ((p[0] > 128) + 2 * (p[1] > 128), c.quadrantAt[q])
                << "rotation " << c.rotation << ", camera " << c.camera << ", quadrant " << q;
        }
    }
}

TEST_P(FilterLooks, ColourLooksKeepToTheirPalettesAndFollowOrInvertTheLuminance) {
    using Rule = std::function<bool(const uint8_t* look, const uint8_t* picture)>;
    // The correlation of the luminances: at least this, or at most when negative.
    // clang-format off
    const struct { const char* filter; double correlation; Rule holds; } looks[] = {
        {"Grayscale", 0.99, [](auto p, auto n) { return testing::isGrey(p, 1) && std::abs(p[1] - (0.299 * n[0] + 0.587 * n[1] + 0.114 * n[2])) <= 2; }},  // Rec. 601 luma
        {"Sepia", 0.95, [](auto p, auto) { return p[0] + 1 >= p[1] && p[1] + 1 >= p[2] && p[0] > p[2] + 8; }},
        {"Xray", -0.8, [](auto p, auto) { return p[2] + 1 >= p[1] && p[1] + 1 >= p[0]; }},
        {"Thermal", 0.85, [](auto p, auto) { return p[0] + 1 >= p[1]; }},
        {"Valentine", 0.4, [](auto p, auto) { return p[0] > p[1] && p[0] > p[2]; }},
        {"Sketch", 0.2, [](auto p, auto) { return testing::isGrey(p, 10); }},
        {"Newspaper", 0.5, [](auto p, auto) { return testing::isGrey(p, 0); }},
    };
    // clang-format on
    Image normal = render("Normal", sceneFrame());
    for (const auto& want : looks) {
        Image look = render(want.filter, sceneFrame());
        int broken = 0;
        double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0, n = kWidth * kHeight;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                double a = luma(look, x, y), b = luma(normal, x, y);
                sa += a, sb += b, saa += a * a, sbb += b * b, sab += a * b;
                broken += !want.holds(look.pixel(x, y), normal.pixel(x, y));
            }
        double correlation =
            (sab - sa * sb / n) / std::sqrt((saa - sa * sa / n) * (sbb - sb * sb / n));
        EXPECT_EQ(broken, 0) << want.filter;
        EXPECT_GT(want.correlation < 0 ? -correlation : correlation, std::abs(want.correlation))
            << want.filter;
    }
}

TEST_P(FilterLooks, WarpsKeepTheCentreAndMoveTheRestTheirWayRoundOnScreen) {
    // The frame position that a pixel shows, relative to the frame's centre, from its colour.
    auto shown = [](const Image& p, int x, int y) {
        return std::pair(p.pixel(x, y)[0] * 639.0 / 255 - 319.5,
                         p.pixel(x, y)[1] * 479.0 / 255 - 239.5);
    };
    // How far out the warp reads, relative to the plain picture, and whether only the direction
    // down the screen (frame columns) changes.
    // clang-format off
    const struct { const char* filter; double low, high; bool downOnly; } warps[] = {
        {"Bulge", 0.45, 0.8, false}, {"Squish", 1.25, 1.9, false}, {"Stretch", 0.45, 0.8, true}};
    // clang-format on
    const int probes[][2] = {{60, 0}, {-60, 0}, {0, 60}, {0, -60}, {42, 42}, {-42, -42}};
    // A phone's sideways frame on a portrait surface and a webcam's upright one on a landscape
    // surface: either way a bulge stays round.
    for (auto [rotation, width, height] : {std::tuple{90, kWidth, kHeight}, {0, kHeight, kWidth}}) {
        const int cx = width / 2, cy = height / 2;
        Image normal = render("Normal", coordinateFrame(), kBack, width, height, rotation);
        for (const auto& warp : warps) {
            if (warp.downOnly && rotation == 0) continue;
            SCOPED_TRACE(::testing::Message() << warp.filter << " " << rotation);
            Image look = render(warp.filter, coordinateFrame(), kBack, width, height, rotation);
            auto [centreU, centreV] = shown(look, cx, cy);
            EXPECT_NEAR(centreU, shown(normal, cx, cy).first, 2.5);
            EXPECT_NEAR(centreV, shown(normal, cx, cy).second, 2.5);
            std::vector<double> ratios;
            for (auto [dx, dy] : probes) {
                auto [u, v] = shown(look, cx + dx, cy + dy);
                auto [nu, nv] = shown(normal, cx + dx, cy + dy);
                if (warp.downOnly) {
                    EXPECT_NEAR(v, nv, 2.5);
                    if (dy != 0) ratios.push_back(u / nu);
                } else {
                    ratios.push_back(std::hypot(u, v) / std::hypot(nu, nv));
                }
            }
            for (double ratio : ratios) {
                EXPECT_TRUE(ratio > warp.low && ratio < warp.high) << ratio;
                EXPECT_TRUE(warp.downOnly || std::abs(ratio - ratios.front()) < 0.06) << ratio;
            }
        }
    }
}

TEST_P(FilterLooks, MirrorLightTunnelAndSketchFollowTheShapesOfThePicture) {
    Image normal = render("Normal", sceneFrame()), mirror = render("Mirror", sceneFrame()),
          tunnel = render("Light Tunnel", sceneFrame()), sketch = render("Sketch", sceneFrame());
    auto step = [&](int x, int y, int d) {  // luminance change across the pixel, both ways
        return std::abs(luma(normal, x + d, y) - luma(normal, x - d, y)) +
               std::abs(luma(normal, x, y + d) - luma(normal, x, y - d));
    };
    auto differ = [](const Image& a, int x, int y, const Image& b, int x2, int y2, int by) {
        return testing::colourDistance(a.pixel(x, y), b.pixel(x2, y2)) > by;
    };
    int asymmetric = 0, changed = 0, discChanged = 0, along = 0, around = 0, edges = 0, flats = 0;
    double edgeLuma = 0, flatLuma = 0;
    for (int y = 3; y < kHeight - 3; ++y)
        for (int x = 3; x < kWidth - 3; ++x) {
            // The mirror keeps the left half and reflects it onto the right.
            asymmetric += differ(mirror, x, y, mirror, kWidth - 1 - x, y, 1);
            changed += x < kWidth / 2 && differ(mirror, x, y, normal, x, y, 1);
            // The tunnel keeps a disc and repeats its rim outward: few steps along the rays.
            double dx = x + 0.5 - kWidth / 2.0, dy = y + 0.5 - kHeight / 2.0,
                   r = std::hypot(dx, dy);
            int ox = int(std::lround(3 * dx / r)), oy = int(std::lround(3 * dy / r));
            discChanged += r < 0.2 * kWidth && differ(tunnel, x, y, normal, x, y, 1);
            along += r > 0.3 * kWidth && differ(tunnel, x, y, tunnel, x + ox, y + oy, 10);
            around += r > 0.3 * kWidth && differ(tunnel, x, y, tunnel, x - oy, y + ox, 10);
            // The sketch is dark on the picture's edges and paper where it is flat and bright.
            if (step(x, y, 1) > 100)
                edgeLuma += luma(sketch, x, y), ++edges;
            else if (step(x, y, 1) + step(x, y, 3) < 2 && luma(normal, x, y) > 150)
                flatLuma += luma(sketch, x, y), ++flats;
        }
    EXPECT_EQ(asymmetric + changed + discChanged, 0);
    EXPECT_LT(along, around / 4) << along << " " << around;
    EXPECT_LT(edgeLuma / edges, 140);
    EXPECT_GT(flatLuma / flats, 230);
}

// Changes between ink and paper along the rows of the middle half, per row.
double inkChangesPerRow(const Image& look) {
    int changes = 0, rows = 0;
    for (int y = look.height() / 4; y < look.height() * 3 / 4; ++y, ++rows)
        for (int x = 1; x < look.width(); ++x)
            changes += (luma(look, x - 1, y) < 128) != (luma(look, x, y) < 128);
    return double(changes) / rows;
}

// The 144 x 192 preview shows the live view's screen of dots, only smaller: as much ink, and
// as many dots across (at mid grey every change shows).
TEST_P(FilterLooks, NewspaperInksInProportionToDarknessAndValentineFramesAHeart) {
    for (int grey : {51, 128, 204}) {
        Image look = render("Newspaper", greyFrame(grey));
        Image preview = render("Newspaper", greyFrame(grey), kBack, 144, 192);
        double ink = 0, solid = 0, mean[2] = {0, 0}, n = kWidth * kHeight;
        for (size_t i = 0; i < look.pixels().size(); i += 4)
            ink += look.pixels()[i] < 128, solid += look.pixels()[i] < 30 || look.pixels()[i] > 225;
        EXPECT_NEAR(ink / n, 1 - grey / 255.0, 0.1) << grey;
        EXPECT_GT(solid / n, 0.7) << grey;
        for (const Image* p : {&look, &preview})
            for (int y = 0; y < p->height(); ++y)
                for (int x = 0; x < p->width(); ++x)
                    mean[p == &preview] += luma(*p, x, y) / (p->width() * p->height());
        EXPECT_NEAR(mean[1], mean[0], 12) << grey;
        if (grey == 128) {
            EXPECT_NEAR(inkChangesPerRow(preview) / inkChangesPerRow(look), 1.0, 0.15);
        }
    }
    Image heart = render("Valentine", greyFrame(200));
    EXPECT_GT(luma(heart, kWidth / 2, kHeight / 2), luma(heart, 0, 0) + 60);
    // Unlike a round vignette, a heart has a notch: a row darker in the middle than both sides.
    bool notch = false;
    for (int y = 0; y < kHeight / 2; ++y) {
        double left = 0, right = 0, middle = luma(heart, kWidth / 2, y);
        for (int x = 0; x < kWidth / 2; ++x)
            left = std::max(left, luma(heart, x, y)),
            right = std::max(right, luma(heart, kWidth - 1 - x, y));
        notch = notch || (left > middle + 15 && right > middle + 15);
    }
    EXPECT_TRUE(notch);
}

// ---- stills drawn offscreen at the frame's own size ----

Image still(const std::string& filter, capture::StillFrame frame, int camera,
            platform::Point centre = kViewCentre, std::optional<RenderLimits> limits = {}) {
    EXPECT_TRUE(turnToDrawingLayout(frame));
    auto drawn = renderStill(testing::sharedGlContext(), program(filter), std::move(frame), camera,
                             centre, limits);
    EXPECT_TRUE(drawn.ok()) << (drawn ? "" : drawn.error().localizedDescription());
    glUseProgram(0);
    return drawn ? *drawn : Image();
}

// The share of pixels of a and b (of one size) further apart than slack in some channel.
double differing(const Image& a, const Image& b, int slack) {
    if (a.width() != b.width() || a.height() != b.height()) return 1;
    int off = 0;
    for (size_t i = 0; i < a.pixels().size(); i += 4)
        off += testing::colourDistance(&a.pixels()[i], &b.pixels()[i]) > slack;
    return double(off) / (a.width() * a.height());
}

// A still of the live frame's size is the live view's picture at the same size, at every
// rotation and for both cameras, the moved centre included; drawn in small tiles it is the
// same picture again, without seams.
TEST(StillLooks, AStillIsTheViewsPictureAtEveryRotationAndInTiles) {
    RenderLimits tiny{4096, 100, 100, 100};
    const platform::Point moved{0.3, 0.7};
    for (int rotation : {0, 90, 180, 270})
        for (int camera : {kBack, kFront})
            for (const char* look : {"Normal", "Newspaper", "Bulge", "Sketch"}) {
                SCOPED_TRACE(::testing::Message() << look << " " << rotation << " " << camera);
                platform::Size upright = uprightSize(kFrameWidth, kFrameHeight, rotation);
                int width = int(upright.width), height = int(upright.height);
                Image view = render(look, sceneFrame(), camera, width, height, rotation, moved);
                capture::StillFrame frame{kFrameWidth, kFrameHeight, rotation, sceneFrame()};
                Image whole = still(look, frame, camera, moved);
                EXPECT_LT(differing(whole, view, 2), 0.001);
                EXPECT_LT(differing(still(look, frame, camera, moved, tiny), whole, 1), 0.001);
            }
    // A frame larger than the GL's textures is refused, not drawn in part.
    auto refused = renderStill(testing::sharedGlContext(), program("Normal"),
                               {kFrameWidth, kFrameHeight, 90, sceneFrame()}, kBack, kViewCentre,
                               RenderLimits{600, 4096, 4096, 4096});
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, long(StillError::TooLarge));
}

// The same scene from a sensor of twice the size, scaled back down, looks as the view does:
// looks drawn in pixels (Newspaper's dots, Sketch's edges) keep the view's proportions.
TEST(StillLooks, AFullSizeStillScaledDownLooksAsTheView) {
    capture::SyntheticScene small(capture::SyntheticScene::Style::Back, kFrameWidth, kFrameHeight),
        large(capture::SyntheticScene::Style::Back, 2 * kFrameWidth, 2 * kFrameHeight);
    Frame smallFrame(size_t(kFrameWidth) * kFrameHeight * 4),
        largeFrame(size_t(4) * kFrameWidth * kFrameHeight * 4);
    small.render(7, smallFrame.data());
    large.render(7, largeFrame.data());
    for (const char* look : {"Normal", "Newspaper", "Sketch", "Thermal", "Light Tunnel"}) {
        SCOPED_TRACE(look);
        Image view = render(look, smallFrame, kFront, kFrameHeight, kFrameWidth);
        Image full = still(look, {2 * kFrameWidth, 2 * kFrameHeight, 90, largeFrame}, kFront);
        ASSERT_EQ(std::pair(full.width(), full.height()),
                  std::pair(2 * kFrameHeight, 2 * kFrameWidth));
        // Each 2 x 2 block averaged, against the view's pixel there.
        Image down(view.width(), view.height(), std::vector<uint8_t>(view.pixels().size(), 255));
        auto at = [&](int x, int y, int c) { return full.pixel(x, y)[c]; };
        for (int y = 0; y < down.height(); ++y)
            for (int x = 0; x < down.width(); ++x)
                for (int c = 0, X = 2 * x, Y = 2 * y; c < 3; ++c)
                    down.pixel(x, y)[c] = uint8_t((at(X, Y, c) + at(X + 1, Y, c) + at(X, Y + 1, c) +
                                                   at(X + 1, Y + 1, c) + 2) /
                                                  4);
        // Thin strokes and dot edges are crisper at full size, so their averaged pixels are
        // not the view's everywhere (Sketch: 6 %, Newspaper: 4 %); a look drawn in pixels
        // instead would be a finer pattern, and differ over most of the picture.
        EXPECT_LT(differing(down, view, 40), 0.08);
    }
}

INSTANTIATE_TEST_SUITE_P(Precisions, FilterLooks,
                         ::testing::Values(Precision::AsShipped, Precision::Mediump),
                         [](const auto& info) {
                             return info.param == Precision::Mediump ? "Mediump" : "AsShipped";
                         });

}  // namespace
}  // namespace quorbit::gpu
