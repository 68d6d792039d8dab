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

// The first line of a compile or link log that says anything.
std::string firstLine(const std::string& log) {
    size_t start = log.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) return "no log";
    size_t end = log.find_first_of("\r\n", start);
    return log.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Compiles one shader; returns its name, or 0 after deleting it when it did not compile
// (the first line of its log then in failure).
GLuint compileShader(GLenum type, const std::string& source, std::string& failure) {
    GLuint shader = glCreateShader(type);
    const GLchar* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint status = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    if (status) return shader;
    std::string log = infoLog(shader, false);
    if (Log::enabled(Log::Level::Debug)) {
        Log::debug(std::string(type == GL_VERTEX_SHADER ? "vertex" : "fragment") +
                   " shader did not compile: " + log);
    }
    failure = "does not compile: " + firstLine(log);
    glDeleteShader(shader);
    return 0;
}

}  // namespace

ShaderProgram::ShaderProgram(const std::string& vertShaderFile, const std::string& fragShaderFile)
    : _vertShaderName(vertShaderFile + ".vsh"), _fragShaderName(fragShaderFile + ".fsh") {
    auto& bundle = platform::Bundle::main();
    setVertShaderSource(bundle.readResource(vertShaderFile, "vsh", "shaders"));
    setFragShaderSource(bundle.readResource(fragShaderFile, "fsh", "shaders"));
}

ShaderProgram::~ShaderProgram() {
    disable();
}

bool ShaderProgram::compile() {
    if (_program) return true;
    _buildFailure.clear();
    for (const auto* source : {&_vertShaderSource, &_fragShaderSource}) {
        if (!*source) {
            _buildFailure = (source == &_vertShaderSource ? _vertShaderName : _fragShaderName) +
                            " is missing or unreadable in " +
                            (platform::Bundle::main().resourcesDir() / "shaders").string();
            return false;
        }
    }
    std::string failure;
    GLuint vertex = compileShader(GL_VERTEX_SHADER, *_vertShaderSource, failure);
    if (!vertex) {
        _buildFailure = _vertShaderName + " " + failure;
        return false;
    }
    GLuint fragment = compileShader(GL_FRAGMENT_SHADER, *_fragShaderSource, failure);
    if (!fragment) {
        _buildFailure = _fragShaderName + " " + failure;
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
        std::string log = infoLog(program, true);
        if (Log::enabled(Log::Level::Debug)) Log::debug("shader program did not link: " + log);
        _buildFailure = "the program does not link: " + firstLine(log);
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
