#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <tuple>
#include <vector>

#include "platform/gfx/Canvas.h"
#include "screens/camera/ControlArt.h"
#include "screens/camera/ControlButton.h"
#include "support/Pixels.h"

namespace quorbit::camera_screen {
namespace {

using ControlArt::ControlState;
using ControlArt::Glyph;
using platform::Canvas;
using platform::Image;
using platform::Rect;

// What a drawing put where: ink is any pixel with more than a trace of alpha.
struct Ink {
    double area = 0;        // inked, in square points
    double alphaSum = 0;    // summed alpha of those pixels, 0..1 each
    double brightness = 0;  // mean of the brightest channel over the inked pixels
    bool outside = false;   // ink outside the region looked at
};

// Looks at region (in points, with a point's margin for smoothing) of a picture made at scale.
Ink inkIn(const Image& image, double scale, Rect region) {
    Ink ink;
    long inked = 0;
    for (int py = 0; py < image.height(); ++py) {
        for (int px = 0; px < image.width(); ++px) {
            const std::uint8_t* p = image.pixel(px, py);
            double x = (px + 0.5) / scale, y = (py + 0.5) / scale;
            bool inside = region.insetBy(-1, -1).contains({x, y});
            if (!inside) {
                if (p[3] > 8) ink.outside = true;
                continue;
            }
            ink.alphaSum += p[3] / 255.0;
            if (p[3] > 128) {
                ++inked;
                ink.brightness += std::max({p[0], p[1], p[2]}) / 255.0;
            }
        }
    }
    ink.area = inked / (scale * scale);
    ink.brightness = inked ? ink.brightness / inked : 0;
    return ink;
}

Image drawn(Glyph glyph, double scale, ControlState state = ControlState::Normal) {
    Canvas canvas(int(40 * scale), int(40 * scale), scale);
    canvas.clear();
    ControlArt::drawGlyph(canvas, glyph, Rect(8, 8, 24, 24), state);
    return canvas.toImage();
}

TEST(ControlArt, EveryGlyphIsLightInkInItsSquareAtEveryScale) {
    for (Glyph glyph : ControlArt::kAllGlyphs) {
        SCOPED_TRACE(int(glyph));
        Ink base = inkIn(drawn(glyph, 1), 1, Rect(8, 8, 24, 24));
        EXPECT_FALSE(base.outside);
        EXPECT_GT(base.area, 0.05 * 24 * 24);
        EXPECT_LT(base.area, 0.85 * 24 * 24);
        EXPECT_GT(base.brightness, 0.75) << "light glyphs for a dark bar";
        // The same shape in points at every scale, drawn or rendered on its own.
        for (double scale : {2.0, 3.0}) {
            Image picture = ControlArt::renderGlyph(glyph, {24, 24}, scale);
            ASSERT_EQ(picture.width(), int(24 * scale));
            EXPECT_NEAR(inkIn(picture, scale, Rect(0, 0, 24, 24)).area, base.area, 0.15 * base.area)
                << scale;
        }
    }
}

TEST(ControlArt, GlyphsAndTheirStatesAreToldApart) {
    auto differingPixels = [](const Image& a, const Image& b) {
        int count = 0;
        for (size_t i = 3; i < a.pixels().size(); i += 4) {
            int d = 0;
            for (int c = -3; c <= 0; ++c)
                d = std::max(d, std::abs(int(a.pixels()[i + c]) - b.pixels()[i + c]));
            count += d > 64;
        }
        return count;
    };
    std::vector<Image> pictures;
    for (Glyph glyph : ControlArt::kAllGlyphs)
        pictures.push_back(drawn(glyph, 2));
    for (size_t i = 0; i < pictures.size(); ++i)
        for (size_t j = i + 1; j < pictures.size(); ++j)
            EXPECT_GT(differingPixels(pictures[i], pictures[j]), 40) << i << " and " << j;

    for (Glyph glyph : ControlArt::kAllGlyphs) {
        SCOPED_TRACE(int(glyph));
        double normal = inkIn(drawn(glyph, 2), 2, Rect(8, 8, 24, 24)).alphaSum;
        double disabled =
            inkIn(drawn(glyph, 2, ControlState::Disabled), 2, Rect(8, 8, 24, 24)).alphaSum;
        EXPECT_LT(disabled, 0.5 * normal);
        Image pressed = drawn(glyph, 2, ControlState::Pressed);
        EXPECT_GT(differingPixels(pressed, drawn(glyph, 2)), 40) << "a press shows";
    }
}

TEST(ControlArt, TheThumbnailCropsThePhotoToFillItsSquare) {
    // A wide photo with narrow red and blue edges: a filled square shows only its green middle.
    Image photo(640, 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            std::uint8_t* p = photo.pixel(x, y);
            p[0] = x < 80 ? 255 : 0, p[1] = x >= 80 && x < 560 ? 255 : 0, p[2] = x >= 560 ? 255 : 0;
            p[3] = 255;
        }
    auto thumbnail = [&](const Image* shown, ControlState state) {
        Canvas canvas(64, 64, 1);
        canvas.clear();
        ControlArt::drawThumbnail(canvas, Rect(8, 8, 48, 48), shown, state);
        return canvas.toImage();
    };
    Image full = thumbnail(&photo, ControlState::Normal);
    for (int x : {11, 32, 52})
        EXPECT_TRUE(quorbit::testing::near(full.pixel(x, 32), {0, 255, 0}, 60)) << x;
    EXPECT_EQ(full.pixel(8, 8)[3], 0) << "rounded corners";
    EXPECT_GT(full.pixel(8, 32)[0], 200) << "a light edge";

    Image pressed = thumbnail(&photo, ControlState::Pressed);
    EXPECT_LT(pressed.pixel(32, 32)[1], 180);
    const Image nothing;
    for (const Image* none : {static_cast<const Image*>(nullptr), &nothing}) {
        Image empty = thumbnail(none, ControlState::Normal);
        const std::uint8_t* p = empty.pixel(32, 40);
        EXPECT_TRUE(p[3] == 255 && p[1] < 120) << "a dark square, no photo";
    }
}

// How each glyph looks in each state is the control art's test; the button draws its glyph
// in the middle of its bounds, in the state it is in.
TEST(ControlButton, DrawsItsGlyphInTheMiddleInTheStateItIsIn) {
    ControlButton button(Glyph::Settings, Rect(0, 0, 60, 44), 24);
    EXPECT_EQ(button.glyphRect(), Rect(18, 10, 24, 24));
    auto picture = [](const std::function<void(Canvas&)>& draw) {
        Canvas canvas(120, 88, 2);
        canvas.clear();
        draw(canvas);
        return canvas.toImage().pixels();
    };
    // clang-format off
    const std::tuple<Glyph, bool, bool, ControlState> cases[] = {
        {Glyph::Settings, true, true, ControlState::Pressed},
        {Glyph::Settings, true, false, ControlState::Disabled},
        {Glyph::Filters, false, true, ControlState::Normal},
    };
    // clang-format on
    for (auto [glyph, highlighted, enabled, state] : cases) {
        SCOPED_TRACE(::testing::Message() << int(glyph) << " " << int(state));
        button.setGlyph(glyph);
        button.setHighlighted(highlighted);
        button.setEnabled(enabled);
        EXPECT_EQ(picture([&](Canvas& c) { button.draw(c); }), picture([&](Canvas& c) {
                      ControlArt::drawGlyph(c, glyph, Rect(18, 10, 24, 24), state);
                  }));
    }
}

}  // namespace
}  // namespace quorbit::camera_screen
