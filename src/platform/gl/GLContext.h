#pragma once

#include <GLES2/gl2.h>
#include <GLES2/gl2ext.h>

#include <map>
#include <memory>
#include <string>

#include "platform/core/Error.h"
#include "platform/gl/GLObject.h"

struct SDL_Window;

namespace quorbit::platform {

// Why GL drawing could not be set up; the codes of the "quorbit.gl" domain.
enum class GLError : long {
    NoDisplay = 1,             // no display to open a window on, and offscreen not allowed
    VideoUnavailable = 2,      // SDL's video subsystem would not start
    NoWindow = 3,              // the hidden window a context needs could not be made
    NoContext = 4,             // the OpenGL ES 2.0 context could not be made
    NoCompositorContext = 10,  // a compositor was asked for without a context
    CompositorProgram = 11,    // the compositor's shader program did not build
    NoGLObject = 12,           // GL would not make a shader or program object
    VertexShader = 13,         // the vertex shader does not compile (GL's log follows)
    FragmentShader = 14,       // the fragment shader does not compile (GL's log follows)
    ProgramLink = 15,          // the program does not link (GL's log follows)
};
constexpr const char* errorDomain(GLError) {
    return "quorbit.gl";
}

class GLLayer;

// One OpenGL ES 2.0 context, made through SDL2 on the application's window (or, when no
// window was given, on a hidden window of SDL's current video driver). A context made while
// another is current shares its objects with that one, so a texture drawn in one can be
// shown by another; one made while none is current shares with none.
//
// A GL view's drawable is its layer: "renderbuffer" storage allocated from a layer is a
// texture of the layer's size in pixels, used as a framebuffer colour attachment. There is a
// single buffer; presenting publishes that texture to the compositor, so what is read from
// the bound framebuffer after presenting is the presented picture.
//
// Contexts are always held by shared_ptr: every GL object owner keeps its context alive.
class GLContext : public std::enable_shared_from_this<GLContext> {
  public:
    ~GLContext();
    GLContext(const GLContext&) = delete;
    GLContext& operator=(const GLContext&) = delete;

    // Makes a new ES 2.0 context on the window set with setWindow, or on a hidden window.
    static Result<std::shared_ptr<GLContext>> create();

    // The window that new contexts draw into; the host sets it before creating any context.
    static void setWindow(SDL_Window* window);
    // Asks SDL for windows fit for OpenGL ES 2.0 contexts with 8-bit colour; call before
    // making the window.
    static void setWindowAttributes();
    static SDL_Window* window();

    // Starts SDL's video subsystem if needed. Without a display (no DISPLAY or WAYLAND_DISPLAY
    // and no SDL_VIDEODRIVER chosen) it uses the offscreen driver when allowed, else fails.
    static Result<void> initVideo(bool allowOffscreen);

    bool makeCurrent();
    static void clearCurrent();
    static GLContext* current();
    // The current context as a reference that keeps it alive; null when none is current.
    static std::shared_ptr<GLContext> currentShared();

    // The internal format that this driver takes for BGRA uploads: GL_BGRA_EXT where the
    // driver follows EXT_texture_format_BGRA8888 to the letter, else GL_RGBA.
    GLint bgraInternalFormat();

    // Layer-backed drawables. The names are texture names; when the owner deletes one, this
    // context forgets its layer storage (and the layer shows nothing until given new storage).
    GLDrawableTexture makeDrawableTexture();
    void bindRenderbuffer(GLuint name);
    // Allocates the bound renderbuffer's storage at the layer's size in pixels.
    bool renderbufferStorageFromLayer(GLLayer& layer);
    GLint renderbufferWidth() const;
    GLint renderbufferHeight() const;
    // Presents the bound renderbuffer; false when it has no layer storage.
    bool presentRenderbuffer();

  private:
    GLContext(void* sdlContext);
    struct Storage {
        GLLayer* layer = nullptr;
        GLint width = 0, height = 0;
    };

    void* _sdlContext;
    GLint _bgraInternal = 0;
    GLuint _boundRenderbuffer = 0;
    std::map<GLuint, Storage> _storage;

    friend class GLLayer;
    void forgetLayer(GLLayer* layer);

    // Drops the layer storage of a drawable whose texture is being deleted.
    friend void detail::deleteGLObject(GLContext&, GLObjectKind, GLuint);
    void forgetDrawableTexture(GLuint name);
};

}  // namespace quorbit::platform
