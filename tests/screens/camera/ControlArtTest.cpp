#include <gtest/gtest.h>

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

// What a drawing put in region (in points, with a point's margin for smoothing) of a picture
// made at scale: ink is any pixel with more than half alpha.
struct Ink {
    double area = 0;        // inked, in square points
    double alphaSum = 0;    // summed alpha of the region's pixels, 0..1 each
    double brightness = 0;  // mean of the brightest channel over the inked pixels
    bool outside = false;   // more than a trace of alpha outside the region
    Ink(const Image& image, double scale, Rect region) {
        long inked = 0;
        for (int py = 0; py < image.height(); ++py)
            for (int px = 0; px < image.width(); ++px) {
                const std::uint8_t* p = image.pixel(px, py);
                if (!region.insetBy(-1, -1).contains({(px + 0.5) / scale, (py + 0.5) / scale})) {
                    outside = outside || p[3] > 8;
                } else if (alphaSum += p[3] / 255.0; p[3] > 128) {
                    ++inked;
                    brightness += std::max({p[0], p[1], p[2]}) / 255.0;
                }
            }
        area = inked / (scale * scale);
        brightness = inked ? brightness / inked : 0;
    }
};

Image drawn(Glyph glyph, double scale, ControlState state = ControlState::Normal) {
    Canvas canvas(int(40 * scale), int(40 * scale), scale);
    canvas.clear();
    ControlArt::drawGlyph(canvas, glyph, Rect(8, 8, 24, 24), state);
    return canvas.toImage();
}

// How many pixels differ by more than a quarter in some channel.
int differingPixels(const Image& a, const Image& b) {
    int count = 0;
    for (size_t i = 0; i < a.pixels().size(); i += 4) {
        int d = 0;
        for (size_t c = 0; c < 4; ++c)
            d = std::max(d, std::abs(int(a.pixels()[i + c]) - b.pixels()[i + c]));
        count += d > 64;
    }
    return count;
}

TEST(ControlArt, EveryGlyphIsLightInkInItsSquareAtEveryScaleAndEachStateShows) {
    const Rect square(8, 8, 24, 24);
    std::vector<Image> pictures;
    for (Glyph glyph : ControlArt::kAllGlyphs) {
        SCOPED_TRACE(int(glyph));
        Ink base(drawn(glyph, 1), 1, square);
        EXPECT_FALSE(base.outside);
        EXPECT_GT(base.area, 0.05 * 24 * 24);
        EXPECT_LT(base.area, 0.85 * 24 * 24);
        EXPECT_GT(base.brightness, 0.75) << "light glyphs for a dark bar";
        // The same shape in points at every scale, drawn or rendered on its own.
        for (double scale : {2.0, 3.0}) {
            Image picture = ControlArt::renderGlyph(glyph, {24, 24}, scale);
            ASSERT_EQ(picture.width(), int(24 * scale));
            EXPECT_NEAR(Ink(picture, scale, Rect(0, 0, 24, 24)).area, base.area, 0.15 * base.area);
        }
        pictures.push_back(drawn(glyph, 2));
        double disabled = Ink(drawn(glyph, 2, ControlState::Disabled), 2, square).alphaSum;
        EXPECT_LT(disabled, 0.5 * Ink(pictures.back(), 2, square).alphaSum);
        EXPECT_GT(differingPixels(drawn(glyph, 2, ControlState::Pressed), pictures.back()), 40);
    }
    for (size_t i = 0; i < pictures.size(); ++i)
        for (size_t j = i + 1; j < pictures.size(); ++j)
            EXPECT_GT(differingPixels(pictures[i], pictures[j]), 40) << i << " and " << j;
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
    EXPECT_LT(thumbnail(&photo, ControlState::Pressed).pixel(32, 32)[1], 180);
    const Image nothing;
    for (const Image* none : {static_cast<const Image*>(nullptr), &nothing}) {
        Image empty = thumbnail(none, ControlState::Normal);
        EXPECT_TRUE(empty.pixel(32, 40)[3] == 255 && empty.pixel(32, 40)[1] < 120) << "no photo";
    }
}

TEST(ControlButton, DrawsItsGlyphInTheMiddleInTheStateItIsIn) {
    ControlButton button(Glyph::Settings, Rect(0, 0, 60, 44), 24);
    EXPECT_EQ(button.glyphRect(), Rect(18, 10, 24, 24));
    const std::tuple<Glyph, bool, bool, ControlState> cases[] = {
        {Glyph::Settings, true, true, ControlState::Pressed},
        {Glyph::Settings, true, false, ControlState::Disabled},
        {Glyph::Filters, false, true, ControlState::Normal}};
    for (auto [glyph, highlighted, enabled, state] : cases) {
        button.setGlyph(glyph);
        button.setHighlighted(highlighted);
        button.setEnabled(enabled);
        Canvas byButton(120, 88, 2), byArt(120, 88, 2);
        byButton.clear();
        byArt.clear();
        button.draw(byButton);
        ControlArt::drawGlyph(byArt, glyph, Rect(18, 10, 24, 24), state);
        EXPECT_EQ(byButton.toImage().pixels(), byArt.toImage().pixels()) << int(state);
    }
}

}  // namespace
}  // namespace quorbit::camera_screen
