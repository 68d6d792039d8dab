#pragma once

#include <GLES2/gl2.h>

#include <memory>
#include <stdexcept>

#include "platform/gl/GLContext.h"

namespace quorbit::testing {

// The test process's GL context (llvmpipe through SDL's offscreen driver), made once.
inline std::shared_ptr<platform::GLContext> sharedGlContext() {
    static std::shared_ptr<platform::GLContext> context = [] {
        auto made = platform::GLContext::create();
        if (!made) throw std::runtime_error(made.error().localizedDescription());
        return made.value();
    }();
    context->makeCurrent();
    return context;
}

// Number of live shader and program objects among the names 1..limit.
inline int countGlShaderObjects(GLuint limit = 256) {
    int count = 0;
    for (GLuint name = 1; name <= limit; ++name)
        count += glIsShader(name) || glIsProgram(name);
    return count;
}

// Clears the rectangle (GL's coordinates: x, y from the bottom left) of the bound framebuffer
// to one colour.
inline void clearRect(int x, int y, int width, int height, float r, float g, float b, float a) {
    glEnable(GL_SCISSOR_TEST);
    glScissor(x, y, width, height);
    glClearColor(r, g, b, a);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
}

}  // namespace quorbit::testing
