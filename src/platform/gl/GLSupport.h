#pragma once

#include <GLES2/gl2.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "platform/core/Error.h"
#include "platform/gfx/Image.h"
#include "platform/gl/GLObject.h"

namespace quorbit::platform {

// Texture set-up shared by every texture the application draws from: binds texture to
// GL_TEXTURE_2D of the active unit, gives it linear filtering and edge clamping, and
// width x height texels of internalFormat from pixels (rows of format/GL_UNSIGNED_BYTE
// texels, 4 bytes each, first row at texture coordinate t = 0), or undefined texels when
// pixels is null. The texture's context must be current.
void setUpTexture(GLuint texture, GLint internalFormat, int width, int height, GLenum format,
                  const void* pixels);

// A new texture in context (left current), set up as above.
GLTexture makeTexture(std::shared_ptr<GLContext> context, GLint internalFormat, int width,
                      int height, GLenum format, const void* pixels);

// An attribute location fixed before linking.
struct GLAttributeBinding {
    GLuint location;
    const char* name;
};

// Compiles both shaders and links them into a program in context (left current). On
// failure every object made on the way is gone and the error's description says what
// failed, with GL's log: "vertex shader does not compile: ...", "fragment shader does not
// compile: ...", "program does not link: ...".
Result<GLProgram> buildProgram(std::shared_ptr<GLContext> context, const std::string& vertexSource,
                               const std::string& fragmentSource,
                               std::initializer_list<GLAttributeBinding> bindings = {});

// What the alpha of a read-back picture holds.
enum class ReadBackAlpha {
    AsDrawn,  // whatever the framebuffer holds
    Opaque,   // 255 everywhere: the picture as a window shows it
};

// The bound framebuffer's bottom-left width x height pixels as an RGBA image, top row first
// (GL's rows count from the bottom, so they are flipped). Empty for an empty size. The
// framebuffer's context must be current.
Image readBoundFramebuffer(int width, int height, ReadBackAlpha alpha = ReadBackAlpha::AsDrawn);

}  // namespace quorbit::platform
