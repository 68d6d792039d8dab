#include "platform/host/Host.h"

#include <SDL2/SDL.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/core/Bundle.h"
#include "platform/core/Log.h"
#include "platform/gl/GLContext.h"
#include "platform/gl/GLSupport.h"
#include "platform/host/Application.h"
#include "platform/host/DisplayConnection.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/DisplayLink.h"
#include "platform/ui/Window.h"

namespace quorbit::platform {
namespace {

using namespace std::chrono_literals;

// How long the loop may sleep with nothing to do: with the display connection watched, new
// input wakes the loop by itself; without it, SDL must be asked now and then.
constexpr RunLoop::Duration kIdleWithDisplayFd = 1s;
constexpr RunLoop::Duration kIdleOffscreen = 250ms;
constexpr RunLoop::Duration kIdlePolling = 10ms;

bool isOffscreenDriver() {
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver && std::string(driver) == "offscreen";
}

Application::Orientation orientationFromSdl(int sdl) {
    switch (sdl) {
        case SDL_ORIENTATION_PORTRAIT:
            return Application::Orientation::Portrait;
        case SDL_ORIENTATION_PORTRAIT_FLIPPED:
            return Application::Orientation::PortraitUpsideDown;
        case SDL_ORIENTATION_LANDSCAPE:
            return Application::Orientation::LandscapeRight;
        case SDL_ORIENTATION_LANDSCAPE_FLIPPED:
            return Application::Orientation::LandscapeLeft;
        default:
            return Application::Orientation::Unknown;
    }
}

KeyEvent keyEventFromSdl(const SDL_KeyboardEvent& sdl) {
    KeyEvent event;
    SDL_Keycode sym = sdl.keysym.sym;
    switch (sym) {
        case SDLK_RETURN:
        case SDLK_KP_ENTER:
            event.key = KeyEvent::Key::Return;
            break;
        case SDLK_TAB:
            event.key = KeyEvent::Key::Tab;
            break;
        case SDLK_BACKSPACE:
            event.key = KeyEvent::Key::Backspace;
            break;
        case SDLK_DELETE:
            event.key = KeyEvent::Key::Delete;
            break;
        case SDLK_ESCAPE:
            event.key = KeyEvent::Key::Escape;
            break;
        case SDLK_LEFT:
            event.key = KeyEvent::Key::Left;
            break;
        case SDLK_RIGHT:
            event.key = KeyEvent::Key::Right;
            break;
        case SDLK_UP:
            event.key = KeyEvent::Key::Up;
            break;
        case SDLK_DOWN:
            event.key = KeyEvent::Key::Down;
            break;
        case SDLK_HOME:
            event.key = KeyEvent::Key::Home;
            break;
        case SDLK_END:
            event.key = KeyEvent::Key::End;
            break;
        case SDLK_PAGEUP:
            event.key = KeyEvent::Key::PageUp;
            break;
        case SDLK_PAGEDOWN:
            event.key = KeyEvent::Key::PageDown;
            break;
        default:
            // Keys that type something have their character as their key code.
            if (!(sym & SDLK_SCANCODE_MASK) && sym >= 0x20 && sym != 0x7f) {
                event.key = KeyEvent::Key::Character;
                event.character = static_cast<char32_t>(sym);
            }
            break;
    }
    Uint16 mod = sdl.keysym.mod;
    event.shift = mod & KMOD_SHIFT;
    event.control = mod & KMOD_CTRL;
    event.alt = mod & KMOD_ALT;
    event.meta = mod & KMOD_GUI;
    event.repeat = sdl.repeat != 0;
    return event;
}

// Names the application to the desktop before SDL opens its display connection: the
// Wayland app id and the X11 WM_CLASS are the application's identifier, so that the shell
// matches the window to the desktop entry and icon of that name. A class the user set in
// the environment is kept.
void setApplicationIdentity(const HostOptions& options) {
    std::string id = Bundle::main().identifier();
    setenv("SDL_VIDEO_WAYLAND_WMCLASS", id.c_str(), 0);
    setenv("SDL_VIDEO_X11_WMCLASS", id.c_str(), 0);
    SDL_SetHint(SDL_HINT_APP_NAME, options.title.c_str());
}

}  // namespace

std::string preferredVideoDriver(const char* named, const char* waylandDisplay,
                                 const char* x11Display) {
    auto set = [](const char* v) { return v && *v; };
    if (set(named)) return {};
    if (set(waylandDisplay)) return set(x11Display) ? "wayland,x11" : "wayland";
    if (set(x11Display)) return "x11";
    return {};
}

Host::Host(const HostOptions& options) : _options(options) {}

Result<std::unique_ptr<Host>> Host::create(const HostOptions& options) {
    if (options.width <= 0 || options.height <= 0 || options.scale <= 0)
        return Error::make(HostError::BadScreen, "the screen needs a positive size and scale");
    if (options.headless) {
        SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "offscreen", SDL_HINT_OVERRIDE);
    } else {
        std::string driver = preferredVideoDriver(
            std::getenv("SDL_VIDEODRIVER"), std::getenv("WAYLAND_DISPLAY"), std::getenv("DISPLAY"));
        if (!driver.empty()) SDL_SetHint(SDL_HINT_VIDEODRIVER, driver.c_str());
    }
    setApplicationIdentity(options);
    if (auto video = GLContext::initVideo(options.headless); !video) {
        std::string reason = video.error().localizedDescription();
        if (!options.headless)
            reason +=
                ". To run without a display, use --headless (with --script FILE to "
                "drive it), or set SDL_VIDEODRIVER=offscreen";
        Error error = Error::make(HostError::NoVideo, reason);
        error.underlying = std::make_shared<const Error>(video.error());
        return error;
    }
    // The mouse stands for one finger; SDL must not make up the other direction.
    SDL_SetHint(SDL_HINT_MOUSE_TOUCH_EVENTS, "0");
    SDL_SetHint(SDL_HINT_TOUCH_MOUSE_EVENTS, "0");

    std::unique_ptr<Host> host(new Host(options));
    GLContext::setWindowAttributes();
    int w = static_cast<int>(std::lround(options.width * options.scale));
    int h = static_cast<int>(std::lround(options.height * options.scale));
    // Resizable: phone shells give every window the screen's size, and desktop users maximise
    // and drag. High-DPI: on a scaled output the drawable has more pixels than the window has
    // points, and everything is drawn at that density instead of being blown up.
    host->_window =
        SDL_CreateWindow(options.title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w,
                         h, SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
    if (!host->_window)
        return Error::make(HostError::NoWindow,
                           std::string("cannot open a window: ") + SDL_GetError());
    int minimum = static_cast<int>(std::lround(HostOptions::kMinimumSide * options.scale));
    SDL_SetWindowMinimumSize(host->_window, minimum, minimum);
    GLContext::setWindow(host->_window);
    auto context = GLContext::create();
    if (!context) return context.error();
    host->_context = context.value();
    auto compositor = Compositor::create(host->_context);
    if (!compositor) return compositor.error();
    host->_compositor = std::move(compositor.value());

    host->_context->makeCurrent();
    // A real display paces frames by its refresh; offscreen nothing waits.
    if (SDL_GL_SetSwapInterval(options.headless ? 0 : 1) != 0 && !options.headless)
        Log::debug(std::string("no vertical sync: ") + SDL_GetError());
    host->_points = {options.width, options.height};
    host->windowSizeChanged();
    host->_resizeCount = 0;
    return host;
}

Host::~Host() {
    uninstall();
    _offscreen.reset();
    _compositor.reset();
    _context.reset();
    GLContext::clearCurrent();
    if (GLContext::window() == _window) GLContext::setWindow(nullptr);
    if (_window) SDL_DestroyWindow(_window);
}

void Host::windowSizeChanged() {
    int ww = 0, wh = 0, pw = 0, ph = 0;
    SDL_GetWindowSize(_window, &ww, &wh);
    SDL_GL_GetDrawableSize(_window, &pw, &ph);
    if (ww <= 0 || wh <= 0) return;
    if (pw <= 0 || ph <= 0) {
        pw = ww;
        ph = wh;
    }
    Size points{ww / _options.scale, wh / _options.scale};
    double scale = pw / points.width;
    bool changed = points != _points || pw != _pixelWidth || ph != _pixelHeight ||
                   scale != Window::screenScale();
    _points = points;
    _pixelWidth = pw;
    _pixelHeight = ph;
    _compositor->setScale(scale);
    Window::resizeScreen(Rect(0, 0, points.width, points.height), scale);
    _framePending = true;
    if (changed) ++_resizeCount;
}

void Host::resizeWindow(double width, double height) {
    int w = static_cast<int>(std::lround(width * _options.scale));
    int h = static_cast<int>(std::lround(height * _options.scale));
    SDL_SetWindowSize(_window, w, h);
    // SDL reports the new size through an event; read it now too, so that a caller sees
    // the screens laid out for it at once.
    windowSizeChanged();
}

GLuint Host::targetFramebuffer() {
    if (!isOffscreenDriver()) return 0;
    if (!_offscreen || _offscreen->width() != _pixelWidth || _offscreen->height() != _pixelHeight) {
        _context->makeCurrent();
        _offscreen.reset();
        _offscreen.emplace(_context, _pixelWidth, _pixelHeight);
    }
    return _offscreen->framebuffer();
}

void Host::install(RunLoop& loop) {
    uninstall();
    _loop = &loop;
    _hook = loop.hook([this] { return onLoopTurn(); });
    watchDisplayConnection();
}

void Host::uninstall() {
    if (!_loop) return;
    _hook.reset();
    _displayWatch.reset();
    _displayFd = -1;
    _loop = nullptr;
}

void Host::watchDisplayConnection() {
    if (isOffscreenDriver()) return;
    _displayFd = displayConnectionFd(_window);
    // Readable means input arrived; the next turn's hook reads it through SDL.
    if (_displayFd >= 0) _displayWatch = _loop->watch(_displayFd, RunLoop::Readable, [](short) {});
}

std::optional<RunLoop::Duration> Host::onLoopTurn() {
    // Event handlers may run a nested loop; the nested turns must not draw or read input.
    if (_inTurn) return std::nullopt;
    _inTurn = true;
    pumpEvents();
    if (View::takeWindowDirty()) _framePending = true;
    std::optional<RunLoop::Duration> wait;
    if (_framePending) {
        auto period = std::chrono::duration_cast<RunLoop::Duration>(
            std::chrono::duration<double>(1.0 / DisplayLink::refreshRate()));
        auto since = RunLoop::Clock::now() - _lastFrame;
        if (since >= period) {
            renderFrame(true);
            // Input that arrived while the frame was presented is read now, not when the
            // connection next becomes readable.
            if (pumpEvents() || _framePending) wait = RunLoop::Duration::zero();
        } else {
            wait = period - since;
        }
    }
    if (!wait) {
        wait = _displayFd >= 0       ? kIdleWithDisplayFd
               : isOffscreenDriver() ? kIdleOffscreen
                                     : kIdlePolling;
    }
    _inTurn = false;
    return wait;
}

bool Host::renderFrame(bool force) {
    if (View::takeWindowDirty()) _framePending = true;
    if (!force && !_framePending) return false;
    _framePending = false;
    std::vector<View*> roots;
    for (Window* window : Window::windows())
        roots.push_back(window);
    _compositor->draw(roots, _pixelWidth, _pixelHeight, targetFramebuffer());
    SDL_GL_SwapWindow(_window);
    _compositor->restoreContext();
    // Changes made by the frame's own layout and drawing are already on screen.
    View::takeWindowDirty();
    _lastFrame = RunLoop::Clock::now();
    ++_framesDrawn;
    return true;
}

Result<Image> Host::screenshot() {
    std::vector<View*> roots;
    for (Window* window : Window::windows())
        roots.push_back(window);
    _compositor->draw(roots, _pixelWidth, _pixelHeight, targetFramebuffer());
    Image image = Compositor::readPixels(_pixelWidth, _pixelHeight);
    SDL_GL_SwapWindow(_window);
    _compositor->restoreContext();
    View::takeWindowDirty();
    _framePending = false;
    _lastFrame = RunLoop::Clock::now();
    ++_framesDrawn;
    if (image.empty()) return Error::make(HostError::NoReadBack, "cannot read the window back");
    return image;
}

bool Host::pumpEvents() {
    bool any = false;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        handleEvent(event);
        any = true;
    }
    if (any) updateKeyboard();
    return any;
}

Point Host::pointFromWindow(double x, double y) const {
    return {x / _options.scale, y / _options.scale};
}

void Host::handleEvent(const SDL_Event& event) {
    switch (event.type) {
        case SDL_QUIT:
        case SDL_APP_TERMINATING:
            requestQuit();
            break;
        case SDL_APP_LOWMEMORY:
        case SDL_APP_WILLENTERBACKGROUND:
        case SDL_APP_DIDENTERBACKGROUND:
        case SDL_APP_WILLENTERFOREGROUND:
        case SDL_APP_DIDENTERFOREGROUND:
            handleLifecycleEvent(event.type);
            break;
        case SDL_DISPLAYEVENT:
            handleDisplayEvent(event.display);
            break;
        case SDL_WINDOWEVENT:
            handleWindowEvent(event.window);
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
            handleMouseButton(event.button);
            break;
        case SDL_MOUSEMOTION:
            handleMouseMotion(event.motion);
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            handleKeyEvent(event.key);
            break;
        case SDL_MOUSEWHEEL:
            handleWheel(event.wheel);
            break;
        case SDL_TEXTINPUT:
            Window::dispatchText(event.text.text);
            break;
        case SDL_FINGERDOWN:
        case SDL_FINGERMOTION:
        case SDL_FINGERUP:
            handleFinger(event.tfinger);
            break;
        default:
            break;
    }
}

void Host::handleLifecycleEvent(std::uint32_t type) {
    Application& app = Application::shared();
    switch (type) {
        case SDL_APP_LOWMEMORY:
            app.receiveMemoryWarning();
            break;
        case SDL_APP_WILLENTERBACKGROUND:
            app.resignActive();
            break;
        case SDL_APP_DIDENTERBACKGROUND:
            app.enterBackground();
            break;
        case SDL_APP_WILLENTERFOREGROUND:
            app.enterForeground();
            break;
        case SDL_APP_DIDENTERFOREGROUND:
            app.becomeActive();
            break;
        default:
            break;
    }
}

void Host::handleDisplayEvent(const SDL_DisplayEvent& display) {
    if (display.event == SDL_DISPLAYEVENT_ORIENTATION)
        Application::shared().setStatusBarOrientation(orientationFromSdl(display.data1));
}

void Host::handleWindowEvent(const SDL_WindowEvent& window) {
    if (window.windowID != SDL_GetWindowID(_window)) return;
    Application& app = Application::shared();
    switch (window.event) {
        case SDL_WINDOWEVENT_FOCUS_LOST:
            _focused = false;
            _mouseDown = false;
            Window::cancelAllTouches();
            app.resignActive();
            break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            _focused = true;
            if (!_minimized) app.becomeActive();
            break;
        case SDL_WINDOWEVENT_MINIMIZED:
        case SDL_WINDOWEVENT_HIDDEN:
            if (_minimized) break;
            _minimized = true;
            _mouseDown = false;
            Window::cancelAllTouches();
            app.enterBackground();
            break;
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_MAXIMIZED:
            _framePending = true;
            if (!_minimized) break;
            _minimized = false;
            app.enterForeground();
            if (_focused) app.becomeActive();
            break;
        case SDL_WINDOWEVENT_EXPOSED:
            _framePending = true;
            break;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
        case SDL_WINDOWEVENT_RESIZED:
            windowSizeChanged();
            break;
        case SDL_WINDOWEVENT_CLOSE:
            requestQuit();
            break;
        default:
            break;
    }
}

void Host::handleMouseButton(const SDL_MouseButtonEvent& button) {
    // The left button is touch 0; the mouse SDL makes up for a finger is not a second touch.
    // The right button's press is a click of its own, with no touch.
    if (button.which == SDL_TOUCH_MOUSEID) return;
    if (button.button == SDL_BUTTON_RIGHT && button.type == SDL_MOUSEBUTTONDOWN)
        Window::dispatchSecondaryClick(pointFromWindow(button.x, button.y));
    if (button.button != SDL_BUTTON_LEFT) return;
    Point p = pointFromWindow(button.x, button.y);
    if (button.type == SDL_MOUSEBUTTONDOWN) {
        _mouseDown = true;
        Window::dispatchTouch(TouchPhase::Began, 0, p);
    } else if (_mouseDown) {
        _mouseDown = false;
        Window::dispatchTouch(TouchPhase::Ended, 0, p);
    }
}

void Host::handleMouseMotion(const SDL_MouseMotionEvent& motion) {
    if (motion.which == SDL_TOUCH_MOUSEID || !_mouseDown) return;
    Window::dispatchTouch(TouchPhase::Moved, 0, pointFromWindow(motion.x, motion.y));
}

void Host::handleKeyEvent(const SDL_KeyboardEvent& key) {
    if (handleWindowKey(key)) return;
    Window::dispatchKey(keyEventFromSdl(key), key.type == SDL_KEYDOWN);
}

void Host::handleWheel(const SDL_MouseWheelEvent& wheel) {
    if (wheel.which == SDL_TOUCH_MOUSEID) return;
    // Fine-grained wheels (touchpads) add up to whole notches; a notch is a step.
    double sign = wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1 : 1;
    _wheelRight += sign * double(wheel.preciseX);
    _wheelUp += sign * double(wheel.preciseY);
    int right = static_cast<int>(std::trunc(_wheelRight));
    int up = static_cast<int>(std::trunc(_wheelUp));
    _wheelRight -= right;
    _wheelUp -= up;
    if (right != 0 || up != 0) Window::dispatchWheel(right, -up);
}

void Host::handleFinger(const SDL_TouchFingerEvent& finger) {
    // Finger positions are fractions of the window (of the screen in points); touch 0 is
    // the mouse.
    int id = 1 + static_cast<int>(finger.fingerId & 0x3fffffff);
    Size screen = pointSize();
    Point p{finger.x * screen.width, finger.y * screen.height};
    TouchPhase phase = finger.type == SDL_FINGERDOWN ? TouchPhase::Began
                       : finger.type == SDL_FINGERUP ? TouchPhase::Ended
                                                     : TouchPhase::Moved;
    Window::dispatchTouch(phase, id, p);
}

bool Host::handleWindowKey(const SDL_KeyboardEvent& key) {
    SDL_Keycode sym = key.keysym.sym;
    Uint16 mod = key.keysym.mod;
    bool quitKey = sym == SDLK_q && (mod & KMOD_CTRL) && !(mod & (KMOD_ALT | KMOD_GUI));
    bool fullscreenKey = sym == SDLK_F11 && !(mod & (KMOD_CTRL | KMOD_ALT | KMOD_GUI));
    if (!quitKey && !fullscreenKey) return false;
    // The window's own keys act when pressed, once however long they are held.
    if (key.type != SDL_KEYDOWN || key.repeat) return true;
    if (quitKey)
        requestQuit();  // as closing the window does
    else
        toggleFullscreen();
    return true;
}

void Host::requestQuit() {
    if (_loop)
        _loop->quit();
    else
        RunLoop::main().quit();
}

void Host::toggleFullscreen() {
    bool full = SDL_GetWindowFlags(_window) & SDL_WINDOW_FULLSCREEN_DESKTOP;
    if (SDL_SetWindowFullscreen(_window, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP) != 0)
        Log::warn(std::string("cannot switch full screen: ") + SDL_GetError());
    _framePending = true;
}

void Host::updateKeyboard() {
    if (!SDL_HasScreenKeyboardSupport()) return;
    Application::shared().setKeyboardVisible(SDL_IsScreenKeyboardShown(_window) == SDL_TRUE);
}

}  // namespace quorbit::platform
