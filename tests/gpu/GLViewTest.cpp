#include <gtest/gtest.h>

#include "gpu/GLView.h"
#include "support/GlTestContext.h"

namespace quorbit::gpu {
namespace {

using platform::GLContext;
using platform::Rect;
using testing::sharedGlContext;

GLint boundFramebuffer() {
    GLint name = -1;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &name);
    return name;
}

// Built on first use at the layer's size, presented as the layer's one texture, and built
// again at the new size after a layout.
TEST(GLView, TheFramebufferIsBuiltLazilyPresentedAndRebuiltAfterLayout) {
    auto context = sharedGlContext();
    GLView view(Rect(0, 0, 8, 6));
    view.setContext(context);
    EXPECT_EQ(GLContext::current(), nullptr);
    EXPECT_EQ(view.defaultFramebuffer(), 0u);
    view.setFramebuffer();
    EXPECT_EQ(GLContext::current(), context.get());
    ASSERT_NE(view.defaultFramebuffer(), 0u);
    EXPECT_EQ(boundFramebuffer(), GLint(view.defaultFramebuffer()));
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 8);
    EXPECT_EQ(viewport[3], 6);
    GLuint framebuffer = view.defaultFramebuffer();
    view.setContext(context);  // the same context again keeps everything
    EXPECT_EQ(view.defaultFramebuffer(), framebuffer);

    EXPECT_FALSE(view.glLayer()->hasContent());
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    ASSERT_TRUE(view.presentFramebuffer());
    EXPECT_EQ(view.glLayer()->texture(), view.colorRenderbuffer());
    EXPECT_EQ(view.glLayer()->presentCount(), 1u);
    EXPECT_EQ(testing::readPixels(8, 6)[4 * 47 + 1], 255);

    view.setFrame(Rect(0, 0, 144, 192));
    view.layoutIfNeeded();
    EXPECT_EQ(view.defaultFramebuffer(), 0u);
    EXPECT_FALSE(view.glLayer()->hasContent());
    view.setFramebuffer();
    EXPECT_EQ(view.framebufferWidth(), 144);
    EXPECT_EQ(view.framebufferHeight(), 192);
}

TEST(GLView, ChangingContextDropsTheFramebufferAndWithoutOneNothingHappens) {
    auto first = sharedGlContext();
    auto second = GLContext::create();
    ASSERT_TRUE(second.ok()) << second.error().localizedDescription();
    GLView view(Rect(0, 0, 16, 16));
    EXPECT_FALSE(view.presentFramebuffer()) << "no context: nothing to present";
    view.setContext(first);
    view.setFramebuffer();
    GLuint texture = view.colorRenderbuffer();
    ASSERT_NE(texture, 0u);
    view.setContext(second.value());
    EXPECT_EQ(view.defaultFramebuffer(), 0u);
    EXPECT_EQ(GLContext::current(), nullptr);
    first->makeCurrent();
    EXPECT_FALSE(glIsTexture(texture));  // deleted with the old context

    view.setFramebuffer();
    EXPECT_EQ(GLContext::current(), second.value().get());
    EXPECT_NE(view.defaultFramebuffer(), 0u);
    EXPECT_TRUE(view.presentFramebuffer());
    view.setContext(nullptr);
    first->makeCurrent();
}

}  // namespace
}  // namespace quorbit::gpu
