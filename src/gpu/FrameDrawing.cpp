#include "gpu/FrameDrawing.h"

#include <cstring>
#include <vector>

namespace quorbit::gpu {

const GLfloat kSquareVertices[8] = {-1, -1, 1, -1, -1, 1, 1, 1};
const GLfloat kBackCameraTexCoords[8] = {1, 1, 1, 0, 0, 1, 0, 0};
const GLfloat kFrontCameraTexCoords[8] = {1, 0, 1, 1, 0, 0, 0, 1};

GLuint uploadFrameTexture(const capture::PixelBuffer& frame, GLint bgraInternalFormat) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);  // rows of 4-byte pixels are always aligned
    glTexImage2D(GL_TEXTURE_2D, 0, bgraInternalFormat, frame.width(), frame.height(), 0,
                 GL_BGRA_EXT, GL_UNSIGNED_BYTE, frame.baseAddress());
    return texture;
}

void drawFrameQuad(GLView& view, ShaderProgram& program, GLuint texture, int cameraType,
                   const platform::Color& clear) {
    program.enable();
    GLint position = program.getAttributeLocation("position");
    GLint texCoord = program.getAttributeLocation("texCoord");
    GLint sampler = program.getUniformLocation("s_texture");
    GLint scale = program.getUniformLocation("u_scale");

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
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    }
    view.presentFramebuffer();
}

platform::Image readFramebufferImage(GLView& view) {
    view.setFramebuffer();
    int width = view.framebufferWidth(), height = view.framebufferHeight();
    if (width <= 0 || height <= 0) return {};
    std::vector<std::uint8_t> bottomFirst(size_t(width) * size_t(height) * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bottomFirst.data());
    platform::Image image(width, height);
    size_t row = size_t(width) * 4;
    for (int r = 0; r < height; ++r) {
        std::memcpy(image.pixel(0, height - 1 - r), bottomFirst.data() + row * size_t(r), row);
    }
    return image;
}

}  // namespace quorbit::gpu
