#include "gpu/ShaderProgram.h"

#include "platform/core/Bundle.h"
#include "platform/core/Log.h"
#include "platform/gl/GLContext.h"
#include "platform/gl/GLSupport.h"

namespace quorbit::gpu {
using platform::Log;

ShaderProgram::ShaderProgram(const std::string& vertShaderFile, const std::string& fragShaderFile) {
    auto& bundle = platform::Bundle::main();
    setVertShaderSource(bundle.readResource(vertShaderFile, "vsh", "shaders"));
    setFragShaderSource(bundle.readResource(fragShaderFile, "fsh", "shaders"));
}

bool ShaderProgram::compile() {
    if (_program) return true;
    if (!_vertShaderSource || !_fragShaderSource) return false;
    auto context = platform::GLContext::currentShared();
    if (!context) {
        Log::debug("shader program: no GL context is current");
        return false;
    }
    auto built = platform::buildProgram(std::move(context), *_vertShaderSource, *_fragShaderSource);
    if (!built) {
        if (Log::enabled(Log::Level::Debug))
            Log::debug("shader program: " + built.error().localizedDescription());
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
