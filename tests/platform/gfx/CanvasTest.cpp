#include <gtest/gtest.h>

#include "platform/gfx/Canvas.h"
#include "platform/ui/ImageView.h"
#include "support/LogCapture.h"

namespace quorbit::platform {
namespace {

using Rgba = std::array<int, 4>;

// The straight RGBA of one pixel of a canvas.
Rgba pixelAt(Canvas& canvas, int x, int y) {
    Image image = canvas.toImage();
    const auto* p = image.pixel(x, y);
    return {p[0], p[1], p[2], p[3]};
}

// Pixels are kept premultiplied and read back straight. (Drawing at a scale shows in the
// compositor's pictures.)
TEST(Canvas, PremultipliedPixelsPathsArcsRoundedRectsClipsAndImages) {
    Canvas canvas(100, 100);
    canvas.clear(Color{0, 0, 1, 0.5});
    const std::uint8_t* raw = canvas.data();  // B, G, R, A
    EXPECT_NEAR(raw[0], 128, 1);
    EXPECT_EQ(raw[2], 0);
    EXPECT_NEAR(raw[3], 128, 1);
    EXPECT_EQ(pixelAt(canvas, 0, 0)[2], 255) << "toImage undoes the premultiplication";
    // What is drawn on a clear canvas, and channels of pixels it must (not) have painted. The pie
    // is a quarter from twelve to three o'clock, as a progress dial draws it; an image is scaled
    // into its rectangle, at the alpha asked; a malformed one draws nothing.
    Image image(2, 1, {255, 0, 0, 255, 0, 0, 255, 255});  // red, blue
    constexpr int R = 0, G = 1, B = 2, A = 3;
    // clang-format off
    struct Probe { int x, y, channel, value, slack = 0; };
    struct Case { const char* what; std::function<void(Canvas&)> draw; std::vector<Probe> probes; };
    const Case cases[] = {
        {"rounded rect", [](Canvas& c) { c.beginPath(); c.addRoundedRect(Rect(0, 0, 100, 100), 20); c.fill(Color::white()); },
         {{1, 1, A, 0} /* corner cut away */, {50, 1, A, 255}}},
        {"pie", [](Canvas& c) { c.beginPath(); c.moveTo({50, 50}); c.arc({50, 50}, 40, -M_PI / 2, 0.25 * 2 * M_PI - M_PI / 2); c.closePath(); c.fill(Color::white()); },
         {{70, 30, A, 255} /* upper right */, {30, 30, A, 0} /* upper left */, {70, 70, A, 0} /* lower right */}},
        {"clip", [](Canvas& c) { c.save(); c.clipToRect(Rect(0, 0, 50, 100)); c.fillRect(Rect(0, 0, 100, 100), Color{0, 1, 0, 1}); c.restore(); },
         {{49, 50, G, 255}, {51, 50, A, 0}}},
        {"stroke", [](Canvas& c) { c.setLineWidth(4); c.strokeRect(Rect(10, 10, 80, 80), Color::black()); }, {{10, 50, A, 255}, {50, 50, A, 0}}},
        {"image", [&](Canvas& c) { c.drawImage(image, Rect(0, 0, 40, 20)); },
         {{2, 10, R, 255}, {2, 10, G, 0}, {2, 10, B, 0}, {2, 10, A, 255}, {37, 10, R, 0}, {37, 10, G, 0}, {37, 10, B, 255}, {37, 10, A, 255}}},
        {"image at half alpha", [&](Canvas& c) { c.drawImage(image, Rect(0, 0, 40, 20), 0.5); }, {{2, 10, A, 128, 1}}},
        {"malformed image", [](Canvas& c) { c.drawImage(Image(4, 4, {1, 2, 3}), Rect(0, 0, 40, 20)); }, {{2, 10, A, 0}}},
    };
    // clang-format on
    for (const auto& c : cases) {
        canvas.clear();
        c.draw(canvas);
        for (const Probe& p : c.probes)
            EXPECT_NEAR(pixelAt(canvas, p.x, p.y)[p.channel], p.value, p.slack)
                << c.what << " at " << p.x << "," << p.y << ", channel " << p.channel;
    }
}

TEST(Canvas, TextIsMeasuredAndDrawnInItsReadingOrder) {
    Canvas canvas(200, 40);
    Size one = canvas.measureText("Login", Font::system(16));
    EXPECT_GT(one.width, 10);
    EXPECT_GT(canvas.measureText("Login Login", Font::system(16)).width, 2 * one.width);
    EXPECT_GT(canvas.measureText("Login", Font::boldSystem(16)).width, one.width);
    EXPECT_NEAR(canvas.measureText("Login", Font::system(32)).width, 2 * one.width, 2);
    EXPECT_EQ(canvas.measureText("", Font::system(16)), (Size{0, 0}));
    // Wrapped into a narrow column, the text takes more lines.
    Size wrapped = canvas.measureText("one two three four five six", Font::system(16), 60);
    EXPECT_GT(wrapped.height, 2 * one.height);
    canvas.drawText("Login", Point{0, 0}, Font::system(16), Color::black());
    int inked = 0, past = 0;
    Image image = canvas.toImage();
    for (int y = 0; y < 40; ++y) {
        past += image.pixel(150, y)[3];
        for (int x = 0; x < 200; ++x)
            inked += image.pixel(x, y)[3] > 128;
    }
    EXPECT_GT(inked, 30);
    EXPECT_EQ(past, 0) << "nothing past the word";
    // Labels are sized with a measuring canvas of scale 1 and drawn at the screen's scale: a
    // text must take the same width at both, or it is cut short with an ellipsis.
    Canvas measuring(1, 1, 1);
    for (double scale : {2.0, 3.0}) {
        Canvas scaled(1, 1, scale);
        for (const char* text : {"Uploading Photo", "Complete", "1 of 3 photos sent"})
            for (const Font& font : {Font::system(17), Font::boldSystem(16)})
                EXPECT_EQ(scaled.measureText(text, font), measuring.measureText(text, font))
                    << text << " at scale " << scale;
    }
    // Right-to-left text is laid out in its reading order: Hebrew alef then bet shows the bet
    // on the left and the alef on the right, as the two letters drawn one by one in that order.
    const std::string alef = "\u05D0", bet = "\u05D1";
    const Font font = Font::system(40);
    double alefWidth = measuring.measureText(alef, font).width,
           betWidth = measuring.measureText(bet, font).width;
    ASSERT_GT(alefWidth, 5) << "no Hebrew glyphs in the font";
    auto picture = [&](const std::vector<std::pair<std::string, double>>& pieces) {
        Canvas canvas(200, 80);
        canvas.clear(Color::white());
        for (const auto& [text, x] : pieces)
            canvas.drawText(text, Point{10 + x, 10}, font, Color::black());
        return canvas.toImage();
    };
    Image word = picture({{alef + bet, 0}});
    Image readingOrder = picture({{bet, 0}, {alef, betWidth}});
    Image writingOrder = picture({{alef, 0}, {bet, alefWidth}});
    auto difference = [&](const Image& a, const Image& b) {
        long sum = 0;
        for (std::size_t i = 0; i < a.pixels().size(); ++i)
            sum += std::abs(int(a.pixels()[i]) - int(b.pixels()[i]));
        return sum;
    };
    EXPECT_LT(difference(word, readingOrder) * 5, difference(word, writingOrder));
}

// A missing font falls back and a missing image draws nothing, each with one log line.
TEST(Canvas, MissingFontsAndImagesAreLoggedOnce) {
    testing::LogCapture capture;
    auto& lines = capture.lines();
    Canvas canvas(100, 30);
    Font missing{"No Such Family 1234", 14, false};
    EXPECT_FALSE(Canvas::hasFontFamily(missing.family));
    EXPECT_TRUE(Canvas::hasFontFamily("DejaVu Sans"));
    EXPECT_GT(canvas.measureText("abc", missing).width, 0);
    canvas.drawText("abc", Point{0, 0}, missing, Color::black());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("No Such Family 1234"), std::string::npos);
    const char* name = "FBDialog.bundle/images/no-such-image.png";
    EXPECT_EQ(imageNamed(name), nullptr);
    auto view = std::make_shared<ImageView>(Rect(0, 0, 20, 20));
    view->setImage(imageNamed(name));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("no-such-image"), std::string::npos);
    canvas.clear();
    view->draw(canvas);
    EXPECT_EQ(pixelAt(canvas, 10, 10)[3], 0);
}

}  // namespace
}  // namespace quorbit::platform
