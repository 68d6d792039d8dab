#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/core/Geometry.h"
#include "platform/core/RunLoop.h"
#include "platform/gfx/Image.h"
#include "platform/gl/GLTextureTarget.h"
#include "platform/host/HostOptions.h"

union SDL_Event;
struct SDL_DisplayEvent;
struct SDL_KeyboardEvent;
struct SDL_MouseButtonEvent;
struct SDL_MouseMotionEvent;
struct SDL_MouseWheelEvent;
struct SDL_TouchFingerEvent;
struct SDL_WindowEvent;
struct SDL_Window;

namespace quorbit::platform {

class Compositor;
class GLContext;

// The SDL video driver a windowed run asks for, given the environment's SDL_VIDEODRIVER,
// WAYLAND_DISPLAY and DISPLAY: the application is a native Wayland client where a Wayland
// compositor is announced (X11 the fallback where there is an X display too), an X11 one
// where only an X display is. Empty where the user named a driver (it wins) or there is no
// display.
std::string preferredVideoDriver(const char* named, const char* waylandDisplay,
                                 const char* x11Display);

// The window the application runs in: an SDL2 window (or, headless, a window of SDL's
// offscreen driver) with the compositor's GL context. Installed on the main run loop, it
// turns SDL events into touches (mouse and fingers), key, wheel and text input, lifecycle
// calls and notifications, and draws a
// frame whenever a view changed, at most once per display refresh. With nothing changing and no
// input it sleeps.
class Host {
  public:
    // Fails (with a readable message) when there is no display and headless is not set, or
    // when SDL cannot make the window or a GL context.
    static Result<std::unique_ptr<Host>> create(const HostOptions& options);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    bool headless() const { return _options.headless; }
    SDL_Window* window() const { return _window; }
    Compositor& compositor() { return *_compositor; }
    // The screen in points and the drawable in pixels; both follow the window's size.
    Size pointSize() const { return _points; }
    int pixelWidth() const { return _pixelWidth; }
    int pixelHeight() const { return _pixelHeight; }

    // Starts and stops handling events and drawing on the loop.
    void install(RunLoop& loop);
    void uninstall();

    // Draws the windows and presents them, if anything changed since the last frame (or
    // always, with force). Returns whether a frame was drawn.
    bool renderFrame(bool force = false);
    std::uint64_t framesDrawn() const { return _framesDrawn; }
    // Draws the windows now and reads them back: exactly what the window shows.
    Result<Image> screenshot();

    // Handles what SDL has queued; returns whether anything came.
    bool pumpEvents();
    // Hands one event to the handler of its kind.
    void handleEvent(const SDL_Event& event);
    // Window points of a position in SDL window coordinates.
    Point pointFromWindow(double x, double y) const;
    // Asks for a window of width x height points (a desktop user dragging its edge, or a
    // script); the screens are laid out again for it when the window reports its new size.
    void resizeWindow(double width, double height);
    // How many times the window's size or pixel density has changed since it was made.
    int resizeCount() const { return _resizeCount; }

  private:
    explicit Host(const HostOptions& options);
    std::optional<RunLoop::Duration> onLoopTurn();
    void watchDisplayConnection();
    void updateKeyboard();
    // Reads the window's size in points and pixels and lays the screens out for it.
    void windowSizeChanged();
    // Where frames are drawn: the window's own framebuffer, or with SDL's offscreen driver,
    // whose surface keeps the size the window was made with, a framebuffer of the current size.
    GLuint targetFramebuffer();
    // One handler for each kind of event. The application's lifecycle (low memory, going to
    // and coming back from the background) is passed on to the Application as it comes.
    void handleLifecycleEvent(std::uint32_t type);
    void handleDisplayEvent(const SDL_DisplayEvent& display);
    // Focus, minimising and showing the window become the application's lifecycle calls;
    // size changes lay the screens out again.
    void handleWindowEvent(const SDL_WindowEvent& window);
    // The left mouse button is touch 0: pressed, dragged and let go.
    void handleMouseButton(const SDL_MouseButtonEvent& button);
    void handleMouseMotion(const SDL_MouseMotionEvent& motion);
    void handleKeyEvent(const SDL_KeyboardEvent& key);
    void handleWheel(const SDL_MouseWheelEvent& wheel);
    void handleFinger(const SDL_TouchFingerEvent& finger);
    // Keys that belong to the window rather than to a screen: Ctrl+Q quits as closing the
    // window does, F11 switches full screen. Returns whether the key was one of them.
    bool handleWindowKey(const SDL_KeyboardEvent& key);
    void toggleFullscreen();
    void requestQuit();

    HostOptions _options;
    SDL_Window* _window = nullptr;
    std::shared_ptr<GLContext> _context;
    std::unique_ptr<Compositor> _compositor;
    int _pixelWidth = 0, _pixelHeight = 0;
    Size _points;
    int _resizeCount = 0;
    // The offscreen target, made again when the window's pixel size changes.
    std::optional<GLTextureTarget> _offscreen;
    RunLoop* _loop = nullptr;
    RunLoopHandle _hook;
    RunLoopHandle _displayWatch;
    int _displayFd = -1;
    bool _inTurn = false;
    bool _framePending = true;
    RunLoop::Clock::time_point _lastFrame{};
    std::uint64_t _framesDrawn = 0;
    bool _mouseDown = false;
    bool _minimized = false;
    bool _focused = true;
    // Wheel movement not yet a whole notch.
    double _wheelRight = 0, _wheelUp = 0;
};

}  // namespace quorbit::platform
