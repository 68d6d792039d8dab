#include "gpu/FrameDrawing.h"

#include "platform/gl/GLSupport.h"

namespace quorbit::gpu {

const GLfloat kSquareVertices[8] = {-1, -1, 1, -1, -1, 1, 1, 1};
const GLfloat kBackCameraTexCoords[8] = {1, 1, 1, 0, 0, 1, 0, 0};
const GLfloat kFrontCameraTexCoords[8] = {1, 0, 1, 1, 0, 0, 0, 1};

platform::GLTexture uploadFrameTexture(const capture::PixelBuffer& frame,
                                       const std::shared_ptr<platform::GLContext>& context) {
    if (!context) return {};
    GLint internalFormat = context->bgraInternalFormat();
    return platform::makeTexture(context, internalFormat, frame.width(), frame.height(),
                                 GL_BGRA_EXT, frame.baseAddress());
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

void drawFrameQuad(GLView& view, ShaderProgram& program, GLuint texture, int cameraType,
                   const platform::Color& clear, platform::Point centre) {
    program.enable();
    GLint position = program.getAttributeLocation("position");
    GLint texCoord = program.getAttributeLocation("texCoord");
    GLint sampler = program.getUniformLocation("s_texture");
    GLint scale = program.getUniformLocation("u_scale");
    GLint centreLocation = program.getUniformLocation("u_center");
    GLint viewSize = program.getUniformLocation("u_viewSize");

    view.setFramebuffer();
    glClearColor(GLfloat(clear.r), GLfloat(clear.g), GLfloat(clear.b), GLfloat(clear.a));
    glClear(GL_COLOR_BUFFER_BIT);
    if (program.program()) {
        glVertexAttribPointer(GLuint(position), 2, GL_FLOAT, GL_FALSE, 0, kSquareVertices);
        glEnableVertexAttribArray(GLuint(position));
        const GLfloat* table =
            cameraType == capture::kCameraFront ? kFrontCameraTexCoords : kBackCameraTexCoords;
        glVertexAttribPointer(GLuint(texCoord), 2, GL_FLOAT, GL_FALSE, 0, table);
        glEnableVertexAttribArray(GLuint(texCoord));
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, texture);
        glUniform1i(sampler, 0);
        glUniform2f(scale, kFrameScale[0], kFrameScale[1]);
        glUniform2f(viewSize, GLfloat(view.framebufferWidth()), GLfloat(view.framebufferHeight()));
        if (centreLocation >= 0) {
            platform::Point at = frameCoordinateAt(cameraType, centre);
            glUniform2f(centreLocation, GLfloat(at.x), GLfloat(at.y));
        }
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    }
    view.presentFramebuffer();
}

platform::Image readFramebufferImage(GLView& view) {
    view.setFramebuffer();
    return platform::readBoundFramebuffer(view.framebufferWidth(), view.framebufferHeight());
}

}  // namespace quorbit::gpu
