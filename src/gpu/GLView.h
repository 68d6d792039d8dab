#pragma once

#include <GLES2/gl2.h>

#include <memory>

#include "platform/gl/GLContext.h"
#include "platform/gl/GLLayer.h"
#include "platform/gl/GLObject.h"
#include "platform/ui/View.h"

namespace quorbit::gpu {

// A view whose picture is drawn with OpenGL ES 2.0 into a framebuffer whose colour storage
// is the view's own layer. The view never draws by itself: a caller binds the framebuffer
// with setFramebuffer(), draws, and shows the result with presentFramebuffer().
//
// The framebuffer is built lazily by setFramebuffer() and dropped by layoutSubviews() (so
// the next frame is built at the layer's new size), by a change of context and at
// destruction. Without a context every framebuffer operation does nothing.
class GLView : public platform::View {
  public:
    explicit GLView(platform::Rect frame = {});
    ~GLView() override;

    const std::shared_ptr<platform::GLContext>& context() const { return _context; }
    // A different context drops the framebuffer (with the old context) and leaves no context
    // current; the same context changes nothing.
    void setContext(std::shared_ptr<platform::GLContext> context);

    void createFramebuffer();
    void deleteFramebuffer();
    // Makes the context current, builds the framebuffer if needed, binds it and sets the
    // viewport to its whole size.
    void setFramebuffer();
    // Shows what was drawn; false without a context.
    bool presentFramebuffer();

    void setFrame(platform::Rect frame) override;
    // The framebuffer is the view's size in pixels (points x the screen's scale), but no
    // larger than width x height pixels when a limit is set (see GLLayer); changing the
    // limit rebuilds the framebuffer on the next setFramebuffer().
    void setMaximumFramebufferSize(int width, int height);
    void layoutSubviews() override;
    platform::GLLayer* glLayer() override { return &_layer; }

    GLint framebufferWidth() const { return _framebufferWidth; }
    GLint framebufferHeight() const { return _framebufferHeight; }
    GLuint defaultFramebuffer() const { return _defaultFramebuffer.name(); }
    GLuint colorRenderbuffer() const { return _colorRenderbuffer.name(); }

  private:
    std::shared_ptr<platform::GLContext> _context;
    platform::GLLayer _layer;
    GLint _framebufferWidth = 0;
    GLint _framebufferHeight = 0;
    // Deleted in their own context wherever the view goes; the framebuffer first.
    platform::GLDrawableTexture _colorRenderbuffer;
    platform::GLFramebuffer _defaultFramebuffer;
};

}  // namespace quorbit::gpu
