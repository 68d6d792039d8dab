#include "platform/gl/GLLayer.h"

#include <algorithm>
#include <cmath>

#include "platform/gl/GLContext.h"

namespace quorbit::platform {

namespace {
bool& windowDirtyFlag() {
    static bool dirty = true;
    return dirty;
}
}  // namespace

void markWindowDirty() {
    windowDirtyFlag() = true;
}

bool takeWindowDirty() {
    bool dirty = windowDirtyFlag();
    windowDirtyFlag() = false;
    return dirty;
}

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

void GLLayer::setMaximumPixelSize(int width, int height) {
    _maxWidth = width > 0 && height > 0 ? width : 0;
    _maxHeight = width > 0 && height > 0 ? height : 0;
}

double GLLayer::fittedScale() const {
    double scale = _scale;
    if (_maxWidth > 0 && _width > 0 && _height > 0)
        scale = std::min({scale, _maxWidth / _width, _maxHeight / _height});
    return scale;
}

int GLLayer::pixelWidth() const {
    if (_width <= 0) return 0;
    return std::max(1, static_cast<int>(std::lround(_width * fittedScale())));
}

int GLLayer::pixelHeight() const {
    if (_height <= 0) return 0;
    return std::max(1, static_cast<int>(std::lround(_height * fittedScale())));
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
    markWindowDirty();
}

void GLLayer::presented() {
    ++_presentCount;
    markWindowDirty();
}

}  // namespace quorbit::platform
