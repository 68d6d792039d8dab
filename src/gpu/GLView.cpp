#include "gpu/GLView.h"

#include "platform/ui/Window.h"

namespace quorbit::gpu {

using platform::GLContext;

GLView::GLView(platform::Rect frame) : platform::View(frame) {
    // Opaque, no retained backing, RGBA8: every frame is drawn whole.
    setOpaque(true);
    _layer.setOpaque(true);
    _layer.setRetainedBacking(false);
    _layer.setBoundsSize(bounds().width(), bounds().height());
}

GLView::~GLView() = default;

void GLView::setContext(std::shared_ptr<GLContext> context) {
    if (context == _context) return;
    deleteFramebuffer();
    _context = std::move(context);
    GLContext::clearCurrent();
}

void GLView::setFrame(platform::Rect frame) {
    platform::View::setFrame(frame);
    _layer.setBoundsSize(bounds().width(), bounds().height());
}

void GLView::setMaximumFramebufferSize(int width, int height) {
    if (width == _layer.maximumPixelWidth() && height == _layer.maximumPixelHeight()) return;
    _layer.setMaximumPixelSize(width, height);
    deleteFramebuffer();
}

void GLView::createFramebuffer() {
    if (!_context || _defaultFramebuffer) return;
    _defaultFramebuffer = platform::GLFramebuffer::make(_context);
    glBindFramebuffer(GL_FRAMEBUFFER, _defaultFramebuffer.name());
    _colorRenderbuffer = _context->makeDrawableTexture();
    _context->bindRenderbuffer(_colorRenderbuffer.name());
    _layer.setBoundsSize(bounds().width(), bounds().height());
    _layer.setContentsScale(platform::Window::screenScale());
    _context->renderbufferStorageFromLayer(_layer);
    _framebufferWidth = _context->renderbufferWidth();
    _framebufferHeight = _context->renderbufferHeight();
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                           _colorRenderbuffer.name(), 0);
    // An incomplete framebuffer (a zero-sized view) is not an error: drawing proceeds.
    glCheckFramebufferStatus(GL_FRAMEBUFFER);
}

void GLView::deleteFramebuffer() {
    _defaultFramebuffer.reset();
    _colorRenderbuffer.reset();
}

void GLView::setFramebuffer() {
    if (!_context) return;
    _context->makeCurrent();
    if (!_defaultFramebuffer) createFramebuffer();
    glBindFramebuffer(GL_FRAMEBUFFER, _defaultFramebuffer.name());
    glViewport(0, 0, _framebufferWidth, _framebufferHeight);
}

bool GLView::presentFramebuffer() {
    if (!_context) return false;
    _context->makeCurrent();
    _context->bindRenderbuffer(_colorRenderbuffer.name());
    return _context->presentRenderbuffer();
}

void GLView::layoutSubviews() {
    deleteFramebuffer();
}

}  // namespace quorbit::gpu
