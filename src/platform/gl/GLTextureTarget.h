#pragma once

#include <GLES2/gl2.h>

#include <memory>

#include "platform/gl/GLContext.h"
#include "platform/gl/GLObject.h"
#include "platform/gl/GLSupport.h"

namespace quorbit::platform {

// A framebuffer whose colour attachment is an RGBA texture of width x height pixels, made in
// a context (the current one when none is named; it is left current and bound) and deleted
// in that context with the object. Move-only.
class GLTextureTarget {
  public:
    GLTextureTarget(std::shared_ptr<GLContext> context, GLsizei width, GLsizei height)
        : _width(width), _height(height) {
        _texture = makeTexture(context, GL_RGBA, width, height, GL_RGBA, nullptr);
        _framebuffer = GLFramebuffer::make(std::move(context));
        glBindFramebuffer(GL_FRAMEBUFFER, _framebuffer.name());
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, _texture.name(),
                               0);
    }
    GLTextureTarget(GLsizei width, GLsizei height)
        : GLTextureTarget(GLContext::currentShared(), width, height) {}
    GLTextureTarget(GLTextureTarget&&) noexcept = default;
    GLTextureTarget& operator=(GLTextureTarget&&) = delete;
    GLTextureTarget(const GLTextureTarget&) = delete;
    GLTextureTarget& operator=(const GLTextureTarget&) = delete;

    // Binds the framebuffer and sets the viewport to its whole size.
    void bind() const {
        glBindFramebuffer(GL_FRAMEBUFFER, _framebuffer.name());
        glViewport(0, 0, _width, _height);
    }
    GLuint framebuffer() const { return _framebuffer.name(); }
    GLuint texture() const { return _texture.name(); }
    GLsizei width() const { return _width; }
    GLsizei height() const { return _height; }

  private:
    // The framebuffer goes first, then the texture attached to it.
    GLTexture _texture;
    GLFramebuffer _framebuffer;
    GLsizei _width, _height;
};

}  // namespace quorbit::platform
