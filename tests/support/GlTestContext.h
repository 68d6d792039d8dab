#pragma once

#include <GLES2/gl2.h>

#include <memory>
#include <vector>

#include "platform/gl/GLContext.h"

namespace quorbit::testing {

// The test process's GL context (llvmpipe through SDL's offscreen driver), made once.
std::shared_ptr<platform::GLContext> sharedGlContext();

// Number of live shader and program objects among the names 1..limit.
int countGlShaderObjects(GLuint limit = 256);

// The bound framebuffer's pixels, RGBA, bottom row first as GL returns them.
std::vector<unsigned char> readPixels(int width, int height);

}  // namespace quorbit::testing
