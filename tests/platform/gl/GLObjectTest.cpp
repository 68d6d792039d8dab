#include <gtest/gtest.h>

#include "platform/gl/GLLayer.h"
#include "platform/gl/GLObject.h"
#include "platform/gl/GLSupport.h"
#include "platform/gl/GLTextureTarget.h"
#include "support/GlTestContext.h"

namespace quorbit::platform {
namespace {

// A context that shares no objects with any other: made while none is current. The same
// name then means a different object in each such context.
std::shared_ptr<GLContext> isolatedContext() {
    GLContext::clearCurrent();
    auto made = GLContext::create();
    return made ? made.value() : nullptr;
}

// Makes an object of Kind in context and uses it as the application would, so that GL
// creates it (a generated name alone is not an object yet).
template <GLObjectKind Kind>
GLObject<Kind> makeUsed(const std::shared_ptr<GLContext>& context, GLLayer& layer) {
    GLObject<Kind> object;
    if constexpr (Kind == GLObjectKind::Shader) {
        object = GLObject<Kind>::make(context, GL_FRAGMENT_SHADER);
    } else if constexpr (Kind == GLObjectKind::DrawableTexture) {
        object = context->makeDrawableTexture();
        context->bindRenderbuffer(object.name());
        layer.setBoundsSize(4, 4);
        context->renderbufferStorageFromLayer(layer);
    } else {
        object = GLObject<Kind>::make(context);
    }
    if constexpr (Kind == GLObjectKind::Texture) glBindTexture(GL_TEXTURE_2D, object.name());
    if constexpr (Kind == GLObjectKind::Framebuffer)
        glBindFramebuffer(GL_FRAMEBUFFER, object.name());
    return object;
}

// Whether name is a live object of Kind in context (made current for the question).
template <GLObjectKind Kind>
bool existsIn(GLContext& context, GLuint name) {
    context.makeCurrent();
    if (Kind == GLObjectKind::Texture || Kind == GLObjectKind::DrawableTexture)
        return glIsTexture(name);
    if (Kind == GLObjectKind::Framebuffer) return glIsFramebuffer(name);
    return Kind == GLObjectKind::Shader ? glIsShader(name) : glIsProgram(name);
}

template <GLObjectKind Kind>
void expectDeletedInItsOwnContext() {
    GLLayer layerA, layerB;
    auto a = isolatedContext(), b = isolatedContext();
    ASSERT_TRUE(a && b);
    int live = liveGLObjects(Kind);
    auto ownerA = std::make_unique<GLObject<Kind>>(makeUsed<Kind>(a, layerA));
    GLObject<Kind> ownerB = makeUsed<Kind>(b, layerB);
    // The same name in both, so deleting in the wrong context would hit b's object.
    GLuint name = ownerA->name();
    ASSERT_NE(name, 0u);
    ASSERT_EQ(name, ownerB.name());
    ASSERT_TRUE(existsIn<Kind>(*a, name));
    EXPECT_EQ(liveGLObjects(Kind), live + 2);
    // The owner keeps its context alive after everyone else has let go of it.
    std::weak_ptr<GLContext> weakA = a;
    a.reset();
    ASSERT_FALSE(weakA.expired());
    b->makeCurrent();
    ownerA.reset();
    EXPECT_TRUE(weakA.expired());
    EXPECT_EQ(GLContext::current(), b.get()) << "the current context stays current";
    EXPECT_TRUE(existsIn<Kind>(*b, name)) << "nothing is deleted in the current context";
    EXPECT_EQ(liveGLObjects(Kind), live + 1);
    if (Kind == GLObjectKind::DrawableTexture) {
        EXPECT_EQ(layerA.texture(), 0u) << "the deleted drawable's layer shows nothing";
        EXPECT_EQ(layerB.texture(), name);
    }
    // With no context current: moving an empty owner over b's deletes b's object in b and
    // leaves no context current. (a is gone, and its objects with it; b shares nothing.)
    GLContext::clearCurrent();
    ownerB = GLObject<Kind>();
    EXPECT_EQ(GLContext::current(), nullptr);
    EXPECT_FALSE(ownerB);
    EXPECT_FALSE(existsIn<Kind>(*b, name));
    EXPECT_EQ(liveGLObjects(Kind), live);
}

TEST(GLObject, EachKindIsDeletedInItsOwnContextWhicheverContextIsCurrent) {
    expectDeletedInItsOwnContext<GLObjectKind::Texture>();
    expectDeletedInItsOwnContext<GLObjectKind::Framebuffer>();
    expectDeletedInItsOwnContext<GLObjectKind::DrawableTexture>();
    expectDeletedInItsOwnContext<GLObjectKind::Shader>();
    expectDeletedInItsOwnContext<GLObjectKind::Program>();
    testing::sharedGlContext();
}

TEST(GLSupport, ProgramBuildFailuresSayWhatFailedAndLeaveNothing) {
    auto context = testing::sharedGlContext();
    const std::string vertex =
        "attribute vec2 a_position; attribute vec2 a_extra;\n"
        "void main() { gl_Position = vec4(a_position + a_extra, 0.0, 1.0); }\n";
    const std::string fragment = "precision mediump float; void main() { gl_FragColor = vec4(1); }";
    // Reads a varying the vertex shader does not write.
    const std::string unlinked =
        "precision mediump float; varying vec4 v; void main() { gl_FragColor = v; }";
    // clang-format off
    struct Case { std::string vertex, fragment, message; };
    const Case cases[] = {
        {"void main() { gl_Position = nothing; }", fragment, "vertex shader does not compile: "},
        {vertex, "void main() { broken }", "fragment shader does not compile: "},
        {vertex, unlinked, "program does not link: "},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        int live = liveGLObjects();
        int shaders = testing::countGlShaderObjects();
        auto built = buildProgram(context, c.vertex, c.fragment);
        ASSERT_FALSE(built);
        const std::string text = built.error().localizedDescription();
        EXPECT_EQ(text.rfind(c.message, 0), 0u) << text;
        EXPECT_GT(text.size(), c.message.size()) << "GL's log follows";
        EXPECT_EQ(liveGLObjects(), live);
        EXPECT_EQ(testing::countGlShaderObjects(), shaders);
    }
    int programs = liveGLObjects(GLObjectKind::Program);
    auto built = buildProgram(context, vertex, fragment, {{3, "a_position"}, {5, "a_extra"}});
    ASSERT_TRUE(built) << built.error().localizedDescription();
    EXPECT_EQ(glGetAttribLocation(built->name(), "a_position"), 3);
    EXPECT_EQ(glGetAttribLocation(built->name(), "a_extra"), 5);
    EXPECT_EQ(liveGLObjects(GLObjectKind::Program), programs + 1);
    EXPECT_EQ(liveGLObjects(GLObjectKind::Shader), 0) << "the shaders go once linked";
}

// The rows' order shows in the compositor's and the frame drawing's pictures.
TEST(GLSupport, ReadBackGivesTheAlphaAsDrawnOrOpaque) {
    GLTextureTarget target(testing::sharedGlContext(), 1, 1);
    target.bind();
    testing::clearRect(0, 0, 1, 1, 1, 0, 0, 0.5f);
    EXPECT_NEAR(readBoundFramebuffer(1, 1, ReadBackAlpha::AsDrawn).pixel(0, 0)[3], 128, 1);
    EXPECT_EQ(readBoundFramebuffer(1, 1, ReadBackAlpha::Opaque).pixel(0, 0)[3], 255);
    EXPECT_TRUE(readBoundFramebuffer(0, 2).empty());
}

}  // namespace
}  // namespace quorbit::platform
