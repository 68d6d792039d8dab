#include "platform/gl/GLObject.h"

#include "platform/core/Log.h"
#include "platform/gl/GLContext.h"

namespace quorbit::platform {
namespace {

int gLive[kGLObjectKindCount] = {};
long long gMade = 0;

int& liveCount(GLObjectKind kind) {
    return gLive[static_cast<int>(kind)];
}

}  // namespace

int liveGLObjects(GLObjectKind kind) {
    return liveCount(kind);
}

int liveGLObjects() {
    int total = 0;
    for (int count : gLive)
        total += count;
    return total;
}

long long madeGLObjects() {
    return gMade;
}

std::string describeLiveGLObjects() {
    static const char* const names[kGLObjectKindCount][2] = {{"texture", "textures"},
                                                             {"framebuffer", "framebuffers"},
                                                             {"renderbuffer", "renderbuffers"},
                                                             {"shader", "shaders"},
                                                             {"program", "programs"}};
    std::string text;
    for (int kind = 0; kind < kGLObjectKindCount; ++kind) {
        int count = gLive[kind];
        if (count == 0) continue;
        if (!text.empty()) text += ", ";
        text += std::to_string(count) + " " + names[kind][count == 1 ? 0 : 1];
    }
    return text.empty() ? "none" : text;
}

namespace detail {

GLuint makeGLObject(GLContext& context, GLObjectKind kind, GLenum shaderType) {
    if (!context.makeCurrent()) return 0;
    GLuint name = 0;
    switch (kind) {
        case GLObjectKind::Texture:
        case GLObjectKind::DrawableTexture:  // a layer-backed drawable is a texture
            glGenTextures(1, &name);
            break;
        case GLObjectKind::Framebuffer:
            glGenFramebuffers(1, &name);
            break;
        case GLObjectKind::Shader:
            name = glCreateShader(shaderType);
            break;
        case GLObjectKind::Program:
            name = glCreateProgram();
            break;
    }
    if (name) {
        ++liveCount(kind);
        ++gMade;
    }
    return name;
}

void deleteGLObject(GLContext& context, GLObjectKind kind, GLuint name) {
    GLContext* previous = GLContext::current();
    if (previous != &context && !context.makeCurrent()) {
        // Deleting now would delete whatever has this name in the current context; the
        // object goes with its context instead.
        Log::warn("a GL object is left to its context, which cannot be made current");
        return;
    }
    switch (kind) {
        case GLObjectKind::Texture:
            glDeleteTextures(1, &name);
            break;
        case GLObjectKind::Framebuffer:
            glDeleteFramebuffers(1, &name);
            break;
        case GLObjectKind::DrawableTexture:
            context.forgetDrawableTexture(name);
            glDeleteTextures(1, &name);
            break;
        case GLObjectKind::Shader:
            glDeleteShader(name);
            break;
        case GLObjectKind::Program:
            glDeleteProgram(name);
            break;
    }
    --liveCount(kind);
    if (previous == &context) return;
    if (previous)
        previous->makeCurrent();
    else
        GLContext::clearCurrent();
}

}  // namespace detail
}  // namespace quorbit::platform
