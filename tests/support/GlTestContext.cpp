#include "support/GlTestContext.h"

#include <stdexcept>

namespace quorbit::testing {

std::shared_ptr<platform::GLContext> sharedGlContext() {
    static std::shared_ptr<platform::GLContext> context = [] {
        auto made = platform::GLContext::create();
        if (!made) throw std::runtime_error(made.error().localizedDescription());
        return made.value();
    }();
    context->makeCurrent();
    return context;
}

int countGlShaderObjects(GLuint limit) {
    int count = 0;
    for (GLuint name = 1; name <= limit; ++name) {
        if (glIsShader(name) || glIsProgram(name)) ++count;
    }
    return count;
}

void clearRect(int x, int y, int width, int height, float r, float g, float b, float a) {
    glEnable(GL_SCISSOR_TEST);
    glScissor(x, y, width, height);
    glClearColor(r, g, b, a);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
}

}  // namespace quorbit::testing
