#pragma once

#include <GLES2/gl2.h>

#include <cstdint>

namespace quorbit::platform {

class GLContext;

// Whether anything on screen changed since the compositor last drew: set by a layer's new
// picture here and by every view change above, taken by the compositor's loop.
void markWindowDirty();
bool takeWindowDirty();

// The backing of a GL view: a picture of pixelWidth x pixelHeight pixels held in a texture
// whose storage a GL context allocated from this layer. The compositor samples the texture
// once something has been presented.
class GLLayer {
  public:
    GLLayer() = default;
    ~GLLayer();
    GLLayer(const GLLayer&) = delete;
    GLLayer& operator=(const GLLayer&) = delete;

    // Size of the view in points and the layer's scale; storage is points x scale pixels.
    void setBoundsSize(double width, double height);
    void setContentsScale(double scale);
    double contentsScale() const { return _scale; }
    // The storage's size: points x scale, shrunk (keeping its aspect) to fit the maximum
    // pixel size when one is set, and never below one pixel.
    int pixelWidth() const;
    int pixelHeight() const;
    // A limit on the storage's size in pixels (0 x 0: none). A picture whose source has fewer
    // pixels than the view (a camera frame on a large window) is drawn at the source's size
    // and scaled up by the compositor, which costs far less than drawing every window pixel.
    void setMaximumPixelSize(int width, int height);
    int maximumPixelWidth() const { return _maxWidth; }
    int maximumPixelHeight() const { return _maxHeight; }

    bool isOpaque() const { return _opaque; }
    void setOpaque(bool opaque) { _opaque = opaque; }
    // Drawable properties: retained backing and colour format ("RGBA8" is the only one).
    bool retainedBacking() const { return _retainedBacking; }
    void setRetainedBacking(bool retained) { _retainedBacking = retained; }

    // The texture that holds the picture, 0 when no storage is allocated.
    GLuint texture() const { return _texture; }
    int textureWidth() const { return _textureWidth; }
    int textureHeight() const { return _textureHeight; }
    // Grows by one each time a picture is presented; 0 before the first.
    std::uint64_t presentCount() const { return _presentCount; }
    bool hasContent() const { return _texture != 0 && _presentCount > 0; }

  private:
    friend class GLContext;
    void attach(GLContext* context, GLuint texture, int width, int height);
    void detach();
    void presented();

    // Points x scale after the maximum pixel size is applied.
    double fittedScale() const;
    double _width = 0, _height = 0, _scale = 1;
    int _maxWidth = 0, _maxHeight = 0;
    bool _opaque = true;
    bool _retainedBacking = false;
    GLContext* _context = nullptr;
    GLuint _texture = 0;
    int _textureWidth = 0, _textureHeight = 0;
    std::uint64_t _presentCount = 0;
};

}  // namespace quorbit::platform
