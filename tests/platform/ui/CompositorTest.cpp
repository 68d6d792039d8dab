#include <gtest/gtest.h>

#include "platform/gfx/Canvas.h"
#include "platform/gl/GLTextureTarget.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/View.h"
#include "support/GlTestContext.h"
#include "support/Pixels.h"

namespace quorbit::platform {
namespace {

using testing::Rgb;

// A compositor with a context of its own drawing into a 40 x 40 texture.
class CompositorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::sharedGlContext();
        auto made = Compositor::create(GLContext::create().value());
        ASSERT_TRUE(made) << made.error().localizedDescription();
        compositor = std::move(made.value());
        target = std::make_unique<GLTextureTarget>(compositor->context(), 40, 40);
    }
    Image frame(const std::vector<View*>& roots) {
        compositor->draw(roots, 40, 40, target->framebuffer());
        return Compositor::readPixels(40, 40);
    }
    std::unique_ptr<Compositor> compositor;
    std::unique_ptr<GLTextureTarget> target;
};

// Whether the pixel at (x, y) is `want`, give or take what blending rounds.
bool at(const Image& image, int x, int y, Rgb want) {
    return testing::near(image.pixel(x, y), want, 3);
}

// A view of one colour (or none), added to parent where there is one.
std::shared_ptr<View> box(Rect frame, std::optional<Color> color,
                          const std::shared_ptr<View>& parent = nullptr) {
    auto view = std::make_shared<View>(frame);
    view->setBackgroundColor(color);
    if (parent) parent->addSubview(view);
    return view;
}

TEST_F(CompositorTest, BackgroundsAlphaHiddenClippingAndTransforms) {
    const Color blue{0, 0, 1, 1};
    auto root = box(Rect(0, 0, 40, 40), Color{0, 0, 0, 1});
    box(Rect(0, 0, 10, 10), Color{1, 0, 0, 1}, root);
    // White at half alpha inside a parent at half alpha: a quarter of white over black.
    auto half = box(Rect(10, 0, 10, 10), std::nullopt, root);
    half->setAlpha(0.5);
    box(Rect(0, 0, 10, 10), Color::white(), half)->setAlpha(0.5);
    // A colour with its own alpha: half green over the black root.
    box(Rect(20, 0, 10, 10), Color{0, 1, 0, 0.5}, root);
    // Hidden views draw nothing, children included.
    auto hidden = box(Rect(30, 0, 10, 10), Color{1, 1, 0, 1}, root);
    box(Rect(0, 0, 5, 5), Color{1, 0, 1, 1}, hidden);
    hidden->setHidden(true);
    // A clipping parent cuts its child at its bounds; a non-clipping one does not.
    auto clipper = box(Rect(0, 20, 10, 10), blue, root);
    clipper->setClipsToBounds(true);
    box(Rect(5, 0, 20, 10), Color::white(), clipper);
    box(Rect(5, 0, 20, 10), Color::white(), box(Rect(0, 30, 10, 10), blue, root));
    // A 2x scale about the centre of a 4x4 view at (28, 28) covers 26..34.
    box(Rect(28, 28, 4, 4), Color{0, 1, 1, 1}, root)->setTransform(AffineTransform::scale(2, 2));
    auto caller = testing::sharedGlContext();
    Image image = frame({root.get()});
    // Drawing leaves the compositor's context current until it is asked to restore the caller's.
    EXPECT_EQ(GLContext::current(), compositor->context().get());
    compositor->restoreContext();
    EXPECT_EQ(GLContext::current(), caller.get());
    // clang-format off
    struct Case { const char* what; int x, y; Rgb want; };
    const Case cases[] = {
        {"red square", 5, 5, {255, 0, 0}},
        {"nested halves of white", 15, 5, {64, 64, 64}},
        {"half-transparent green", 25, 5, {0, 128, 0}},
        {"hidden view", 35, 5, {0, 0, 0}},
        {"hidden child", 32, 2, {0, 0, 0}},
        {"clipped child inside", 7, 25, {255, 255, 255}},
        {"clipped child outside", 15, 25, {0, 0, 0}},
        {"unclipped child outside", 15, 35, {255, 255, 255}},
        {"scaled view, beyond its frame", 26, 26, {0, 255, 255}},
        {"scaled view, just outside", 24, 24, {0, 0, 0}},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_TRUE(at(image, c.x, c.y, c.want)) << c.what;
}

// A view that paints its left half with a colour and counts how often it is drawn.
class Painter : public View {
  public:
    using View::View;
    bool draws() const override { return true; }
    void draw(Canvas& canvas) override {
        ++draws_;
        canvas.fillRect(Rect(0, 0, bounds().width() / 2, bounds().height()), color);
    }
    Color color{1, 0, 0, 1};
    int draws_ = 0;
};

TEST_F(CompositorTest, ABackgroundThatCoversTheTargetIsTheClearNotAQuad) {
    // A window with nothing of its own, a screen's opaque root filling it, a small box on it.
    auto window = box(Rect(0, 0, 40, 40), std::nullopt);
    auto screen = box(Rect(0, 0, 40, 40), Color{1, 0, 0, 1}, window);
    box(Rect(10, 10, 10, 10), Color{0, 0, 1, 1}, screen);
    Image image = frame({window.get()});
    EXPECT_TRUE(at(image, 2, 2, {255, 0, 0}));
    EXPECT_TRUE(at(image, 15, 15, {0, 0, 255}));
    EXPECT_EQ(compositor->lastFrame().viewsDrawn, 1);  // the box alone
    // A root that does not cover the target is drawn as itself over the clear.
    screen->setFrame(Rect(0, 0, 40, 30));
    EXPECT_TRUE(at(frame({window.get()}), 2, 35, {0, 0, 0}));
    EXPECT_EQ(compositor->lastFrame().viewsDrawn, 2);
}

TEST_F(CompositorTest, ViewPicturesAreCachedUntilMarkedAndFreedWhenTheViewDies) {
    auto root = box(Rect(0, 0, 40, 40), Color{0, 0, 1, 1});
    auto painter = std::make_shared<Painter>(Rect(0, 0, 20, 20));
    root->addSubview(painter);
    Image first = frame({root.get()});
    auto drawn = [&] { return std::pair(painter->draws_, compositor->lastFrame().canvasRedraws); };
    EXPECT_EQ(drawn(), std::pair(1, 1));
    EXPECT_TRUE(at(first, 5, 5, {255, 0, 0}));
    EXPECT_TRUE(at(first, 15, 5, {0, 0, 255}));  // the unpainted half shows the parent
    // Unchanged: the kept picture is shown again, not drawn again.
    painter->color = Color{0, 1, 0, 1};
    EXPECT_TRUE(at(frame({root.get()}), 5, 5, {255, 0, 0}));
    EXPECT_EQ(drawn(), std::pair(1, 0));
    painter->setNeedsDisplay();
    EXPECT_TRUE(at(frame({root.get()}), 5, 5, {0, 255, 0}));
    EXPECT_EQ(painter->draws_, 2);
    // A new size draws again at that size.
    painter->setFrame(Rect(0, 0, 40, 20));
    EXPECT_TRUE(at(frame({root.get()}), 15, 5, {0, 255, 0}));
    EXPECT_EQ(painter->draws_, 3);
    EXPECT_EQ(compositor->cachedTextureCount(), 1u);
    painter->removeFromSuperview();
    painter.reset();
    frame({root.get()});
    EXPECT_EQ(compositor->cachedTextureCount(), 0u);
    // At scale 2 a point is two pixels across, drawn pictures included.
    compositor->setScale(2);
    root = box(Rect(0, 0, 20, 20), Color{0, 0, 0, 1});
    box(Rect(5, 5, 5, 5), Color::white(), root);
    root->addSubview(std::make_shared<Painter>(Rect(10, 10, 10, 10)));
    Image image = frame({root.get()});
    // clang-format off
    const std::tuple<int, int, Rgb> pixels[] = {
        {10, 10, {255, 255, 255}}, {19, 19, {255, 255, 255}}, {20, 19, {0, 0, 0}}, {9, 9, {0, 0, 0}},
        {29, 25, {255, 0, 0}}, {31, 25, {0, 0, 0}},  // the painted half: pixels 20..29 across
    };
    // clang-format on
    for (auto [x, y, want] : pixels)
        EXPECT_TRUE(at(image, x, y, want)) << x << "," << y;
}

}  // namespace
}  // namespace quorbit::platform
