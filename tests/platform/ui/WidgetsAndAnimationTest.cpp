#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/gfx/Canvas.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/PageControl.h"
#include "platform/ui/ProgressView.h"
#include "platform/ui/View.h"

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

TEST(Animation, PropertiesEndExactlyOnTheirNewValues) {
    const AffineTransform turned =
        AffineTransform::rotation(0.5).concat(AffineTransform::scale(2, 2));
    // clang-format off
    struct Case { const char* name; std::function<void(View&)> change; std::function<bool(const View&)> atEnd; };
    const Case cases[] = {
        {"alpha", [](View& v) { v.setAlpha(0.02); }, [](const View& v) { return v.alpha() == 0.02; }},
        {"transform", [&](View& v) { v.setTransform(turned); }, [&](const View& v) { return v.transform() == turned; }},
        {"frame", [](View& v) { v.setFrame(Rect(100, 200, 30, 40)); }, [](const View& v) { return v.frame() == Rect(100, 200, 30, 40); }},
        {"centre", [](View& v) { v.setCenter({160, 240}); }, [](const View& v) { return v.frame() == Rect(110, 190, 100, 100); }},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto view = std::make_shared<View>(Rect(0, 0, 100, 100));
        std::vector<bool> completions;
        Animation::animate(
            0.2, [&] { c.change(*view); }, [&](bool finished) { completions.push_back(finished); });
        EXPECT_FALSE(c.atEnd(*view)) << "starts from the old value";
        EXPECT_TRUE(Animation::isAnimating(view.get()));
        RunLoop::main().runFor(100ms);
        EXPECT_FALSE(c.atEnd(*view)) << "moving half way";
        ASSERT_TRUE(runUntil([&] { return !completions.empty(); }));
        EXPECT_TRUE(c.atEnd(*view));
        EXPECT_EQ(completions, std::vector<bool>{true});
        EXPECT_FALSE(Animation::isAnimating(view.get()));
    }
    EXPECT_EQ(Animation::runningCount(), 0);
}

// A new animation of a view cuts the running one short (it reports unfinished) and goes on
// from where the view was; one started from a completion runs after it. Then the edge cases:
// no duration, nothing to animate, a view that dies, finishAll.
TEST(Animation, ANewAnimationTakesOverACompletionMayChainTheNextAndEdgeCasesEnd) {
    auto view = std::make_shared<View>(Rect(0, 0, 100, 100));
    Calls done;
    Animation::animate(
        0.3, [&] { view->setAlpha(0); },
        [&](bool f) { done.push_back(f ? "fade finished" : "fade cut"); });
    RunLoop::main().runFor(100ms);
    double midway = view->alpha();
    EXPECT_TRUE(midway > 0 && midway < 1) << midway;
    Animation::animate(
        0.1,
        [&] {
            view->setTransform(AffineTransform::scale(1.1, 1.1));
            view->setAlpha(1);
        },
        [&](bool f) {
            done.push_back((f ? "grown " : "cut ") + std::to_string(view->transform().a));
            Animation::animate(
                0.05, [&] { view->setTransform(AffineTransform::identity()); },
                [&](bool g) { done.push_back(g ? "settled" : "cut"); });
        });
    EXPECT_EQ(done, Calls{"fade cut"});
    EXPECT_DOUBLE_EQ(view->alpha(), midway) << "continues from where it was";
    ASSERT_TRUE(runUntil([&] { return done.size() == 3; }));
    EXPECT_EQ(done, (Calls{"fade cut", "grown 1.100000", "settled"}));
    EXPECT_DOUBLE_EQ(view->alpha(), 1);
    EXPECT_TRUE(view->transform().isIdentity());
    // No duration: applied and completed before animate returns.
    bool completed = false;
    Animation::animate(
        0, [&] { view->setAlpha(0.5); }, [&](bool f) { completed = f; });
    EXPECT_TRUE(completed);
    EXPECT_DOUBLE_EQ(view->alpha(), 0.5);
    // Nothing animatable changed: the completion still comes, later.
    completed = false;
    Animation::animate(
        0.05, [] {}, [&](bool f) { completed = f; });
    EXPECT_FALSE(completed);
    ASSERT_TRUE(runUntil([&] { return completed; }));
    // A view that dies mid-animation ends its animation without touching freed memory.
    completed = false;
    Animation::animate(
        0.1, [&] { view->setFrame(Rect(5, 5, 5, 5)); }, [&](bool) { completed = true; });
    view.reset();
    ASSERT_TRUE(runUntil([&] { return completed; }));
    EXPECT_EQ(Animation::runningCount(), 0);
    // finishAll jumps to the end.
    auto other = std::make_shared<View>(Rect(0, 0, 100, 100));
    bool finished = true;
    Animation::animate(
        5, [&] { other->setAlpha(0); }, [&](bool f) { finished = f; });
    Animation::finishAll(other.get());
    EXPECT_FALSE(finished);
    EXPECT_DOUBLE_EQ(other->alpha(), 0);
    EXPECT_EQ(Animation::runningCount(), 0);
}

}  // namespace
}  // namespace quorbit::platform
