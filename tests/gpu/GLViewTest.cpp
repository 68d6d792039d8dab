#include <gtest/gtest.h>

#include "gpu/GLView.h"
#include "platform/gl/GLTextureTarget.h"
#include "platform/ui/Compositor.h"
#include "support/GlTestContext.h"
#include "support/Pixels.h"

namespace quorbit::gpu {
namespace {

using namespace platform;

// Built on first use at the layer's size, presented as the layer's one texture (which the
// compositor shows upright, with the view's alpha), and built again after a layout. (The
// viewport that setFramebuffer sets shows in every filter's picture.)
TEST(GLView, TheFramebufferIsBuiltLazilyPresentedToTheCompositorAndRebuiltAfterLayout) {
    auto context = testing::sharedGlContext();
    auto root = std::make_shared<View>(Rect(0, 0, 40, 40));
    root->setBackgroundColor(Color{0, 0, 0, 1});
    auto view = std::make_shared<GLView>(Rect(10, 10, 20, 20));
    view->setBackgroundColor(Color{0, 0, 1, 1});
    root->addSubview(view);
    auto compositor = std::move(Compositor::create(GLContext::create().value()).value());
    GLTextureTarget target(compositor->context(), 40, 40);
    auto frame = [&] {
        compositor->draw({root.get()}, 40, 40, target.framebuffer());
        return Compositor::readPixels(40, 40);
    };

    EXPECT_FALSE(view->presentFramebuffer()) << "no context: nothing to present";
    view->setContext(context);
    EXPECT_EQ(GLContext::current(), nullptr);
    EXPECT_EQ(view->defaultFramebuffer(), 0u);
    view->setFramebuffer();
    EXPECT_EQ(GLContext::current(), context.get());
    ASSERT_NE(view->defaultFramebuffer(), 0u);
    GLuint framebuffer = view->defaultFramebuffer();
    view->setContext(context);  // the same context again keeps everything
    EXPECT_EQ(view->defaultFramebuffer(), framebuffer);
    EXPECT_FALSE(view->glLayer()->hasContent());
    EXPECT_TRUE(testing::near(frame().pixel(20, 20), {0, 0, 255}, 0)) << "nothing presented";

    // GL's upper half (high y) green, lower half red, then presented.
    view->setFramebuffer();
    testing::clearRect(0, 10, 20, 10, 0, 1, 0, 1);
    testing::clearRect(0, 0, 20, 10, 1, 0, 0, 1);
    ASSERT_TRUE(view->presentFramebuffer());
    EXPECT_EQ(view->glLayer()->texture(), view->colorRenderbuffer());
    EXPECT_EQ(view->glLayer()->presentCount(), 1u);
    Image shown = frame();
    EXPECT_EQ(compositor->lastFrame().layerQuads, 1);
    EXPECT_TRUE(testing::near(shown.pixel(20, 13), {0, 255, 0}, 3)) << "top of the view";
    EXPECT_TRUE(testing::near(shown.pixel(20, 27), {255, 0, 0}, 3)) << "bottom of the view";
    EXPECT_TRUE(testing::near(shown.pixel(5, 5), {0, 0, 0}, 3)) << "outside the view";
    view->setAlpha(0.5);  // half green over half blue over black
    EXPECT_TRUE(testing::near(frame().pixel(20, 13), {0, 128, 64}, 3));

    view->setFrame(Rect(0, 0, 144, 192));
    view->layoutIfNeeded();
    EXPECT_EQ(view->defaultFramebuffer(), 0u);
    EXPECT_FALSE(view->glLayer()->hasContent());
    view->setFramebuffer();
    EXPECT_EQ(view->framebufferWidth(), 144);
    EXPECT_EQ(view->framebufferHeight(), 192);
}

}  // namespace
}  // namespace quorbit::gpu
