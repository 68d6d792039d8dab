#include "gpu/ShaderProgram.h"

#include <vector>

#include "platform/core/Bundle.h"
#include "platform/core/Log.h"

namespace quorbit::gpu {
namespace {

using platform::Log;

std::string infoLog(GLuint object, bool isProgram) {
    GLint length = 0;
    if (isProgram)
        glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    else
        glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    if (length <= 1) return {};
    std::vector<char> text(static_cast<size_t>(length));
    if (isProgram)
        glGetProgramInfoLog(object, length, nullptr, text.data());
    else
        glGetShaderInfoLog(object, length, nullptr, text.data());
    return std::string(text.data());
}

// Compiles one shader; returns its name, or 0 after deleting it when it did not compile.
GLuint compileShader(GLenum type, const std::string& source) {
    GLuint shader = glCreateShader(type);
    const GLchar* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint status = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    if (status) return shader;
    if (Log::enabled(Log::Level::Debug)) {
        Log::debug(std::string(type == GL_VERTEX_SHADER ? "vertex" : "fragment") +
                   " shader did not compile: " + infoLog(shader, false));
    }
    glDeleteShader(shader);
    return 0;
}

}  // namespace

ShaderProgram::ShaderProgram(const std::string& vertShaderFile, const std::string& fragShaderFile) {
    auto& bundle = platform::Bundle::main();
    setVertShaderSource(bundle.readResource(vertShaderFile, "vsh", "shaders"));
    setFragShaderSource(bundle.readResource(fragShaderFile, "fsh", "shaders"));
}

ShaderProgram::~ShaderProgram() {
    disable();
}

bool ShaderProgram::compile() {
    if (_program) return true;
    if (!_vertShaderSource || !_fragShaderSource) return false;
    GLuint vertex = compileShader(GL_VERTEX_SHADER, *_vertShaderSource);
    if (!vertex) return false;
    GLuint fragment = compileShader(GL_FRAGMENT_SHADER, *_fragShaderSource);
    if (!fragment) {
        glDeleteShader(vertex);
        return false;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    // The shaders go with the program once it is linked; on failure everything goes now.
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    GLint status = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    if (!status) {
        if (Log::enabled(Log::Level::Debug))
            Log::debug("shader program did not link: " + infoLog(program, true));
        glDeleteProgram(program);
        return false;
    }
    _program = program;
    return true;
}

bool ShaderProgram::enable() {
    if (!_program) compile();
    glUseProgram(_program);
    return true;
}

void ShaderProgram::disable() {
    if (!_program) return;
    glDeleteProgram(_program);
    _program = 0;
}

GLint ShaderProgram::getAttributeLocation(const std::string& name) const {
    if (!_program) return 0;
    return glGetAttribLocation(_program, name.c_str());
}

GLint ShaderProgram::getUniformLocation(const std::string& name) const {
    if (!_program) return 0;
    return glGetUniformLocation(_program, name.c_str());
}

}  // namespace quorbit::gpu
