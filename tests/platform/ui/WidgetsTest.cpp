#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/gfx/Canvas.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/PageControl.h"
#include "platform/ui/ProgressView.h"

namespace quorbit::platform {
namespace {

using namespace quorbit::testing;

TEST(Button, ContentPerStateFallsBackToNormalAndHighlightDarkensAndGlows) {
    auto solid = [](std::uint8_t b, std::uint8_t g) {
        std::vector<std::uint8_t> rgba;
        for (int i = 0; i < 16; ++i)
            rgba.insert(rgba.end(), {0, g, b, 255});
        return std::make_shared<const Image>(4, 4, std::move(rgba));
    };
    auto normal = solid(200, 0), pressed = solid(0, 255);
    const Color blue{0.65, 0.72, 0.85, 1}, white = Color::white();
    auto button = Button::create(Button::Type::Custom, Rect(0, 0, 40, 40));
    button->setImage(normal);
    button->setImage(pressed, Button::Highlighted);
    button->setTitle("Close");
    button->setTitleColor(blue);
    button->setTitleColor(white, Button::Highlighted);
    // clang-format off
    struct Case { bool highlighted, selected, enabled; std::shared_ptr<const Image> image; Color titleColor; };
    const Case cases[] = {
        {false, false, true, normal, blue}, {true, false, true, pressed, white},
        {false, true, true, normal, blue},  {true, true, true, pressed, white},
        {false, false, false, normal, blue},
    };
    // clang-format on
    for (const auto& c : cases) {
        button->setEnabled(c.enabled);
        button->setHighlighted(c.highlighted);
        button->setSelected(c.selected);
        EXPECT_EQ(button->currentImage(), c.image);
        EXPECT_EQ(button->titleColorForState(button->state()), c.titleColor);
    }

    auto plain = Button::create(Button::Type::Custom, Rect(0, 0, 40, 40));
    plain->setImage(normal);
    auto drawn = [&] {
        Canvas canvas(40, 40);
        plain->draw(canvas);
        return canvas.toImage();
    };
    Image up = drawn();
    plain->setHighlighted(true);
    Image down = drawn();
    plain->setShowsTouchWhenHighlighted(true);
    Image glowing = drawn();
    EXPECT_EQ(up.pixel(20, 20)[2], 200);
    EXPECT_LT(down.pixel(20, 20)[2], 200) << "darkened while pressed";
    EXPECT_GT(glowing.pixel(20, 20)[0], down.pixel(20, 20)[0]) << "white glow in the middle";
    EXPECT_EQ(glowing.pixel(0, 0)[0], down.pixel(0, 0)[0]) << "but not in the corners";
}

// A one-line label with a minimum scale shrinks text that is too wide, no further than that
// share of its font; text too wide even then takes two lines where the label is tall enough;
// text that fits stays as it is.
TEST(Label, ShrinksTooWideTextDownToItsMinimumScale) {
    Label label(Rect(0, 0, 120, 40));
    label.setFont(Font::boldSystem(20));
    // clang-format off
    struct Case { const char* text; double minimum, low, high /* the fitted size */; int lines; };
    const Case cases[] = {
        {"Short", 0.6, 20, 20, 1},
        {"Photo size: Full (3000 x 4000)", 1, 20, 20, 1},
        {"Photo size: Full (3000 x 4000)", 0.6, 12, 14, 2},  // too wide at 12: two lines
        {"Photo size: Full", 0.6, 12, 19.5, 1},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        label.setText(c.text);
        label.setMinimumScaleFactor(c.minimum);
        auto [fitted, lines] = label.fitted();
        EXPECT_TRUE(fitted.size >= c.low && fitted.size <= c.high) << fitted.size;
        EXPECT_EQ(lines, c.lines);
        // Whatever the size chosen, the text fits: across on one line, down on two.
        Canvas measure(1, 1);
        double across = measure.measureText(c.text, fitted).width,
               down = measure.measureText(c.text, fitted, 120).height;
        EXPECT_TRUE(lines == 2 ? down <= 40 : c.low == c.high || across <= 120);
    }
}

TEST(PageControl, TapsStepOnePageAndPagesStayInRange) {
    auto page = std::make_shared<PageControl>(Rect(0, 0, 320, 36));
    int changes = 0;
    page->setValueChangedAction([&](PageControl&) { ++changes; });
    page->setNumberOfPages(4);
    page->setCurrentPage(9);
    EXPECT_EQ(page->currentPage(), 3);
    page->setCurrentPage(-2);
    EXPECT_EQ(page->currentPage(), 0);
    auto window = makeWindow();
    window->addSubview(page);
    tap({300, 18});
    tap({300, 18});
    EXPECT_EQ(page->currentPage(), 2);
    tap({10, 18});
    EXPECT_EQ(page->currentPage(), 1);
    EXPECT_EQ(changes, 3);
    page->setNumberOfPages(1);
    EXPECT_EQ(page->currentPage(), 0);
    tap({10, 18});
    EXPECT_EQ(changes, 3);
}

TEST(ActivityIndicator, TurnsOnlyWhileAnimatingOnScreen) {
    auto spinner = std::make_shared<ActivityIndicator>(ActivityIndicator::Style::WhiteLarge);
    auto window = makeWindow();
    // Whether the spinner turns over a quarter second.
    auto turns = [&] {
        int start = spinner->phase();
        RunLoop::main().runFor(250ms);
        return spinner->phase() != start;
    };
    EXPECT_TRUE(spinner->isHidden());
    spinner->startAnimating();
    EXPECT_FALSE(spinner->isHidden());
    EXPECT_FALSE(turns()) << "off screen it does not turn";
    window->addSubview(spinner);
    EXPECT_TRUE(turns());
    spinner->removeFromSuperview();
    EXPECT_FALSE(turns()) << "taken off screen it stops";
    window->addSubview(spinner);
    spinner->stopAnimating();
    EXPECT_TRUE(spinner->isHidden());
    EXPECT_FALSE(turns());
}

TEST(ProgressView, ValueIsClampedAndRedrawnWhenItChanges) {
    ProgressView bar(Rect(0, 0, 100, 9));
    for (auto [in, out] : {std::pair{0.5, 0.5}, {-1.0, 0.0}, {7.0, 1.0}, {NAN, 0.0}}) {
        bar.setProgress(in);
        EXPECT_DOUBLE_EQ(bar.progress(), out);
    }
    bar.clearNeedsDisplay();
    bar.setProgress(0.25);
    EXPECT_TRUE(bar.needsDisplay()) << "a new value is drawn again";
}

}  // namespace
}  // namespace quorbit::platform
