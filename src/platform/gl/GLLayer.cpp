#include "platform/gl/GLLayer.h"

#include <cmath>

#include "platform/gl/GLContext.h"
#include "platform/ui/View.h"

namespace quorbit::platform {

GLLayer::~GLLayer() {
    if (_context) _context->forgetLayer(this);
}

void GLLayer::setBoundsSize(double width, double height) {
    _width = width;
    _height = height;
}

void GLLayer::setContentsScale(double scale) {
    if (scale > 0) _scale = scale;
}

int GLLayer::pixelWidth() const {
    return static_cast<int>(std::lround(_width * _scale));
}
int GLLayer::pixelHeight() const {
    return static_cast<int>(std::lround(_height * _scale));
}

void GLLayer::attach(GLContext* context, GLuint texture, int width, int height) {
    if (_context && _context != context) _context->forgetLayer(this);
    _context = context;
    _texture = texture;
    _textureWidth = width;
    _textureHeight = height;
    _presentCount = 0;
}

void GLLayer::detach() {
    _context = nullptr;
    _texture = 0;
    _textureWidth = _textureHeight = 0;
    _presentCount = 0;
    View::markWindowDirty();
}

void GLLayer::presented() {
    ++_presentCount;
    View::markWindowDirty();
}

}  // namespace quorbit::platform
