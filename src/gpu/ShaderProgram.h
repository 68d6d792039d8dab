#pragma once

#include <GLES2/gl2.h>

#include <optional>
#include <string>

#include "platform/gl/GLObject.h"

namespace quorbit::gpu {

// A GLSL ES program built from a vertex and a fragment shader resource ("<name>.vsh",
// "<name>.fsh"). The texts are read once, at construction, and kept: the GL program can be
// thrown away with disable() and rebuilt later from the same texts without reading files.
//
// The program is built in the context current at compile() and is deleted in that context
// wherever the object goes; every other GL call needs that context current.
class ShaderProgram {
  public:
    ShaderProgram() = default;
    // Reads both sources from the bundle's resources. A missing or unreadable file leaves its
    // source absent (compile() then fails); no GL call is made here.
    ShaderProgram(const std::string& vertShaderFile, const std::string& fragShaderFile);
    ~ShaderProgram() = default;
    ShaderProgram(const ShaderProgram&) = delete;
    ShaderProgram& operator=(const ShaderProgram&) = delete;

    // Builds the program in the current context if none exists; true when a linked program
    // exists afterwards. A failed attempt (or no current context) leaves no GL object and
    // says why in buildFailure(); GL's whole log goes to the debug log.
    bool compile();
    // Why the last compile() failed: a missing source, or the shader that did not compile
    // (or the link) with the first line of its log. Empty after a success.
    const std::string& buildFailure() const { return _buildFailure; }
    // Compiles if needed, then installs the program (none at all when compiling failed).
    // Always true.
    bool enable();
    // Deletes the program object; the sources stay, so enable() rebuilds it.
    void disable();

    // Locations in the linked program; 0 without calling GL when there is no program.
    GLint getAttributeLocation(const std::string& name) const;
    GLint getUniformLocation(const std::string& name) const;

    GLuint program() const { return _program.name(); }
    const std::optional<std::string>& vertShaderSource() const { return _vertShaderSource; }
    void setVertShaderSource(std::optional<std::string> source) {
        _vertShaderSource = std::move(source);
    }
    const std::optional<std::string>& fragShaderSource() const { return _fragShaderSource; }
    void setFragShaderSource(std::optional<std::string> source) {
        _fragShaderSource = std::move(source);
    }

  private:
    platform::GLProgram _program;
    std::string _vertShaderName = "vertex shader", _fragShaderName = "fragment shader";
    std::string _buildFailure;
    std::optional<std::string> _vertShaderSource;
    std::optional<std::string> _fragShaderSource;
};

}  // namespace quorbit::gpu
