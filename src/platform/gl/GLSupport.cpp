#include "platform/gl/GLSupport.h"

#include <cstring>
#include <vector>

#include "platform/gl/GLContext.h"

namespace quorbit::platform {
namespace {

std::string infoLog(GLuint object, bool isProgram) {
    GLint length = 0;
    if (isProgram)
        glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    else
        glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    if (length <= 1) return "(no log)";
    std::vector<char> text(static_cast<size_t>(length));
    if (isProgram)
        glGetProgramInfoLog(object, length, nullptr, text.data());
    else
        glGetShaderInfoLog(object, length, nullptr, text.data());
    std::string log(text.data());
    while (!log.empty() && (log.back() == '\n' || log.back() == ' '))
        log.pop_back();
    return log;
}

Result<GLShader> compileShader(const std::shared_ptr<GLContext>& context, GLenum type,
                               const std::string& source) {
    const char* kind = type == GL_VERTEX_SHADER ? "vertex" : "fragment";
    GLShader shader = GLShader::make(context, type);
    if (!shader)
        return Error::make(GLError::NoGLObject, std::string(kind) + " shader cannot be made");
    const GLchar* text = source.c_str();
    glShaderSource(shader.name(), 1, &text, nullptr);
    glCompileShader(shader.name());
    GLint status = 0;
    glGetShaderiv(shader.name(), GL_COMPILE_STATUS, &status);
    if (!status)
        return Error::make(
            type == GL_VERTEX_SHADER ? GLError::VertexShader : GLError::FragmentShader,
            std::string(kind) + " shader does not compile: " + infoLog(shader.name(), false));
    return shader;
}

}  // namespace

void setUpTexture(GLuint texture, GLint internalFormat, int width, int height, GLenum format,
                  const void* pixels) {
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);  // rows of 4-byte texels are always aligned
    glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, width, height, 0, format, GL_UNSIGNED_BYTE,
                 pixels);
}

GLTexture makeTexture(std::shared_ptr<GLContext> context, GLint internalFormat, int width,
                      int height, GLenum format, const void* pixels) {
    GLTexture texture = GLTexture::make(std::move(context));
    if (texture) setUpTexture(texture.name(), internalFormat, width, height, format, pixels);
    return texture;
}

Result<GLProgram> buildProgram(std::shared_ptr<GLContext> context, const std::string& vertexSource,
                               const std::string& fragmentSource,
                               std::initializer_list<GLAttributeBinding> bindings) {
    auto vertex = compileShader(context, GL_VERTEX_SHADER, vertexSource);
    if (!vertex) return vertex.error();
    auto fragment = compileShader(context, GL_FRAGMENT_SHADER, fragmentSource);
    if (!fragment) return fragment.error();
    GLProgram program = GLProgram::make(context);
    if (!program) return Error::make(GLError::NoGLObject, "program cannot be made");
    glAttachShader(program.name(), vertex->name());
    glAttachShader(program.name(), fragment->name());
    for (const auto& binding : bindings)
        glBindAttribLocation(program.name(), binding.location, binding.name);
    glLinkProgram(program.name());
    // The shaders are deleted on return: a linked program keeps what it needs.
    GLint status = 0;
    glGetProgramiv(program.name(), GL_LINK_STATUS, &status);
    if (!status)
        return Error::make(GLError::ProgramLink,
                           "program does not link: " + infoLog(program.name(), true));
    return program;
}

Image readBoundFramebuffer(int width, int height, ReadBackAlpha alpha) {
    if (width <= 0 || height <= 0) return {};
    std::size_t rowBytes = std::size_t(width) * 4;
    std::vector<std::uint8_t> bottomFirst(rowBytes * std::size_t(height));
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bottomFirst.data());
    Image image(width, height);
    for (int y = 0; y < height; ++y) {
        std::memcpy(image.data() + std::size_t(y) * rowBytes,
                    bottomFirst.data() + std::size_t(height - 1 - y) * rowBytes, rowBytes);
    }
    if (alpha == ReadBackAlpha::Opaque) {
        for (std::size_t i = 3; i < image.pixels().size(); i += 4)
            image.pixels()[i] = 255;
    }
    return image;
}

}  // namespace quorbit::platform
