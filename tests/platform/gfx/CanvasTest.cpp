#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/core/Log.h"
#include "platform/gfx/Canvas.h"
#include "platform/ui/ImageView.h"
#include "support/LogCapture.h"

namespace quorbit::platform {
namespace {

// The straight RGBA of one pixel of a canvas.
std::array<int, 4> pixelAt(Canvas& canvas, int x, int y) {
    Image image = canvas.toImage();
    const auto* p = image.pixel(x, y);
    return {p[0], p[1], p[2], p[3]};
}

TEST(Canvas, FillsAreScaledFromPointsToPixels) {
    Canvas canvas(40, 20, 2);  // 20 x 10 points
    EXPECT_EQ(canvas.pixelWidth(), 40);
    EXPECT_GE(canvas.stride(), 40 * 4);
    canvas.fillRect(Rect(0, 0, 10, 10), Color{1, 0, 0, 1});
    EXPECT_EQ(pixelAt(canvas, 19, 19), (std::array<int, 4>{255, 0, 0, 255}));
    EXPECT_EQ(pixelAt(canvas, 21, 0), (std::array<int, 4>{0, 0, 0, 0}));
    // The raw bytes are premultiplied B, G, R, A.
    canvas.clear(Color{0, 0, 1, 0.5});
    const std::uint8_t* raw = canvas.data();
    EXPECT_NEAR(raw[0], 128, 1);
    EXPECT_EQ(raw[2], 0);
    EXPECT_NEAR(raw[3], 128, 1);
    EXPECT_EQ(pixelAt(canvas, 0, 0)[2], 255) << "toImage undoes the premultiplication";
}

TEST(Canvas, PathsArcsRoundedRectsAndClips) {
    Canvas canvas(100, 100);
    canvas.beginPath();
    canvas.addRoundedRect(Rect(0, 0, 100, 100), 20);
    canvas.fill(Color::white());
    EXPECT_EQ(pixelAt(canvas, 1, 1)[3], 0) << "corner cut away";
    EXPECT_EQ(pixelAt(canvas, 50, 1)[3], 255);

    // A quarter pie from twelve to three o'clock, as a progress dial draws it.
    canvas.clear();
    canvas.beginPath();
    canvas.moveTo({50, 50});
    canvas.arc({50, 50}, 40, -M_PI / 2, 0.25 * 2 * M_PI - M_PI / 2);
    canvas.closePath();
    canvas.fill(Color::white());
    EXPECT_EQ(pixelAt(canvas, 70, 30)[3], 255);  // upper right
    EXPECT_EQ(pixelAt(canvas, 30, 30)[3], 0);    // upper left
    EXPECT_EQ(pixelAt(canvas, 70, 70)[3], 0);    // lower right

    canvas.clear();
    canvas.save();
    canvas.clipToRect(Rect(0, 0, 50, 100));
    canvas.fillRect(Rect(0, 0, 100, 100), Color{0, 1, 0, 1});
    canvas.restore();
    EXPECT_EQ(pixelAt(canvas, 49, 50)[1], 255);
    EXPECT_EQ(pixelAt(canvas, 51, 50)[3], 0);

    canvas.clear();
    canvas.setLineWidth(4);
    canvas.strokeRect(Rect(10, 10, 80, 80), Color::black());
    EXPECT_EQ(pixelAt(canvas, 10, 50)[3], 255);
    EXPECT_EQ(pixelAt(canvas, 50, 50)[3], 0);
}

TEST(Canvas, TextIsMeasuredAndDrawn) {
    Canvas canvas(200, 40);
    Size one = canvas.measureText("Login", Font::system(16));
    Size two = canvas.measureText("Login Login", Font::system(16));
    Size bold = canvas.measureText("Login", Font::boldSystem(16));
    Size big = canvas.measureText("Login", Font::system(32));
    EXPECT_GT(one.width, 10);
    EXPECT_GT(two.width, 2 * one.width);
    EXPECT_GT(bold.width, one.width);
    EXPECT_NEAR(big.width, 2 * one.width, 2);
    EXPECT_EQ(canvas.measureText("", Font::system(16)), (Size{0, 0}));
    // Wrapped into a narrow column, the text takes more lines.
    Size wrapped = canvas.measureText("one two three four five six", Font::system(16), 60);
    EXPECT_GT(wrapped.height, 2 * one.height);

    canvas.drawText("Login", Point{0, 0}, Font::system(16), Color::black());
    int inked = 0;
    Image image = canvas.toImage();
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 200; ++x)
            inked += image.pixel(x, y)[3] > 128;
    }
    EXPECT_GT(inked, 30);
    for (int y = 0; y < 40; ++y)
        EXPECT_EQ(image.pixel(150, y)[3], 0) << "past the word";
}

// Labels are sized with a measuring canvas of scale 1 and drawn at the screen's scale: a
// text must take the same width at both, or it is cut short with an ellipsis.
TEST(Canvas, TextTakesTheSameWidthAtEveryScale) {
    Canvas one(1, 1, 1);
    for (double scale : {2.0, 3.0}) {
        Canvas scaled(1, 1, scale);
        for (const char* text : {"Uploading Photo", "Complete", "1 of 3 photos sent"}) {
            for (const Font& font : {Font::system(17), Font::boldSystem(16)}) {
                EXPECT_EQ(scaled.measureText(text, font), one.measureText(text, font))
                    << text << " at scale " << scale;
            }
        }
    }
}

TEST(Canvas, MissingFontFallsBackWithOneLogLine) {
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
}

TEST(Canvas, ImagesAreScaledIntoTheirRectangle) {
    Image image(2, 1);
    image.pixel(0, 0)[0] = 255, image.pixel(0, 0)[3] = 255;  // red
    image.pixel(1, 0)[2] = 255, image.pixel(1, 0)[3] = 255;  // blue
    Canvas canvas(40, 20);
    canvas.drawImage(image, Rect(0, 0, 40, 20));
    EXPECT_EQ(pixelAt(canvas, 2, 10), (std::array<int, 4>{255, 0, 0, 255}));
    EXPECT_EQ(pixelAt(canvas, 37, 10), (std::array<int, 4>{0, 0, 255, 255}));
    canvas.clear();
    canvas.drawImage(image, Rect(0, 0, 40, 20), 0.5);
    EXPECT_NEAR(pixelAt(canvas, 2, 10)[3], 128, 1);
    // A malformed image draws nothing.
    canvas.clear();
    canvas.drawImage(Image(4, 4, {1, 2, 3}), Rect(0, 0, 40, 20));
    EXPECT_EQ(pixelAt(canvas, 2, 10)[3], 0);
}

TEST(ImageResources, MissingImageLogsOnceAndDrawsNothing) {
    testing::LogCapture capture;
    auto& lines = capture.lines();
    EXPECT_EQ(imageNamed("FBDialog.bundle/images/no-such-image.png"), nullptr);
    EXPECT_EQ(imageNamed("FBDialog.bundle/images/no-such-image.png"), nullptr);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("no-such-image"), std::string::npos);

    auto view = std::make_shared<ImageView>(Rect(0, 0, 20, 20));
    view->setImage(imageNamed("FBDialog.bundle/images/no-such-image.png"));
    Canvas canvas(20, 20);
    view->draw(canvas);
    EXPECT_EQ(pixelAt(canvas, 10, 10)[3], 0);
}

}  // namespace
}  // namespace quorbit::platform
