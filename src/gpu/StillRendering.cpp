#include "gpu/StillRendering.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/core/Log.h"
#include "platform/gl/GLObject.h"
#include "platform/gl/GLSupport.h"

namespace quorbit::gpu {
namespace {

platform::Error stillError(StillError code, const std::string& what) {
    return platform::Error::make(code, what);
}

// Copies the frame into the turned layout block by block, so that both sides stay in the
// cache: target pixel (i, j) (column, row) comes from the frame's pixel from(i, j).
template <typename From>
void turnBlocks(const std::uint32_t* frame, int frameWidth, std::uint32_t* target, int width,
                int height, From from) {
    constexpr int kBlock = 64;
    for (int j0 = 0; j0 < height; j0 += kBlock) {
        for (int i0 = 0; i0 < width; i0 += kBlock) {
            int j1 = std::min(height, j0 + kBlock), i1 = std::min(width, i0 + kBlock);
            for (int j = j0; j < j1; ++j) {
                std::uint32_t* row = target + std::size_t(j) * std::size_t(width);
                for (int i = i0; i < i1; ++i) {
                    auto [x, y] = from(i, j);
                    row[i] = frame[std::size_t(y) * std::size_t(frameWidth) + std::size_t(x)];
                }
            }
        }
    }
}

// The full picture's texture-coordinate table (strip order: bottom left, bottom right, top
// left, top right) read at a tile's corners.
void tileCoordinates(int cameraType, double left, double top, double right, double bottom,
                     GLfloat out[8]) {
    const platform::Point corners[4] = {{left, bottom}, {right, bottom}, {left, top}, {right, top}};
    for (int k = 0; k < 4; ++k) {
        platform::Point at = frameCoordinateAt(cameraType, corners[k]);
        out[2 * k] = GLfloat(at.x);
        out[2 * k + 1] = GLfloat(at.y);
    }
}

}  // namespace

RenderLimits RenderLimits::query() {
    RenderLimits limits;
    GLint viewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limits.maxTextureSize);
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &limits.maxRenderbufferSize);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
    limits.maxViewportWidth = viewport[0];
    limits.maxViewportHeight = viewport[1];
    return limits;
}

int RenderLimits::tileSide() const {
    return std::max(1, std::min({kMaxTile, maxTextureSize, maxRenderbufferSize, maxViewportWidth,
                                 maxViewportHeight}));
}

bool turnToDrawingLayout(capture::StillFrame& still) {
    int r = ((still.rotation % 360) + 360) % 360;
    if (r == 90 || !capture::isRotation(r)) {
        still.rotation = 90;
        return true;
    }
    const int fw = still.width, fh = still.height;
    // The turned frame is the upright picture lying on its side: its width is the upright
    // height.
    platform::Size upright = uprightSize(fw, fh, r);
    const int width = int(upright.height), height = int(upright.width);
    std::vector<std::uint8_t> turned;
    try {
        turned.resize(still.bgra.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    auto* target = reinterpret_cast<std::uint32_t*>(turned.data());
    const auto* frame = reinterpret_cast<const std::uint32_t*>(still.bgra.data());
    struct At {
        int x, y;
    };
    // As the live view's turning pass reads the frame: at (s, t) of the turned layout, the
    // frame's (1 - t, s) at rotation 0, (t, 1 - s) at 180 and (1 - s, 1 - t) at 270.
    if (r == 0)
        turnBlocks(frame, fw, target, width, height, [&](int i, int j) {
            return At{fw - 1 - j, i};
        });
    else if (r == 180)
        turnBlocks(frame, fw, target, width, height, [&](int i, int j) {
            return At{j, fh - 1 - i};
        });
    else
        turnBlocks(frame, fw, target, width, height, [&](int i, int j) {
            return At{fw - 1 - i, fh - 1 - j};
        });
    still.bgra = std::move(turned);
    still.width = width;
    still.height = height;
    still.rotation = 90;
    return true;
}

platform::Result<platform::Image> renderStill(const std::shared_ptr<platform::GLContext>& context,
                                              ShaderProgram& program, capture::StillFrame still,
                                              int cameraType, platform::Point centre,
                                              std::optional<RenderLimits> limits) {
    if (still.width <= 0 || still.height <= 0 || still.bgra.empty())
        return stillError(StillError::EmptyFrame, "the frame is empty");
    context->makeCurrent();
    program.enable();
    if (!program.program()) return stillError(StillError::NoProgram, "the look cannot be drawn");
    while (glGetError() != GL_NO_ERROR) {
    }
    RenderLimits gl = limits.value_or(RenderLimits::query());
    if (still.width > gl.maxTextureSize || still.height > gl.maxTextureSize) {
        return stillError(StillError::TooLarge,
                          platform::format("the frame (%d x %d) is larger than the graphics "
                                           "card's textures (%d)",
                                           still.width, still.height, gl.maxTextureSize));
    }
    platform::Size upright = stillUprightSize(still);
    const int width = int(upright.width), height = int(upright.height);

    platform::GLTexture frame =
        platform::makeTexture(context, context->bgraInternalFormat(), still.width, still.height,
                              GL_BGRA_EXT, still.bgra.data());
    GLenum uploadError = glGetError();
    std::vector<std::uint8_t>().swap(still.bgra);  // the texture holds the frame now
    if (!frame || uploadError != GL_NO_ERROR) {
        return uploadError == GL_OUT_OF_MEMORY
                   ? stillError(StillError::NoMemory, "the graphics card has no room for the frame")
                   : stillError(StillError::GLFailed, "the frame cannot be uploaded");
    }

    return drawPicture(context, program, frame.name(), width, height, cameraType, centre, gl);
}

platform::Result<platform::Image> drawPicture(const std::shared_ptr<platform::GLContext>& context,
                                              ShaderProgram& program, GLuint texture, int width,
                                              int height, int cameraType, platform::Point centre,
                                              std::optional<RenderLimits> limits) {
    context->makeCurrent();
    program.enable();
    if (!program.program()) return stillError(StillError::NoProgram, "the look cannot be drawn");
    RenderLimits gl = limits.value_or(RenderLimits::query());
    platform::Image picture;
    std::vector<std::uint8_t> rows;
    const int side = gl.tileSide();
    try {
        picture = platform::Image(width, height);
        rows.resize(std::size_t(std::min(side, width)) * std::size_t(std::min(side, height)) * 4);
    } catch (const std::bad_alloc&) {
        return stillError(StillError::NoMemory, "there is not enough memory for the photo");
    }

    const int tileWidth = std::min(side, width), tileHeight = std::min(side, height);
    platform::GLTexture tile =
        platform::makeTexture(context, GL_RGBA, tileWidth, tileHeight, GL_RGBA, nullptr);
    platform::GLFramebuffer framebuffer = platform::GLFramebuffer::make(context);
    if (!tile || !framebuffer)
        return stillError(StillError::GLFailed, "the offscreen picture cannot be made");
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.name());
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, tile.name(), 0);
    auto unbind = [] { glBindFramebuffer(GL_FRAMEBUFFER, 0); };
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        unbind();
        return stillError(StillError::GLFailed, "the offscreen picture is incomplete");
    }

    QuadUniforms uniforms = quadUniforms(cameraType, {double(width), double(height)}, centre);
    for (int y0 = 0; y0 < height; y0 += tileHeight) {
        for (int x0 = 0; x0 < width; x0 += tileWidth) {
            const int w = std::min(tileWidth, width - x0), h = std::min(tileHeight, height - y0);
            GLfloat coordinates[8];
            tileCoordinates(cameraType, double(x0) / width, double(y0) / height,
                            double(x0 + w) / width, double(y0 + h) / height, coordinates);
            glViewport(0, 0, w, h);
            glClearColor(0, 0, 0, 1);
            glClear(GL_COLOR_BUFFER_BIT);
            drawQuad(program, texture, coordinates, uniforms);
            glPixelStorei(GL_PACK_ALIGNMENT, 4);
            glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
            // GL's rows count from the bottom of the tile; the picture's from its top.
            for (int row = 0; row < h; ++row) {
                const std::uint8_t* from = rows.data() + std::size_t(h - 1 - row) * w * 4;
                std::uint8_t* to = picture.pixel(x0, y0 + row);
                for (int x = 0; x < w; ++x, from += 4, to += 4) {
                    std::memcpy(to, from, 3);
                    to[3] = 255;
                }
            }
        }
    }
    GLenum drawError = glGetError();
    unbind();
    if (drawError != GL_NO_ERROR) {
        return drawError == GL_OUT_OF_MEMORY
                   ? stillError(StillError::NoMemory, "the graphics card ran out of memory")
                   : stillError(StillError::GLFailed,
                                platform::format("drawing the photo failed (GL error 0x%x)",
                                                 unsigned(drawError)));
    }
    return picture;
}

platform::Result<platform::Image> renderFrame(const std::shared_ptr<platform::GLContext>& context,
                                              ShaderProgram& program,
                                              const capture::PixelBuffer& frame, int width,
                                              int height, int cameraType, platform::Point centre) {
    CameraTexture texture;
    if (!texture.upload(frame, context))
        return stillError(StillError::GLFailed, "the frame cannot be uploaded");
    return drawPicture(context, program, texture.name(), width, height, cameraType, centre);
}

}  // namespace quorbit::gpu
