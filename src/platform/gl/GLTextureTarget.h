#pragma once

#include <GLES2/gl2.h>

#include <utility>

namespace quorbit::platform {

// A framebuffer whose colour attachment is an RGBA texture of width x height pixels, made in
// the current context and deleted with the object. Move-only.
class GLTextureTarget {
  public:
    GLTextureTarget(GLsizei width, GLsizei height) : _width(width), _height(height) {
        glGenTextures(1, &_texture);
        glBindTexture(GL_TEXTURE_2D, _texture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     nullptr);
        glGenFramebuffers(1, &_framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, _framebuffer);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, _texture, 0);
    }
    ~GLTextureTarget() {
        if (_framebuffer) glDeleteFramebuffers(1, &_framebuffer);
        if (_texture) glDeleteTextures(1, &_texture);
    }
    GLTextureTarget(GLTextureTarget&& other) noexcept
        : _framebuffer(std::exchange(other._framebuffer, 0)),
          _texture(std::exchange(other._texture, 0)),
          _width(other._width),
          _height(other._height) {}
    GLTextureTarget& operator=(GLTextureTarget&&) = delete;
    GLTextureTarget(const GLTextureTarget&) = delete;
    GLTextureTarget& operator=(const GLTextureTarget&) = delete;

    // Binds the framebuffer and sets the viewport to its whole size.
    void bind() const {
        glBindFramebuffer(GL_FRAMEBUFFER, _framebuffer);
        glViewport(0, 0, _width, _height);
    }
    GLuint framebuffer() const { return _framebuffer; }
    GLuint texture() const { return _texture; }
    GLsizei width() const { return _width; }
    GLsizei height() const { return _height; }

  private:
    GLuint _framebuffer = 0, _texture = 0;
    GLsizei _width, _height;
};

}  // namespace quorbit::platform
