#include "platform/ui/Compositor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "platform/core/Log.h"
#include "platform/gfx/Canvas.h"
#include "platform/gl/GLContext.h"
#include "platform/gl/GLLayer.h"
#include "platform/gl/GLSupport.h"
#include "platform/ui/View.h"

namespace quorbit::platform {
namespace {

const char* kVertexShader = R"(
attribute vec2 a_position;
attribute vec2 a_texCoord;
varying vec2 v_texCoord;
void main() {
    gl_Position = vec4(a_position, 0.0, 1.0);
    v_texCoord = a_texCoord;
}
)";

// One fragment shader per kind of quad, so that none of them branches.
const char* kColorShader = R"(
precision mediump float;
uniform vec4 u_color;
void main() { gl_FragColor = u_color; }
)";

// A Canvas picture: premultiplied B,G,R,A bytes, uploaded as RGBA.
const char* kCanvasShader = R"(
precision mediump float;
varying vec2 v_texCoord;
uniform sampler2D u_texture;
uniform float u_alpha;
void main() { gl_FragColor = texture2D(u_texture, v_texCoord).bgra * u_alpha; }
)";

const char* kOpaqueLayerShader = R"(
precision mediump float;
varying vec2 v_texCoord;
uniform sampler2D u_texture;
uniform float u_alpha;
void main() { gl_FragColor = vec4(texture2D(u_texture, v_texCoord).rgb, 1.0) * u_alpha; }
)";

// A GL picture with premultiplied alpha.
const char* kLayerShader = R"(
precision mediump float;
varying vec2 v_texCoord;
uniform sampler2D u_texture;
uniform float u_alpha;
void main() { gl_FragColor = texture2D(u_texture, v_texCoord) * u_alpha; }
)";

// Texture coordinates for the corners top-left, top-right, bottom-left, bottom-right.
// A Canvas picture is uploaded top row first; a GL picture has its top row last.
const float kCanvasUV[8] = {0, 0, 1, 0, 0, 1, 1, 1};
const float kLayerUV[8] = {0, 1, 1, 1, 0, 0, 1, 0};

// An unused picture of a view that is not held by a shared_ptr (so its death cannot be
// seen) is dropped after this many frames; it is drawn again if the view shows up again.
constexpr std::uint64_t kUntrackedLifetime = 600;

}  // namespace

Result<std::unique_ptr<Compositor>> Compositor::create(std::shared_ptr<GLContext> context) {
    if (!context)
        return Error::make(GLError::NoCompositorContext, "the compositor needs a GL context");
    auto compositor = std::make_unique<Compositor>(std::move(context));
    if (!compositor->_programs[kLayerProgram].program)
        return Error::make(GLError::CompositorProgram, "cannot build the compositor's GL program");
    return compositor;
}

Compositor::Compositor(std::shared_ptr<GLContext> context) : _context(std::move(context)) {
    if (!_context) return;
    GLContext* previous = GLContext::current();
    _context->makeCurrent();
    buildPrograms();
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &_maxTextureSize);
    if (previous && previous != _context.get()) previous->makeCurrent();
}

Compositor::~Compositor() {
    if (!_context) return;
    GLContext* previous = GLContext::current();
    _context->makeCurrent();
    // Deleted here, while the compositor's context is current, so that the owners need not
    // switch contexts for each object.
    _cache.clear();
    for (auto& program : _programs)
        program.program.reset();
    if (previous && previous != _context.get()) previous->makeCurrent();
}

bool Compositor::buildPrograms() {
    const char* fragments[kProgramCount] = {kColorShader, kCanvasShader, kOpaqueLayerShader,
                                            kLayerShader};
    for (int kind = 0; kind < kProgramCount; ++kind) {
        auto built = buildProgram(_context, kVertexShader, fragments[kind],
                                  {{kPositionAttr, "a_position"}, {kTexCoordAttr, "a_texCoord"}});
        if (!built) {
            Log::error("compositor: " + built.error().localizedDescription());
            return false;
        }
        Program& p = _programs[kind];
        p.program = std::move(built).value();
        GLuint program = p.program.name();
        p.color = glGetUniformLocation(program, "u_color");
        p.alpha = glGetUniformLocation(program, "u_alpha");
        p.sampler = glGetUniformLocation(program, "u_texture");
        glUseProgram(program);
        if (p.sampler >= 0) glUniform1i(p.sampler, 0);
    }
    glUseProgram(0);
    return true;
}

void Compositor::use(ProgramKind kind) {
    if (_currentProgram == kind) return;
    _currentProgram = kind;
    glUseProgram(_programs[kind].program.name());
}

void Compositor::setBlending(bool on) {
    if (_blending == on) return;
    _blending = on;
    if (on)
        glEnable(GL_BLEND);
    else
        glDisable(GL_BLEND);
}

void Compositor::setScale(double scale) {
    if (scale <= 0 || scale == _scale) return;
    _scale = scale;
    // Every picture must be drawn again at the new resolution.
    _cache.clear();
}

void Compositor::restoreContext() {
    if (_previous && _previous != _context.get()) _previous->makeCurrent();
    _previous = nullptr;
}

void Compositor::draw(const std::vector<View*>& roots, int width, int height, GLuint framebuffer) {
    _stats = {};
    if (!_context || !_programs[kLayerProgram].program || width <= 0 || height <= 0) return;
    GLContext* current = GLContext::current();
    if (current != _context.get()) _previous = current;
    _context->makeCurrent();
    ++_frame;

    for (View* root : roots) {
        if (root && !root->isHidden()) root->layoutIfNeeded();
    }

    _width = width;
    _height = height;
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glViewport(0, 0, width, height);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_SCISSOR_TEST);
    _scissorOn = false;
    // An opaque background that covers everything is drawn by the clear itself, which costs
    // far less than a quad over the whole target: the first window's, or that of the first
    // view inside it (a screen's root view) when nothing is drawn before it.
    Color clear = _clearColor;
    _clearedBackgrounds.clear();
    View* first = nullptr;
    for (View* root : roots) {
        if (root && !root->isHidden()) {
            first = root;
            break;
        }
    }
    for (View* view = first;
         view && !view->isHidden() && view->alpha() >= 1 && view->transform().isIdentity();) {
        auto color = view->backgroundColor();
        Rect f = view->frame();
        bool covers = f.minX() <= 0 && f.minY() <= 0 && f.maxX() * _scale >= width &&
                      f.maxY() * _scale >= height;
        if (color && color->a >= 1 && covers) {
            clear = *color;
            _clearedBackgrounds.push_back(view);
        } else if (color && color->a > 0) {
            break;  // it paints something of its own under its children
        }
        // Only when the view itself shows nothing else is its first child the next thing drawn.
        GLLayer* layer = view->glLayer();
        if (view->draws() || (layer && layer->hasContent()) || view->subviews().empty() ||
            view->bounds().origin != Point{} || !covers)
            break;
        view = view->subviews().front().get();
    }
    glClearColor(float(clear.r), float(clear.g), float(clear.b), 1.f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_BLEND);
    _blending = false;
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    _currentProgram = -1;
    glActiveTexture(GL_TEXTURE0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glEnableVertexAttribArray(kPositionAttr);
    glEnableVertexAttribArray(kTexCoordAttr);

    ClipRect full{0, 0, width, height};
    for (View* root : roots) {
        if (root) drawView(*root, AffineTransform::identity(), 1.0, full);
    }

    glDisableVertexAttribArray(kPositionAttr);
    glDisableVertexAttribArray(kTexCoordAttr);
    glDisable(GL_SCISSOR_TEST);
    setBlending(false);
    glUseProgram(0);
    glBindTexture(GL_TEXTURE_2D, 0);
    collectGarbage();
    _stats.cachedTextures = static_cast<int>(_cache.size());
}

void Compositor::collectGarbage() {
    for (auto it = _cache.begin(); it != _cache.end();) {
        const Cached& entry = it->second;
        bool dead =
            entry.tracked ? entry.owner.expired() : _frame - entry.lastUsed > kUntrackedLifetime;
        it = dead ? _cache.erase(it) : std::next(it);
    }
}

void Compositor::setScissor(const ClipRect& clip) {
    bool whole = clip.x0 <= 0 && clip.y0 <= 0 && clip.x1 >= _width && clip.y1 >= _height;
    if (whole) {
        if (_scissorOn) glDisable(GL_SCISSOR_TEST);
        _scissorOn = false;
        return;
    }
    if (!_scissorOn) glEnable(GL_SCISSOR_TEST);
    _scissorOn = true;
    if (clip.x0 == _scissor.x0 && clip.y0 == _scissor.y0 && clip.x1 == _scissor.x1 &&
        clip.y1 == _scissor.y1)
        return;
    _scissor = clip;
    // GL counts rows from the bottom.
    glScissor(clip.x0, _height - clip.y1, clip.x1 - clip.x0, clip.y1 - clip.y0);
}

void Compositor::drawQuad(const AffineTransform& toWindow, Rect rect, const float uv[8],
                          GLuint texture, int textureWidth, int textureHeight) {
    const Point corners[4] = {{rect.minX(), rect.minY()},
                              {rect.maxX(), rect.minY()},
                              {rect.minX(), rect.maxY()},
                              {rect.maxX(), rect.maxY()}};
    float vertices[16];
    Point pixels[4];
    for (int i = 0; i < 4; ++i) {
        Point w = toWindow.apply(corners[i]);
        pixels[i] = {w.x * _scale, w.y * _scale};
        vertices[i * 4 + 0] = float(pixels[i].x / _width * 2 - 1);
        vertices[i * 4 + 1] = float(1 - pixels[i].y / _height * 2);
        vertices[i * 4 + 2] = uv[i * 2];
        vertices[i * 4 + 3] = uv[i * 2 + 1];
    }
    if (texture) {
        // A picture that lands texel for pixel is copied (nearest), which is much cheaper
        // than filtering where GL runs on the CPU; anything scaled or turned is filtered.
        auto whole = [](double v) { return std::abs(v - std::round(v)) < 1e-3; };
        bool exact = toWindow.b == 0 && toWindow.c == 0 && whole(pixels[0].x) &&
                     whole(pixels[0].y) && whole(pixels[3].x - pixels[0].x - textureWidth) &&
                     whole(pixels[3].y - pixels[0].y - textureHeight);
        GLint filter = exact ? GL_NEAREST : GL_LINEAR;
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    }
    glVertexAttribPointer(kPositionAttr, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(float), vertices);
    glVertexAttribPointer(kTexCoordAttr, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(float), vertices + 2);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

void Compositor::drawView(View& view, const AffineTransform& parentToWindow, double parentAlpha,
                          const ClipRect& clip) {
    if (view.isHidden()) return;
    double alpha = parentAlpha * view.alpha();
    if (alpha <= 0.001) return;

    // The view's bounds coordinates -> its parent's: the transform applies about the centre,
    // and the bounds origin shifts what the view shows.
    Rect bounds = view.bounds();
    Rect frame = view.frame();
    AffineTransform local = AffineTransform::translation(-bounds.minX() - bounds.width() / 2,
                                                         -bounds.minY() - bounds.height() / 2)
                                .concat(view.transform())
                                .concat(AffineTransform::translation(frame.midX(), frame.midY()));
    AffineTransform toWindow = local.concat(parentToWindow);

    // The view's extent in window pixels (the bounding box when rotated), within the clip.
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (Point c : {Point{bounds.minX(), bounds.minY()}, Point{bounds.maxX(), bounds.minY()},
                    Point{bounds.minX(), bounds.maxY()}, Point{bounds.maxX(), bounds.maxY()}}) {
        Point w = toWindow.apply(c);
        x0 = std::min(x0, w.x * _scale);
        y0 = std::min(y0, w.y * _scale);
        x1 = std::max(x1, w.x * _scale);
        y1 = std::max(y1, w.y * _scale);
    }
    auto clampInt = [](double v, int lo, int hi) {
        return static_cast<int>(std::clamp(v, double(lo), double(hi)));
    };
    ClipRect box{std::max(clip.x0, clampInt(std::floor(x0 + 1e-6), 0, _width)),
                 std::max(clip.y0, clampInt(std::floor(y0 + 1e-6), 0, _height)),
                 std::min(clip.x1, clampInt(std::ceil(x1 - 1e-6), 0, _width)),
                 std::min(clip.y1, clampInt(std::ceil(y1 - 1e-6), 0, _height))};

    if (!box.empty() && !bounds.isEmpty()) {
        bool drew = false;
        setScissor(clip);
        GLLayer* layer = view.glLayer();
        bool layerShown = layer && layer->hasContent();
        // An opaque layer that is shown whole hides its view's background: no quad for it.
        bool hidesBackground = layerShown && layer->isOpaque() && alpha >= 1;
        if (auto color = view.backgroundColor();
            color && color->a > 0 && !hidesBackground &&
            std::find(_clearedBackgrounds.begin(), _clearedBackgrounds.end(), &view) ==
                _clearedBackgrounds.end()) {
            double a = color->a * alpha;
            use(kColorProgram);
            setBlending(a < 1);
            glUniform4f(_programs[kColorProgram].color, float(color->r * a), float(color->g * a),
                        float(color->b * a), float(a));
            drawQuad(toWindow, bounds, kCanvasUV);
            drew = true;
        }
        if (layerShown) {
            ProgramKind kind = layer->isOpaque() ? kOpaqueLayerProgram : kLayerProgram;
            use(kind);
            setBlending(kind == kLayerProgram || alpha < 1);
            glUniform1f(_programs[kind].alpha, float(alpha));
            drawQuad(toWindow, bounds, kLayerUV, layer->texture(), layer->textureWidth(),
                     layer->textureHeight());
            ++_stats.layerQuads;
            drew = true;
        }
        if (view.draws()) {
            double scale = _scale;
            double longest = std::max(bounds.width(), bounds.height());
            if (longest * scale > _maxTextureSize) scale = _maxTextureSize / longest;
            int pw = std::max(1, static_cast<int>(std::ceil(bounds.width() * scale - 1e-6)));
            int ph = std::max(1, static_cast<int>(std::ceil(bounds.height() * scale - 1e-6)));
            if (GLuint texture = canvasTexture(view, pw, ph, scale)) {
                use(kCanvasProgram);
                setBlending(true);
                glUniform1f(_programs[kCanvasProgram].alpha, float(alpha));
                // The picture covers whole pixels; stretch the quad to match it exactly.
                Rect covered(bounds.minX(), bounds.minY(), pw / scale, ph / scale);
                drawQuad(toWindow, covered, kCanvasUV, texture, pw, ph);
                drew = true;
            }
        }
        if (drew) ++_stats.viewsDrawn;
    }

    ClipRect childClip = clip;
    if (view.clipsToBounds()) {
        childClip = box;
        if (childClip.empty()) return;
    }
    // Children may be added or removed by layout or drawing; walk a copy.
    auto children = view.subviews();
    for (auto& child : children)
        drawView(*child, toWindow, alpha, childClip);
}

GLuint Compositor::canvasTexture(View& view, int pixelWidth, int pixelHeight, double scale) {
    auto it = _cache.find(&view);
    // A new view may live at the address of one that died since the last sweep.
    if (it != _cache.end() && it->second.tracked && it->second.owner.expired()) _cache.erase(it);
    Cached& entry = _cache[&view];
    entry.lastUsed = _frame;
    bool sizeChanged = entry.width != pixelWidth || entry.height != pixelHeight;
    if (entry.texture && !view.needsDisplay() && !sizeChanged) return entry.texture.name();

    entry.owner = view.weak_from_this();
    entry.tracked = !entry.owner.expired();
    Canvas canvas(pixelWidth, pixelHeight, scale);
    Rect bounds = view.bounds();
    if (bounds.minX() != 0 || bounds.minY() != 0) canvas.translate(-bounds.minX(), -bounds.minY());
    view.draw(canvas);
    view.clearNeedsDisplay();
    ++_stats.canvasRedraws;

    const std::uint8_t* data = canvas.data();
    int stride = canvas.stride();
    std::vector<std::uint8_t> packed;
    if (stride != pixelWidth * 4) {
        packed.resize(std::size_t(pixelWidth) * 4 * std::size_t(pixelHeight));
        for (int y = 0; y < pixelHeight; ++y)
            std::memcpy(packed.data() + std::size_t(y) * pixelWidth * 4,
                        data + std::size_t(y) * std::size_t(stride), std::size_t(pixelWidth) * 4);
        data = packed.data();
    }
    if (!entry.texture) {
        entry.texture = GLTexture::make(_context);
        if (!entry.texture) return 0;
        sizeChanged = true;
    }
    if (sizeChanged) {
        setUpTexture(entry.texture.name(), GL_RGBA, pixelWidth, pixelHeight, GL_RGBA, data);
    } else {
        glBindTexture(GL_TEXTURE_2D, entry.texture.name());
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, pixelWidth, pixelHeight, GL_RGBA, GL_UNSIGNED_BYTE,
                        data);
    }
    entry.width = pixelWidth;
    entry.height = pixelHeight;
    return entry.texture.name();
}

Image Compositor::readPixels(int width, int height) {
    return readBoundFramebuffer(width, height, ReadBackAlpha::Opaque);
}

}  // namespace quorbit::platform
