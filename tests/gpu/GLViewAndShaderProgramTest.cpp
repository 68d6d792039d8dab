#include <gtest/gtest.h>

#include "gpu/GLView.h"
#include "gpu/ShaderProgram.h"
#include "platform/gl/GLTextureTarget.h"
#include "platform/ui/Compositor.h"
#include "support/GlTestContext.h"
#include "support/Pixels.h"

namespace quorbit::gpu {
namespace {

using namespace platform;
using testing::countGlShaderObjects;

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
    EXPECT_EQ(std::pair(view->framebufferWidth(), view->framebufferHeight()), std::pair(144, 192));
}

const char* kVertex =
    "attribute vec2 position; attribute vec2 texCoord; varying vec2 v;\n"
    "void main() { v = texCoord; gl_Position = vec4(position, 0.0, 1.0); }\n";
const char* kFragment =
    "precision mediump float; varying vec2 v; uniform sampler2D s_texture;\n"
    "void main() { gl_FragColor = texture2D(s_texture, v); }\n";

std::unique_ptr<ShaderProgram> programFrom(const char* vertex, const char* fragment) {
    auto program = std::make_unique<ShaderProgram>();
    if (vertex) program->setVertShaderSource(std::string(vertex));
    if (fragment) program->setFragShaderSource(std::string(fragment));
    return program;
}

GLint currentProgram() {
    GLint name = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &name);
    return name;
}

// Compiling twice keeps the one program, disabling deletes it and enabling builds it again
// from the kept sources; a program without both sources, or one that does not compile,
// builds nothing and installs none.
TEST(ShaderProgram, CompileOnceRebuildFromKeptSourcesAndFailWithoutASource) {
    testing::sharedGlContext();
    auto program = programFrom(kVertex, kFragment);
    int before = countGlShaderObjects();
    ASSERT_TRUE(program->compile());
    GLuint first = program->program();
    EXPECT_TRUE(program->compile());
    EXPECT_EQ(program->program(), first);
    // The program and its two shaders, which go when the program goes.
    EXPECT_EQ(countGlShaderObjects(), before + 3);
    program->disable();
    EXPECT_FALSE(glIsProgram(first));
    program->disable();  // nothing to delete: no effect
    EXPECT_TRUE(program->enable());
    EXPECT_NE(program->program(), 0u);
    EXPECT_EQ(currentProgram(), GLint(program->program()));
    EXPECT_GE(program->getAttributeLocation("position"), 0);
    EXPECT_GE(program->getUniformLocation("s_texture"), 0);
    const char* broken = "precision mediump float; void main() { x; }";
    const char* failures[][2] = {{kVertex, nullptr}, {nullptr, kFragment}, {kVertex, broken}};
    for (auto [vertex, fragment] : failures) {
        int made = countGlShaderObjects();
        auto failing = programFrom(vertex, fragment);
        EXPECT_FALSE(failing->compile());
        EXPECT_EQ(countGlShaderObjects(), made);
        program->enable();
        EXPECT_TRUE(failing->enable());
        EXPECT_EQ(currentProgram(), 0) << "a failed program leaves none installed";
    }
    glUseProgram(0);  // a current program outlives its deletion until it is replaced
    program.reset();
    EXPECT_EQ(countGlShaderObjects(), before);
}

}  // namespace
}  // namespace quorbit::gpu
