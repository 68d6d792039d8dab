#include "gpu/ShaderProgram.h"

#include "platform/core/Bundle.h"
#include "platform/core/Log.h"
#include "platform/gl/GLContext.h"
#include "platform/gl/GLSupport.h"

namespace quorbit::gpu {
using platform::Log;

namespace {

// The first line of a compile or link log that says anything.
std::string firstLine(const std::string& log) {
    size_t start = log.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) return "no log";
    size_t end = log.find_first_of("\r\n", start);
    return log.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

ShaderProgram::ShaderProgram(const std::string& vertShaderFile, const std::string& fragShaderFile)
    : _vertShaderName(vertShaderFile + ".vsh"), _fragShaderName(fragShaderFile + ".fsh") {
    auto& bundle = platform::Bundle::main();
    setVertShaderSource(bundle.readResource(vertShaderFile, "vsh", "shaders"));
    setFragShaderSource(bundle.readResource(fragShaderFile, "fsh", "shaders"));
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
    auto context = platform::GLContext::currentShared();
    if (!context) {
        _buildFailure = "no GL context is current";
        Log::debug("shader program: no GL context is current");
        return false;
    }
    auto built = platform::buildProgram(std::move(context), *_vertShaderSource, *_fragShaderSource);
    if (!built) {
        // The builder's text is the failing step, then GL's whole log; the short form names
        // the file and keeps the log's first line.
        const platform::Error& error = built.error();
        const std::string message = error.localizedDescription();
        if (Log::enabled(Log::Level::Debug)) Log::debug("shader program: " + message);
        std::size_t colon = message.find(": ");
        std::string log = colon == std::string::npos ? std::string() : message.substr(colon + 2);
        if (error.is(platform::GLError::VertexShader))
            _buildFailure = _vertShaderName + " does not compile: " + firstLine(log);
        else if (error.is(platform::GLError::FragmentShader))
            _buildFailure = _fragShaderName + " does not compile: " + firstLine(log);
        else if (error.is(platform::GLError::ProgramLink))
            _buildFailure = "the program does not link: " + firstLine(log);
        else
            _buildFailure = message;
        return false;
    }
    _program = std::move(built).value();
    return true;
}

bool ShaderProgram::enable() {
    if (!_program) compile();
    glUseProgram(_program.name());
    return true;
}

void ShaderProgram::disable() {
    _program.reset();
}

GLint ShaderProgram::getAttributeLocation(const std::string& name) const {
    if (!_program) return 0;
    return glGetAttribLocation(_program.name(), name.c_str());
}

GLint ShaderProgram::getUniformLocation(const std::string& name) const {
    if (!_program) return 0;
    return glGetUniformLocation(_program.name(), name.c_str());
}

}  // namespace quorbit::gpu
