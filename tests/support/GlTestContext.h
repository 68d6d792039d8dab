#pragma once

#include <GLES2/gl2.h>

#include <memory>

#include "platform/gl/GLContext.h"

namespace quorbit::testing {

// The test process's GL context (llvmpipe through SDL's offscreen driver), made once.
std::shared_ptr<platform::GLContext> sharedGlContext();

// Number of live shader and program objects among the names 1..limit.
int countGlShaderObjects(GLuint limit = 256);

// Clears the rectangle (GL's coordinates: x, y from the bottom left) of the bound framebuffer
// to one colour.
void clearRect(int x, int y, int width, int height, float r, float g, float b, float a);

}  // namespace quorbit::testing
