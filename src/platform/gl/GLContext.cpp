#include "platform/gl/GLContext.h"

#include <SDL2/SDL.h>

#include <cstdlib>
#include <vector>

#include "platform/core/Log.h"
#include "platform/gl/GLLayer.h"
#include "platform/gl/GLSupport.h"

namespace quorbit::platform {
namespace {

SDL_Window* gWindow = nullptr;
SDL_Window* gOwnWindow = nullptr;  // hidden window made when the host gave none
GLContext* gCurrent = nullptr;
int gContextCount = 0;

bool haveDisplay() {
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

}  // namespace

Result<void> GLContext::initVideo(bool allowOffscreen) {
    if (SDL_WasInit(SDL_INIT_VIDEO)) return {};
    const char* chosen = std::getenv("SDL_VIDEODRIVER");
    if ((!chosen || !*chosen) && !haveDisplay()) {
        if (!allowOffscreen)
            return Error::make(GLError::NoDisplay, "no display to open a window on");
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    }
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::string reason = SDL_GetError();
        if (allowOffscreen && (!chosen || !*chosen)) {
            // A display was named but cannot be opened: draw offscreen instead.
            SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
            if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) return {};
        }
        return Error::make(GLError::VideoUnavailable, "cannot start SDL video: " + reason);
    }
    return {};
}

void GLContext::setWindow(SDL_Window* window) {
    gWindow = window;
}

void GLContext::setWindowAttributes() {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_ES);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

SDL_Window* GLContext::window() {
    return gWindow ? gWindow : gOwnWindow;
}

Result<std::shared_ptr<GLContext>> GLContext::create() {
    if (!window()) {
        if (auto video = initVideo(true); !video) return video.error();
    }
    setWindowAttributes();
    if (!window()) {
        gOwnWindow = SDL_CreateWindow("quorbit", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                      16, 16, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        if (!gOwnWindow)
            return Error::make(GLError::NoWindow,
                               std::string("cannot make a GL window: ") + SDL_GetError());
    }
    // Every context after the first shares objects with whichever context is current.
    SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, gContextCount > 0 ? 1 : 0);
    SDL_GLContext sdl = SDL_GL_CreateContext(window());
    if (!sdl) {
        return Error::make(GLError::NoContext,
                           std::string("cannot make an OpenGL ES 2.0 context: ") + SDL_GetError());
    }
    ++gContextCount;
    auto context = std::shared_ptr<GLContext>(new GLContext(sdl));
    // SDL makes the new context current; keep the record of the current one honest.
    gCurrent = context.get();
    return context;
}

GLContext::GLContext(void* sdlContext) : _sdlContext(sdlContext) {}

GLContext::~GLContext() {
    for (auto& [name, storage] : _storage) {
        if (storage.layer) storage.layer->detach();
    }
    if (gCurrent == this) {
        SDL_GL_MakeCurrent(window(), nullptr);
        gCurrent = nullptr;
    }
    SDL_GL_DeleteContext(static_cast<SDL_GLContext>(_sdlContext));
    --gContextCount;
}

bool GLContext::makeCurrent() {
    if (gCurrent == this) return true;
    if (SDL_GL_MakeCurrent(window(), static_cast<SDL_GLContext>(_sdlContext)) != 0) {
        Log::warn(std::string("cannot make the GL context current: ") + SDL_GetError());
        return false;
    }
    gCurrent = this;
    return true;
}

void GLContext::clearCurrent() {
    if (!gCurrent) return;
    SDL_GL_MakeCurrent(window(), nullptr);
    gCurrent = nullptr;
}

GLContext* GLContext::current() {
    return gCurrent;
}

std::shared_ptr<GLContext> GLContext::currentShared() {
    return gCurrent ? gCurrent->shared_from_this() : nullptr;
}

GLint GLContext::bgraInternalFormat() {
    if (_bgraInternal) return _bgraInternal;
    makeCurrent();
    while (glGetError() != GL_NO_ERROR) {
    }
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    {
        const unsigned char pixel[4] = {1, 2, 3, 4};
        GLTexture probe = makeTexture(shared_from_this(), GL_BGRA_EXT, 1, 1, GL_BGRA_EXT, pixel);
        _bgraInternal = glGetError() == GL_NO_ERROR ? GL_BGRA_EXT : GL_RGBA;
    }
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
    return _bgraInternal;
}

GLDrawableTexture GLContext::makeDrawableTexture() {
    return GLDrawableTexture::make(shared_from_this());
}

void GLContext::forgetDrawableTexture(GLuint name) {
    auto it = _storage.find(name);
    if (it != _storage.end()) {
        if (it->second.layer) it->second.layer->detach();
        _storage.erase(it);
    }
    if (_boundRenderbuffer == name) _boundRenderbuffer = 0;
}

void GLContext::bindRenderbuffer(GLuint name) {
    // Only recorded: binding the texture that is being drawn into as a sampler source would
    // make the driver check for feedback on every frame.
    _boundRenderbuffer = name;
}

bool GLContext::renderbufferStorageFromLayer(GLLayer& layer) {
    if (!_boundRenderbuffer) return false;
    int width = layer.pixelWidth(), height = layer.pixelHeight();
    for (auto& [name, storage] : _storage) {
        if (storage.layer == &layer && name != _boundRenderbuffer) storage.layer = nullptr;
    }
    setUpTexture(_boundRenderbuffer, GL_RGBA, width, height, GL_RGBA, nullptr);
    _storage[_boundRenderbuffer] = Storage{&layer, width, height};
    layer.attach(this, _boundRenderbuffer, width, height);
    return width > 0 && height > 0;
}

GLint GLContext::renderbufferWidth() const {
    auto it = _storage.find(_boundRenderbuffer);
    return it == _storage.end() ? 0 : it->second.width;
}

GLint GLContext::renderbufferHeight() const {
    auto it = _storage.find(_boundRenderbuffer);
    return it == _storage.end() ? 0 : it->second.height;
}

bool GLContext::presentRenderbuffer() {
    auto it = _storage.find(_boundRenderbuffer);
    if (it == _storage.end() || !it->second.layer) return false;
    it->second.layer->presented();
    return true;
}

void GLContext::forgetLayer(GLLayer* layer) {
    for (auto& [name, storage] : _storage) {
        if (storage.layer == layer) storage.layer = nullptr;
    }
}

}  // namespace quorbit::platform
