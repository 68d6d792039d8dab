#include "gpu/RecordingPass.h"

#include <cstring>

#include "platform/gl/GLSupport.h"

namespace quorbit::gpu {

const std::uint8_t* RecordingPass::draw(const std::shared_ptr<platform::GLContext>& context,
                                        ShaderProgram& program, GLuint texture, int width,
                                        int height, int cameraType, platform::Point centre) {
    if (width <= 0 || height <= 0 || !context) return nullptr;
    context->makeCurrent();
    program.enable();
    if (!program.program()) return nullptr;
    if (!_framebuffer || width != _width || height != _height) {
        _target = platform::makeTexture(context, GL_RGBA, width, height, GL_RGBA, nullptr);
        _framebuffer = platform::GLFramebuffer::make(context);
        if (!_target || !_framebuffer) return nullptr;
        glBindFramebuffer(GL_FRAMEBUFFER, _framebuffer.name());
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, _target.name(),
                               0);
        bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        if (!complete) {
            _framebuffer = {};
            return nullptr;
        }
        _width = width;
        _height = height;
        const std::size_t bytes = std::size_t(width) * std::size_t(height) * 4;
        _rows.assign(bytes, 0);
        _picture.assign(bytes, 0);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, _framebuffer.name());
    glViewport(0, 0, width, height);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    drawQuad(program, texture,
             cameraType == capture::kCameraFront ? kFrontCameraTexCoords : kBackCameraTexCoords,
             quadUniforms(cameraType, {double(width), double(height)}, centre));
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, _rows.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (glGetError() != GL_NO_ERROR) return nullptr;
    // GL's rows count from the bottom; the picture's from its top.
    const std::size_t stride = std::size_t(width) * 4;
    for (int row = 0; row < height; ++row)
        std::memcpy(_picture.data() + std::size_t(row) * stride,
                    _rows.data() + std::size_t(height - 1 - row) * stride, stride);
    return _picture.data();
}

}  // namespace quorbit::gpu
