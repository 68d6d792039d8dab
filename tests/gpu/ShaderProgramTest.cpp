#include <gtest/gtest.h>

#include "gpu/ShaderProgram.h"
#include "support/GlTestContext.h"

namespace quorbit::gpu {
namespace {

using testing::countGlShaderObjects;

const char* kVertex =
    "attribute vec2 position; attribute vec2 texCoord; varying vec2 v;\n"
    "void main() { v = texCoord; gl_Position = vec4(position, 0.0, 1.0); }\n";
const char* kFragment =
    "precision mediump float; varying vec2 v; uniform sampler2D s_texture;\n"
    "void main() { gl_FragColor = texture2D(s_texture, v); }\n";

std::unique_ptr<ShaderProgram> programFrom(const char* vertex, const char* fragment) {
    auto program = std::make_unique<ShaderProgram>();
    if (vertex) program->setVertShaderSource(std::string(vertex));
    if (fragment) program->setFragShaderSource(std::string(fragment));
    return program;
}

GLint currentProgram() {
    GLint name = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &name);
    return name;
}

// Compiling twice keeps the one program, disabling deletes it and enabling builds it again
// from the kept sources; a program without both sources, or one that does not compile,
// builds nothing and installs none.
TEST(ShaderProgram, CompileOnceRebuildFromKeptSourcesAndFailWithoutASource) {
    testing::sharedGlContext();
    auto program = programFrom(kVertex, kFragment);
    int before = countGlShaderObjects();
    ASSERT_TRUE(program->compile());
    GLuint first = program->program();
    EXPECT_TRUE(program->compile());
    EXPECT_EQ(program->program(), first);
    // The program and its two shaders, which go when the program goes.
    EXPECT_EQ(countGlShaderObjects(), before + 3);

    program->disable();
    EXPECT_FALSE(glIsProgram(first));
    program->disable();  // nothing to delete: no effect
    EXPECT_TRUE(program->enable());
    EXPECT_NE(program->program(), 0u);
    EXPECT_EQ(currentProgram(), GLint(program->program()));
    EXPECT_GE(program->getAttributeLocation("position"), 0);
    EXPECT_GE(program->getUniformLocation("s_texture"), 0);

    const char* broken = "precision mediump float; void main() { x; }";
    const char* failures[][2] = {{kVertex, nullptr}, {nullptr, kFragment}, {kVertex, broken}};
    for (auto [vertex, fragment] : failures) {
        int made = countGlShaderObjects();
        auto failing = programFrom(vertex, fragment);
        EXPECT_FALSE(failing->compile());
        EXPECT_EQ(countGlShaderObjects(), made);
        program->enable();
        EXPECT_TRUE(failing->enable());
        EXPECT_EQ(currentProgram(), 0) << "a failed program leaves none installed";
    }
    glUseProgram(0);  // a current program outlives its deletion until it is replaced
    program.reset();
    EXPECT_EQ(countGlShaderObjects(), before);
}

}  // namespace
}  // namespace quorbit::gpu
