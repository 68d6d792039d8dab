#pragma once

#include <SDL2/SDL.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/RunLoop.h"
#include "platform/host/Application.h"
#include "platform/host/Host.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace quorbit::platform {

// A headless host on the main run loop with one visible window, as the application has.
struct HeadlessApp {
    explicit HeadlessApp(double scale = 1) : HeadlessApp(HostOptions{}, scale) {}
    // With the given options (headless is set, and the scale where one is given).
    explicit HeadlessApp(HostOptions options, double scale = 0) {
        options.headless = true;
        if (scale) options.scale = scale;
        auto made = Host::create(options);
        if (!made) throw std::runtime_error(made.error().localizedDescription());
        host = std::move(made.value());
        Application::shared().reset();
        window = std::make_shared<Window>();
        window->setBackgroundColor(Color::black());
        window->makeKeyAndVisible();
        host->install(RunLoop::main());
    }
    ~HeadlessApp() {
        host->uninstall();
        Window::cancelAllTouches();
        window.reset();
        host.reset();
        Application::shared().reset();
    }
    std::unique_ptr<Host> host;
    std::shared_ptr<Window> window;
};

// Events handed to a host as SDL delivers them, in window pixels.
inline SDL_Event sdlEvent(Uint32 type) {
    SDL_Event e{};
    e.type = type;
    return e;
}
inline void sendMouse(Host& host, Uint32 type, int x, int y, Uint8 button = SDL_BUTTON_LEFT) {
    SDL_Event e = sdlEvent(type);
    if (type == SDL_MOUSEMOTION) e.motion.x = x, e.motion.y = y;
    if (type != SDL_MOUSEMOTION) e.button.button = button, e.button.x = x, e.button.y = y;
    host.handleEvent(e);
}
inline void sendClick(Host& host, int x, int y) {
    sendMouse(host, SDL_MOUSEBUTTONDOWN, x, y);
    sendMouse(host, SDL_MOUSEBUTTONUP, x, y);
}
// A key pressed and let go.
inline void sendKey(Host& host, SDL_Keycode sym, Uint16 mod = KMOD_NONE, Uint8 repeat = 0) {
    SDL_Event e = sdlEvent(SDL_KEYDOWN);
    e.key.keysym.sym = sym;
    e.key.keysym.mod = mod;
    e.key.repeat = repeat;
    host.handleEvent(e);
    e.type = SDL_KEYUP;
    host.handleEvent(e);
}
inline void sendText(Host& host, const char* text) {
    SDL_Event e = sdlEvent(SDL_TEXTINPUT);
    std::strncpy(e.text.text, text, sizeof e.text.text - 1);
    host.handleEvent(e);
}
inline void sendWindowEvent(Host& host, Uint8 what) {
    SDL_Event e = sdlEvent(SDL_WINDOWEVENT);
    e.window.windowID = SDL_GetWindowID(host.window());
    e.window.event = what;
    host.handleEvent(e);
}

// A view that records the touches and the right clicks it gets.
class TouchRecorder : public View {
  public:
    using View::View;
    struct Event {
        TouchPhase phase;
        Point at;
    };
    void touchesBegan(const std::vector<Touch>& t) override { add(TouchPhase::Began, t); }
    void touchesMoved(const std::vector<Touch>& t) override { add(TouchPhase::Moved, t); }
    void touchesEnded(const std::vector<Touch>& t) override { add(TouchPhase::Ended, t); }
    void touchesCancelled(const std::vector<Touch>& t) override { add(TouchPhase::Cancelled, t); }
    bool secondaryClick(Point at) override { return rightClicks.push_back(at), true; }
    std::vector<Event> events;
    std::vector<Point> rightClicks;
    // The phases alone, as words with a space between: "began moved ended".
    std::string phases() const {
        static const char* const names[] = {"began", "moved", "ended", "cancelled"};
        std::string out;
        for (const Event& e : events)
            out += (out.empty() ? "" : " ") + std::string(names[int(e.phase)]);
        return out;
    }

  private:
    void add(TouchPhase phase, const std::vector<Touch>& touches) {
        for (const Touch& t : touches)
            events.push_back({phase, t.locationIn(this)});
    }
};

// A screen that records the keys (with modifiers and repeats) and wheel notches it is handed.
class KeyScreen : public ViewController {
  public:
    bool handleKey(const KeyEvent& e) override {
        std::string name = e.key == KeyEvent::Key::Character ? std::string(1, char(e.character))
                                                             : "key " + std::to_string(int(e.key));
        if (e.shift) name += " shift";
        if (e.control) name += " ctrl";
        if (e.repeat) name += " repeat";
        return log.push_back(name), true;
    }
    bool handleWheel(int right, int down) override {
        return log.push_back("wheel " + std::to_string(right) + "," + std::to_string(down)), true;
    }
    std::vector<std::string> log;
};

}  // namespace quorbit::platform
