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

std::shared_ptr<const Image> solid(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    std::vector<std::uint8_t> rgba;
    for (int i = 0; i < 16; ++i)
        rgba.insert(rgba.end(), {r, g, b, 255});
    return std::make_shared<Image>(4, 4, std::move(rgba));
}

TEST(Button, ContentPerStateFallsBackToNormalAndHighlightDarkensAndGlows) {
    auto button = Button::create(Button::Type::Custom, Rect(0, 0, 40, 40));
    auto normal = solid(0, 0, 200), pressed = solid(0, 255, 0);
    const Color blue{0.65, 0.72, 0.85, 1};
    button->setImage(normal);
    button->setImage(pressed, Button::Highlighted);
    button->setTitle("Close");
    button->setTitleColor(blue);
    button->setTitleColor(Color::white(), Button::Highlighted);
    struct Case {
        bool highlighted, selected, enabled;
        std::shared_ptr<const Image> image;
        Color titleColor;
    };
    // clang-format off
    const Case cases[] = {
        {false, false, true, normal, blue},
        {true, false, true, pressed, Color::white()},
        {false, true, true, normal, blue},
        {true, true, true, pressed, Color::white()},
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
    Canvas up(40, 40), down(40, 40), glowing(40, 40);
    plain->draw(up);
    plain->setHighlighted(true);
    plain->draw(down);
    plain->setShowsTouchWhenHighlighted(true);
    plain->draw(glowing);
    Image a = up.toImage(), b = down.toImage(), c = glowing.toImage();
    EXPECT_EQ(a.pixel(20, 20)[2], 200);
    EXPECT_LT(b.pixel(20, 20)[2], 200) << "darkened while pressed";
    EXPECT_GT(c.pixel(20, 20)[0], b.pixel(20, 20)[0]) << "white glow in the middle";
    EXPECT_EQ(c.pixel(0, 0)[0], b.pixel(0, 0)[0]) << "but not in the corners";
}

// A one-line label with a minimum scale shrinks text that is too wide, no further than that
// share of its font; text too wide even then takes two lines where the label is tall enough;
// text that fits stays as it is.
TEST(Label, ShrinksTooWideTextDownToItsMinimumScale) {
    Label label(Rect(0, 0, 120, 40));
    label.setFont(Font::boldSystem(20));
    auto widthAt = [&](const Font& font) {
        return Canvas(1, 1).measureText(label.text(), font).width;
    };
    struct Case {
        const char* text;
        double minimum;
        double low, high;  // the fitted size
        int lines;
    };
    const Case cases[] = {
        {"Short", 0.6, 20, 20, 1},
        {"Photo size: Full (3000 x 4000)", 1, 20, 20, 1},
        {"Photo size: Full (3000 x 4000)", 0.6, 12, 14, 2},  // too wide at 12: two lines
        {"Photo size: Full", 0.6, 12, 19.5, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        label.setText(c.text);
        label.setMinimumScaleFactor(c.minimum);
        auto [fitted, lines] = label.fitted();
        EXPECT_GE(fitted.size, c.low);
        EXPECT_LE(fitted.size, c.high);
        EXPECT_EQ(lines, c.lines);
        // Whatever the size chosen, the text fits: across on one line, down on two.
        double across = widthAt(fitted),
               down = Canvas(1, 1).measureText(c.text, fitted, 120).height;
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
