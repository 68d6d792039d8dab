#pragma once

#include <GLES2/gl2.h>

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/Geometry.h"
#include "platform/gfx/Image.h"
#include "platform/gl/GLObject.h"

namespace quorbit::platform {

class GLContext;
class View;

// Draws view trees into a framebuffer with OpenGL ES 2.0: each view's background colour,
// its drawing (made with a Canvas into a texture that is kept until the view asks to be
// redrawn), the picture of a GL view's layer, with alpha multiplied down the tree,
// transforms, and clipping for views that clip their children.
//
// The compositor has a context of its own (sharing objects with every other context, so a
// GL view's layer texture can be sampled); it makes that context current while it draws
// and makes the caller's context current again afterwards.
class Compositor {
  public:
    struct FrameStats {
        int viewsDrawn = 0;      // views that put anything on screen
        int canvasRedraws = 0;   // view pictures drawn again with a Canvas
        int layerQuads = 0;      // GL layer pictures sampled
        int cachedTextures = 0;  // view pictures kept after the frame
    };

    explicit Compositor(std::shared_ptr<GLContext> context);
    ~Compositor();
    Compositor(const Compositor&) = delete;
    Compositor& operator=(const Compositor&) = delete;

    static Result<std::unique_ptr<Compositor>> create(std::shared_ptr<GLContext> context);

    const std::shared_ptr<GLContext>& context() const { return _context; }

    // Pixels per point of the target.
    double scale() const { return _scale; }
    void setScale(double scale);
    // The colour behind every window.
    void setClearColor(Color color) { _clearColor = color; }

    // Lays out and draws roots (back to front; hidden ones are skipped) into framebuffer
    // (0: the window's) of width x height pixels. Leaves the compositor's context current so
    // that the caller can read back or present; call restoreContext() afterwards.
    void draw(const std::vector<View*>& roots, int width, int height, GLuint framebuffer = 0);
    // Makes current again the context that was current before the last draw().
    void restoreContext();

    // Reads the bound framebuffer (the compositor's context must be current) as an opaque
    // RGBA image, top row first: readBoundFramebuffer with opaque alpha.
    static Image readPixels(int width, int height);

    const FrameStats& lastFrame() const { return _stats; }
    // Drops every kept picture whose view has died (also done after each frame).
    void collectGarbage();
    size_t cachedTextureCount() const { return _cache.size(); }

  private:
    struct Cached {
        std::weak_ptr<View> owner;
        bool tracked = false;  // false when the view is not held by a shared_ptr
        GLTexture texture;
        int width = 0, height = 0;
        std::uint64_t lastUsed = 0;
    };
    struct ClipRect {
        int x0, y0, x1, y1;  // window pixels, top-left origin, exclusive end
        bool empty() const { return x1 <= x0 || y1 <= y0; }
    };

    enum ProgramKind { kColorProgram, kCanvasProgram, kOpaqueLayerProgram, kLayerProgram };
    static constexpr int kProgramCount = 4;
    static constexpr GLuint kPositionAttr = 0, kTexCoordAttr = 1;
    struct Program {
        GLProgram program;
        GLint color = -1, alpha = -1, sampler = -1;
    };

    bool buildPrograms();
    void use(ProgramKind kind);
    void setBlending(bool on);
    void drawView(View& view, const AffineTransform& parentToWindow, double parentAlpha,
                  const ClipRect& clip);
    void setScissor(const ClipRect& clip);
    // With a texture, textureWidth x textureHeight is its size in texels.
    void drawQuad(const AffineTransform& toWindow, Rect rect, const float uv[8], GLuint texture = 0,
                  int textureWidth = 0, int textureHeight = 0);
    GLuint canvasTexture(View& view, int pixelWidth, int pixelHeight, double scale);

    std::shared_ptr<GLContext> _context;
    GLContext* _previous = nullptr;
    double _scale = 1;
    Color _clearColor = Color::black();
    Program _programs[kProgramCount];
    int _currentProgram = -1;
    bool _blending = false;
    // Views whose background the clear has drawn.
    std::vector<const View*> _clearedBackgrounds;
    GLint _maxTextureSize = 2048;
    int _width = 0, _height = 0;
    ClipRect _scissor{0, 0, 0, 0};
    bool _scissorOn = false;
    std::unordered_map<const View*, Cached> _cache;
    std::uint64_t _frame = 0;
    FrameStats _stats;
};

}  // namespace quorbit::platform
