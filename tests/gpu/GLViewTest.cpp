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
    EXPECT_FALSE(view.presentFramebuffer()) << "no context: nothing to present";
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

}  // namespace
}  // namespace quorbit::gpu
