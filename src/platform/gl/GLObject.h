#pragma once

#include <GLES2/gl2.h>

#include <memory>
#include <string>
#include <utility>

namespace quorbit::platform {

class GLContext;

// The kinds of GL object that the application makes. A drawable texture is what a view draws
// into and presents: a texture whose storage the context allocates from a GLLayer (bound and
// presented through the context's bindRenderbuffer and presentRenderbuffer).
enum class GLObjectKind { Texture, Framebuffer, DrawableTexture, Shader, Program };
inline constexpr int kGLObjectKindCount = 5;

// Objects of a kind that exist right now (made by an owner and not yet deleted), and of
// every kind together. Counted on the thread that runs GL (the main thread).
int liveGLObjects(GLObjectKind kind);
int liveGLObjects();
// Objects of every kind made so far, deleted or not.
long long madeGLObjects();
// "2 textures, 1 program" style summary of the live objects; "none" when there are none.
std::string describeLiveGLObjects();

namespace detail {
// Makes one object of kind in context (made current, and left current for the caller to
// use the object); shaderType says which shader. Returns 0 when GL made none.
GLuint makeGLObject(GLContext& context, GLObjectKind kind, GLenum shaderType);
// Deletes name with context current, then makes current again whatever context (or none)
// was current before.
void deleteGLObject(GLContext& context, GLObjectKind kind, GLuint name);
}  // namespace detail

// Owns one GL object and the context it was made in: whoever destroys the owner, and
// whichever context is current then, the object is deleted in its own context and the
// current context stays as it was. Move-only; an empty owner (name 0) holds nothing.
template <GLObjectKind Kind>
class GLObject {
  public:
    GLObject() = default;
    ~GLObject() { reset(); }
    GLObject(GLObject&& other) noexcept
        : _context(std::move(other._context)), _name(std::exchange(other._name, 0)) {}
    GLObject& operator=(GLObject&& other) noexcept {
        if (this != &other) {
            reset();
            _context = std::move(other._context);
            _name = std::exchange(other._name, 0);
        }
        return *this;
    }
    GLObject(const GLObject&) = delete;
    GLObject& operator=(const GLObject&) = delete;

    // A new object made in context, which is left current. Empty when context is null or
    // GL made nothing.
    static GLObject make(std::shared_ptr<GLContext> context) {
        static_assert(Kind != GLObjectKind::Shader, "a shader is made with its type");
        return makeIn(std::move(context), 0);
    }
    // A new shader of type (GL_VERTEX_SHADER or GL_FRAGMENT_SHADER) made in context.
    static GLObject make(std::shared_ptr<GLContext> context, GLenum shaderType) {
        static_assert(Kind == GLObjectKind::Shader, "only a shader has a type");
        return makeIn(std::move(context), shaderType);
    }

    GLuint name() const { return _name; }
    explicit operator bool() const { return _name != 0; }
    const std::shared_ptr<GLContext>& context() const { return _context; }

    // Deletes the object (in its own context) and lets the context go.
    void reset() {
        if (_name) detail::deleteGLObject(*_context, Kind, std::exchange(_name, 0));
        _context.reset();
    }

  private:
    static GLObject makeIn(std::shared_ptr<GLContext> context, GLenum shaderType) {
        GLObject object;
        if (!context) return object;
        object._name = detail::makeGLObject(*context, Kind, shaderType);
        if (object._name) object._context = std::move(context);
        return object;
    }

    std::shared_ptr<GLContext> _context;
    GLuint _name = 0;
};

using GLTexture = GLObject<GLObjectKind::Texture>;
using GLFramebuffer = GLObject<GLObjectKind::Framebuffer>;
using GLDrawableTexture = GLObject<GLObjectKind::DrawableTexture>;
using GLShader = GLObject<GLObjectKind::Shader>;
using GLProgram = GLObject<GLObjectKind::Program>;

}  // namespace quorbit::platform
