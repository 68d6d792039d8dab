#include <gtest/gtest.h>

#include "gpu/GLPostView.h"
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

TEST(GLView, FramebufferIsBuiltLazilyAtTheLayerSizeAndRebuiltAfterLayout) {
    auto context = sharedGlContext();
    GLView view(Rect(0, 0, 320, 427));
    view.setContext(context);
    EXPECT_EQ(GLContext::current(), nullptr);
    EXPECT_EQ(view.defaultFramebuffer(), 0u);

    view.setFramebuffer();
    EXPECT_EQ(GLContext::current(), context.get());
    ASSERT_NE(view.defaultFramebuffer(), 0u);
    EXPECT_NE(view.colorRenderbuffer(), 0u);
    EXPECT_EQ(view.framebufferWidth(), 320);
    EXPECT_EQ(view.framebufferHeight(), 427);
    EXPECT_EQ(boundFramebuffer(), GLint(view.defaultFramebuffer()));
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 320);
    EXPECT_EQ(viewport[3], 427);

    // The same context again keeps everything.
    GLuint framebuffer = view.defaultFramebuffer();
    view.setContext(context);
    EXPECT_EQ(view.defaultFramebuffer(), framebuffer);
    EXPECT_EQ(GLContext::current(), context.get());

    view.setFrame(Rect(0, 0, 144, 192));
    view.layoutIfNeeded();
    EXPECT_EQ(view.defaultFramebuffer(), 0u);
    view.setFramebuffer();
    EXPECT_EQ(view.framebufferWidth(), 144);
    EXPECT_EQ(view.framebufferHeight(), 192);
    EXPECT_EQ(view.glLayer()->textureWidth(), 144);
}

TEST(GLView, PresentPublishesTheSingleBufferThatReadsBackTheSamePicture) {
    auto context = sharedGlContext();
    GLView view(Rect(0, 0, 8, 6));
    view.setContext(context);
    EXPECT_FALSE(view.glLayer()->hasContent());
    view.setFramebuffer();
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    ASSERT_TRUE(view.presentFramebuffer());
    EXPECT_TRUE(view.glLayer()->hasContent());
    EXPECT_EQ(view.glLayer()->texture(), view.colorRenderbuffer());
    EXPECT_EQ(view.glLayer()->presentCount(), 1u);
    auto pixels = testing::readPixels(8, 6);
    EXPECT_EQ(pixels[0], 0);
    EXPECT_EQ(pixels[1], 255);
    EXPECT_EQ(pixels[4 * 47 + 1], 255);

    view.deleteFramebuffer();
    EXPECT_FALSE(view.glLayer()->hasContent());
    EXPECT_EQ(view.glLayer()->texture(), 0u);
}

TEST(GLView, ChangingContextDropsTheFramebufferAndWithoutOneNothingHappens) {
    auto first = sharedGlContext();
    auto second = GLContext::create();
    ASSERT_TRUE(second.ok()) << second.error().localizedDescription();
    GLPostView view(Rect(0, 0, 16, 16));

    // No context: framebuffer operations do nothing and present says no.
    view.setFramebuffer();
    EXPECT_EQ(view.defaultFramebuffer(), 0u);
    EXPECT_FALSE(view.presentFramebuffer());

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

struct RecordingDelegate : FilterSelectionDelegate {
    std::vector<ShaderProgram*> selected;
    void filterSelected(ShaderProgram* program) override { selected.push_back(program); }
};

TEST(GLPostView, OnlyAPreviewReportsItsOwnProgramOnceAndTheTouchGoesOnUp) {
    struct Parent : platform::View {
        int ended = 0;
        void touchesEnded(const std::vector<platform::Touch>&) override { ++ended; }
    };
    auto parent = std::make_shared<Parent>();
    auto live = std::make_shared<GLPostView>(Rect(0, 0, 320, 427));
    auto preview = std::make_shared<GLPostView>(Rect(0, 0, 144, 192));
    parent->addSubview(live);
    parent->addSubview(preview);
    auto program = std::make_shared<ShaderProgram>();
    RecordingDelegate delegate;
    live->setDelegate(&delegate);
    preview->setDelegate(&delegate);
    preview->setPostShader(program);
    preview->setIsPreviewWindow(true);

    std::vector<platform::Touch> touch{platform::Touch{}};
    live->touchesEnded(touch);
    EXPECT_TRUE(delegate.selected.empty());
    preview->touchesEnded(touch);
    ASSERT_EQ(delegate.selected.size(), 1u);
    EXPECT_EQ(delegate.selected[0], program.get());
    EXPECT_EQ(parent->ended, 2);
}

}  // namespace
}  // namespace quorbit::gpu
