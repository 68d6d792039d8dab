#include "gpu/FrameDrawing.h"

#include "capture/CaptureDevice.h"
#include "platform/core/Log.h"
#include "platform/gl/GLSupport.h"

namespace quorbit::gpu {

const GLfloat kSquareVertices[8] = {-1, -1, 1, -1, -1, 1, 1, 1};
const GLfloat kBackCameraTexCoords[8] = {1, 1, 1, 0, 0, 1, 0, 0};
const GLfloat kFrontCameraTexCoords[8] = {1, 0, 1, 1, 0, 0, 0, 1};

namespace {

// The turning pass draws the whole target (s across it, t up it, as a texture's coordinates
// run) from the frame coordinates at its corners, in strip order: for each rotation, the
// frame's point that shows at (s, t) in the rotation-90 layout.
const GLfloat kTurnFrom0[8] = {1, 0, 1, 1, 0, 0, 0, 1};    // (1 - t, s)
const GLfloat kTurnFrom180[8] = {0, 1, 0, 0, 1, 1, 1, 0};  // (t, 1 - s)
const GLfloat kTurnFrom270[8] = {1, 1, 0, 1, 1, 0, 0, 0};  // (1 - s, 1 - t)

const char* const kTurnVertexShader = R"(
attribute vec2 position;
attribute vec2 texCoord;
varying vec2 v_texCoord;
void main() {
    v_texCoord = texCoord;
    gl_Position = vec4(position, 0.0, 1.0);
}
)";

const char* const kTurnFragmentShader = R"(
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif
uniform sampler2D s_texture;
varying vec2 v_texCoord;
void main() {
    gl_FragColor = texture2D(s_texture, v_texCoord);
}
)";

constexpr GLuint kTurnPosition = 0, kTurnTexCoord = 1;

// The rotation as 0, 90, 180 or 270 (-90 is 270); anything but a quarter turn counts as 0.
int normalRotation(int rotation) {
    int r = ((rotation % 360) + 360) % 360;
    return capture::isRotation(r) ? r : 0;
}

}  // namespace

platform::Size uprightSize(int width, int height, int rotation) {
    int r = normalRotation(rotation);
    if (r == 90 || r == 270) return {double(height), double(width)};
    return {double(width), double(height)};
}

bool CameraTexture::upload(const capture::PixelBuffer& frame,
                           const std::shared_ptr<platform::GLContext>& context) {
    _current = 0;
    if (!context) return false;
    GLint internalFormat = context->bgraInternalFormat();
    _frame = platform::makeTexture(context, internalFormat, frame.width(), frame.height(),
                                   GL_BGRA_EXT, frame.baseAddress());
    if (!_frame) return false;
    int r = normalRotation(frame.rotation());
    if (r == 90) {
        _current = _frame.name();
        return true;
    }
    if (!turn(frame, context)) {
        _frame.reset();
        return false;
    }
    _current = _turned.name();
    _frame.reset();  // the turned texture holds the picture now
    return true;
}

bool CameraTexture::turn(const capture::PixelBuffer& frame,
                         const std::shared_ptr<platform::GLContext>& context) {
    int r = normalRotation(frame.rotation());
    // The target is a frame at rotation 90 showing the same upright picture.
    platform::Size upright = uprightSize(frame.width(), frame.height(), r);
    int width = int(upright.height), height = int(upright.width);

    // What is kept belongs to one context and one size; anything else starts afresh.
    if (_turned &&
        (_turned.context() != context || _turnedWidth != width || _turnedHeight != height)) {
        _turnedFramebuffer.reset();
        _turned.reset();
    }
    if (_turnProgram && _turnProgram.context() != context) _turnProgram.reset();
    if (!_turnProgram) {
        auto built =
            platform::buildProgram(context, kTurnVertexShader, kTurnFragmentShader,
                                   {{kTurnPosition, "position"}, {kTurnTexCoord, "texCoord"}});
        if (!built) {
            platform::Log::error("the camera picture cannot be turned: " +
                                 built.error().localizedDescription());
            return false;
        }
        _turnProgram = std::move(built).value();
    }
    if (!_turned) {
        _turned = platform::makeTexture(context, GL_RGBA, width, height, GL_RGBA, nullptr);
        _turnedFramebuffer = platform::GLFramebuffer::make(context);
        if (!_turned || !_turnedFramebuffer) {
            _turnedFramebuffer.reset();
            _turned.reset();
            return false;
        }
        glBindFramebuffer(GL_FRAMEBUFFER, _turnedFramebuffer.name());
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, _turned.name(),
                               0);
        if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
            platform::Log::error("the camera picture cannot be turned: incomplete framebuffer");
            _turnedFramebuffer.reset();
            _turned.reset();
            return false;
        }
        _turnedWidth = width;
        _turnedHeight = height;
    }
    context->makeCurrent();

    // Leaves the binding and viewport as they were, for whoever draws next.
    GLint previousFramebuffer = 0, previousViewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previousFramebuffer);
    glGetIntegerv(GL_VIEWPORT, previousViewport);

    glBindFramebuffer(GL_FRAMEBUFFER, _turnedFramebuffer.name());
    glViewport(0, 0, width, height);
    glUseProgram(_turnProgram.name());
    const GLfloat* from = r == 0 ? kTurnFrom0 : r == 180 ? kTurnFrom180 : kTurnFrom270;
    glVertexAttribPointer(kTurnPosition, 2, GL_FLOAT, GL_FALSE, 0, kSquareVertices);
    glEnableVertexAttribArray(kTurnPosition);
    glVertexAttribPointer(kTurnTexCoord, 2, GL_FLOAT, GL_FALSE, 0, from);
    glEnableVertexAttribArray(kTurnTexCoord);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, _frame.name());
    glUniform1i(glGetUniformLocation(_turnProgram.name(), "s_texture"), 0);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    // Whoever draws next installs a program of their own; none stays installed meanwhile, so
    // that deleting this one (with the texture) really frees it.
    glUseProgram(0);

    glBindFramebuffer(GL_FRAMEBUFFER, GLuint(previousFramebuffer));
    glViewport(previousViewport[0], previousViewport[1], previousViewport[2], previousViewport[3]);
    return true;
}

void CameraTexture::reset() {
    _current = 0;
    _frame.reset();
}

platform::Point frameCoordinateAt(int cameraType, platform::Point viewPoint) {
    const GLfloat* t =
        cameraType == capture::kCameraFront ? kFrontCameraTexCoords : kBackCameraTexCoords;
    // Corners in strip order: bottom left, bottom right, top left, top right.
    double x = viewPoint.x, up = 1.0 - viewPoint.y;
    auto at = [&](int k) {
        double bottom = t[0 + k] * (1 - x) + t[2 + k] * x;
        double top = t[4 + k] * (1 - x) + t[6 + k] * x;
        return bottom * (1 - up) + top * up;
    };
    return {at(0), at(1)};
}

QuadUniforms quadUniforms(int cameraType, platform::Size picture, platform::Point viewCentre) {
    QuadUniforms uniforms;
    uniforms.aspect = picture.width > 0 ? GLfloat(picture.height / picture.width) : 1.0f;
    uniforms.width = GLfloat(picture.width);
    uniforms.height = GLfloat(picture.height);
    uniforms.centre = frameCoordinateAt(cameraType, viewCentre);
    return uniforms;
}

void drawQuad(ShaderProgram& program, GLuint texture, const GLfloat texCoords[8],
              const QuadUniforms& uniforms) {
    program.enable();
    if (!program.program()) return;
    GLint position = program.getAttributeLocation("position");
    GLint texCoord = program.getAttributeLocation("texCoord");
    GLint centre = program.getUniformLocation("u_center");
    glVertexAttribPointer(GLuint(position), 2, GL_FLOAT, GL_FALSE, 0, kSquareVertices);
    glEnableVertexAttribArray(GLuint(position));
    glVertexAttribPointer(GLuint(texCoord), 2, GL_FLOAT, GL_FALSE, 0, texCoords);
    glEnableVertexAttribArray(GLuint(texCoord));
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture);
    glUniform1i(program.getUniformLocation("s_texture"), 0);
    glUniform2f(program.getUniformLocation("u_scale"), 1.0f, uniforms.aspect);
    glUniform2f(program.getUniformLocation("u_viewSize"), uniforms.width, uniforms.height);
    if (centre >= 0) glUniform2f(centre, GLfloat(uniforms.centre.x), GLfloat(uniforms.centre.y));
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

void drawFrameQuad(GLView& view, ShaderProgram& program, GLuint texture, int cameraType,
                   const platform::Color& clear, platform::Point centre) {
    program.enable();
    view.setFramebuffer();
    glClearColor(GLfloat(clear.r), GLfloat(clear.g), GLfloat(clear.b), GLfloat(clear.a));
    glClear(GL_COLOR_BUFFER_BIT);
    const GLfloat* table =
        cameraType == capture::kCameraFront ? kFrontCameraTexCoords : kBackCameraTexCoords;
    int width = view.framebufferWidth(), height = view.framebufferHeight();
    // An empty surface keeps an aspect of 1.
    platform::Size picture =
        width > 0 ? platform::Size{double(width), double(height)} : platform::Size{1, 1};
    drawQuad(program, texture, table, quadUniforms(cameraType, picture, centre));
    view.presentFramebuffer();
}

platform::Image readFramebufferImage(GLView& view) {
    view.setFramebuffer();
    return platform::readBoundFramebuffer(view.framebufferWidth(), view.framebufferHeight());
}

}  // namespace quorbit::gpu
