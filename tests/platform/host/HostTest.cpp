#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "platform/core/NotificationCenter.h"
#include "platform/ui/Compositor.h"
#include "support/HostTestSupport.h"
#include "support/Pixels.h"

namespace quorbit::platform {
namespace {

using namespace std::chrono_literals;

TEST(HostOptions, ParsesTheHostsFlagsAndKeepsTheRest) {
    auto ok = HostOptions::parse({"--camera", "synthetic", "--headless", "--script", "a.txt",
                                  "--scale", "2", "--size", "1280x800"});
    ASSERT_TRUE(ok);
    EXPECT_TRUE(ok->headless);
    EXPECT_EQ(ok->width, 1280);
    EXPECT_EQ(ok->height, 800);
    EXPECT_EQ(ok->scriptPath, "a.txt");
    EXPECT_EQ(ok->scale, 2);
    EXPECT_EQ(ok->rest, (std::vector<std::string>{"--camera", "synthetic"}));
    // A side is 320 to 7680 points.
    // clang-format off
    const std::pair<std::vector<std::string>, bool> cases[] = {
        {{"--size", "320x7680"}, true},
        {{"--size", "7680x320"}, true},
        {{"--size", "319x480"}, false},
        {{"--size", "320x7681"}, false},
        {{"--size", "320"}, false},
        {{"--size", "x480"}, false},
        {{"--size", "320x480x2"}, false},
        {{"--size", "-320x480"}, false},
        {{"--script"}, false},
        {{"--script", ""}, false},
        {{"--scale"}, false},
        {{"--scale", "0"}, false},
        {{"--scale", "2x"}, false},
        {{"--scale", "nan"}, false},
        {{"--scale", "100"}, false},
    };
    // clang-format on
    for (const auto& [args, valid] : cases)
        EXPECT_EQ(bool(HostOptions::parse(args)), valid) << ::testing::PrintToString(args);
}

// Records the lifecycle calls the delegate hears.
struct Recorder {
    std::vector<std::string> calls;
    ApplicationDelegate delegate;
    Recorder() {
        auto note = [this](const char* name) {
            return [this, name](Application&) { calls.push_back(name); };
        };
        delegate.didFinishLaunching = [this](Application&) {
            calls.push_back("launched");
            return true;
        };
        delegate.willResignActive = note("resign");
        delegate.didBecomeActive = note("active");
        delegate.didEnterBackground = note("background");
        delegate.willEnterForeground = note("foreground");
        delegate.willTerminate = note("terminate");
    }
};

TEST(Application, LifecycleCallsAreWellFormedWhateverTheEventOrder) {
    using Event = void (Application::*)();
    struct Case {
        std::vector<Event> events;
        const char* calls;  // the delegate's calls, a space between
    };
    const Event launch = &Application::finishLaunching, active = &Application::becomeActive,
                resign = &Application::resignActive, down = &Application::enterBackground,
                up = &Application::enterForeground, end = &Application::terminate;
    // Minimised while active: resign first; restored: foreground, then active. Repeated and
    // unpaired events change nothing.
    // clang-format off
    const Case cases[] = {
        {{launch, active}, "launched active"},
        {{launch, active, down, active}, "launched active resign background foreground active"},
        {{active, launch, resign, active, active, up}, "launched active"},
        {{launch, active, end, end, active}, "launched active resign terminate"},
    };
    // clang-format on
    for (const auto& c : cases) {
        Recorder recorder;
        Application& app = Application::shared();
        app.reset();
        app.setDelegate(&recorder.delegate);
        for (auto event : c.events)
            (app.*event)();
        std::string calls;
        for (const auto& call : recorder.calls)
            calls += (calls.empty() ? "" : " ") + call;
        EXPECT_EQ(calls, c.calls);
        app.reset();
    }
}

TEST(Host, WindowEventsBecomeLifecycleCallsAndNotifications) {
    HeadlessApp app;
    Recorder recorder;
    Application::shared().setDelegate(&recorder.delegate);
    Application::shared().finishLaunching();
    Application::shared().becomeActive();
    for (Uint8 what : {SDL_WINDOWEVENT_FOCUS_LOST, SDL_WINDOWEVENT_MINIMIZED,
                       SDL_WINDOWEVENT_RESTORED, SDL_WINDOWEVENT_FOCUS_GAINED})
        sendWindowEvent(*app.host, what);
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"launched", "active", "resign",
                                                        "background", "foreground", "active"}));

    std::vector<std::string> orientations;
    auto id = NotificationCenter::defaultCenter().addObserver(
        kDeviceOrientationDidChangeNotification, nullptr,
        [&](const Notification& n) { orientations.push_back(n.userInfo.at("orientation")); });
    SDL_Event turn{};
    turn.type = SDL_DISPLAYEVENT;
    turn.display.event = SDL_DISPLAYEVENT_ORIENTATION;
    for (int o : {SDL_ORIENTATION_LANDSCAPE, SDL_ORIENTATION_LANDSCAPE,
                  SDL_ORIENTATION_PORTRAIT_FLIPPED, SDL_ORIENTATION_UNKNOWN}) {
        turn.display.data1 = o;
        app.host->handleEvent(turn);
    }
    NotificationCenter::defaultCenter().removeObserver(id);
    EXPECT_EQ(orientations, (std::vector<std::string>{"3", "2"}));
    EXPECT_EQ(Application::shared().statusBarOrientation(),
              Application::Orientation::PortraitUpsideDown);
}

TEST(Host, MouseBecomesOneFingerInPoints) {
    HeadlessApp app(2);
    EXPECT_EQ(app.host->pixelWidth(), 640);
    auto pad = std::make_shared<TouchRecorder>(Rect(0, 0, 320, 480));
    app.window->addSubview(pad);
    auto mouse = [&](Uint32 type, int x, int y, Uint8 button = SDL_BUTTON_LEFT) {
        sendMouse(*app.host, type, x, y, button);
    };
    mouse(SDL_MOUSEMOTION, 2, 2);  // no button down: no touch
    mouse(SDL_MOUSEBUTTONDOWN, 20, 40, SDL_BUTTON_RIGHT);
    mouse(SDL_MOUSEBUTTONDOWN, 20, 40);
    mouse(SDL_MOUSEMOTION, 60, 40);
    mouse(SDL_MOUSEBUTTONUP, 60, 80);
    sendWindowEvent(*app.host, SDL_WINDOWEVENT_FOCUS_LOST);
    ASSERT_EQ(pad->phases(), "began moved ended");
    EXPECT_EQ(pad->events[0].at, (Point{10, 20}));
    EXPECT_EQ(pad->events[1].at, (Point{30, 20}));
    EXPECT_EQ(pad->events[2].at, (Point{30, 40}));

    // Focus lost in the middle of a touch cancels it.
    mouse(SDL_MOUSEBUTTONDOWN, 20, 40);
    sendWindowEvent(*app.host, SDL_WINDOWEVENT_FOCUS_LOST);
    mouse(SDL_MOUSEBUTTONUP, 20, 40);
    EXPECT_EQ(pad->phases(), "began moved ended began cancelled");
}

TEST(Host, AResizedWindowIsLaidOutTouchedAndDrawnAtItsNewSize) {
    HeadlessApp app(2);
    auto pad = std::make_shared<TouchRecorder>(Rect(0, 0, 320, 480));
    pad->setAutoresizingMask(View::FlexibleWidth | View::FlexibleHeight);
    pad->setBackgroundColor(Color{0, 0, 1, 1});
    app.window->addSubview(pad);
    // A corner piece that keeps to the bottom right.
    auto corner = std::make_shared<View>(Rect(300, 460, 20, 20));
    corner->setAutoresizingMask(View::FlexibleLeftMargin | View::FlexibleTopMargin);
    corner->setBackgroundColor(Color{1, 0, 0, 1});
    pad->addSubview(corner);

    app.host->resizeWindow(700, 400);
    EXPECT_EQ(app.host->pointSize(), (Size{700, 400}));
    EXPECT_EQ(app.host->pixelWidth(), 1400);
    EXPECT_EQ(app.host->pixelHeight(), 800);
    EXPECT_EQ(Window::screenBounds(), Rect(0, 0, 700, 400));
    EXPECT_EQ(app.window->frame(), Rect(0, 0, 700, 400));
    EXPECT_EQ(corner->frame(), Rect(680, 380, 20, 20));
    EXPECT_EQ(app.host->resizeCount(), 1);

    // The whole new window is drawn, its last pixels included.
    auto shot = app.host->screenshot();
    ASSERT_TRUE(shot);
    ASSERT_EQ(shot->width(), 1400);
    ASSERT_EQ(shot->height(), 800);
    EXPECT_TRUE(testing::near(shot->pixel(1399, 799), {255, 0, 0}, 0));
    EXPECT_TRUE(testing::near(shot->pixel(10, 10), {0, 0, 255}, 0));

    // A finger in the middle of the window lands in the middle of its points.
    SDL_Event finger{};
    finger.type = SDL_FINGERDOWN;
    finger.tfinger.x = 0.5f;
    finger.tfinger.y = 0.25f;
    app.host->handleEvent(finger);
    finger.type = SDL_FINGERUP;
    app.host->handleEvent(finger);
    ASSERT_EQ(pad->events.size(), 2u);
    EXPECT_EQ(pad->events[0].at, (Point{350, 100}));
    app.host->resizeWindow(320, 480);
    EXPECT_EQ(Window::screenBounds(), Rect(0, 0, 320, 480));
}

TEST(Host, WindowKeysAndWheelNotches) {
    HeadlessApp app(2);
    RunLoop loop;  // Ctrl+Q ends this loop, not the tests' main one
    app.host->install(loop);
    auto screen = std::make_shared<KeyScreen>();
    app.window->setRootViewController(screen);
    auto key = [&](SDL_Keycode sym, Uint16 mod = KMOD_NONE, Uint8 repeat = 0) {
        sendKey(*app.host, sym, mod, repeat);
    };
    auto wheel = [&](float x, float y, Uint32 direction = SDL_MOUSEWHEEL_NORMAL) {
        SDL_Event e{};
        e.type = SDL_MOUSEWHEEL;
        e.wheel.preciseX = x;
        e.wheel.preciseY = y;
        e.wheel.direction = direction;
        app.host->handleEvent(e);
    };

    key(SDLK_SPACE, KMOD_LSHIFT);
    key(SDLK_SPACE, KMOD_NONE, 1);
    key(SDLK_PAGEDOWN);
    wheel(0, 0.5f);  // half a notch: nothing yet
    wheel(0, 0.5f);  // a whole notch away from the user
    wheel(1, -2);
    wheel(1, 0, SDL_MOUSEWHEEL_FLIPPED);
    EXPECT_EQ(screen->log, (std::vector<std::string>{"  shift", "  repeat", "key 14", "wheel 0,-1",
                                                     "wheel 1,2", "wheel -1,0"}));

    // F11 and Ctrl+Q belong to the window: no screen hears them.
    bool wasFull = SDL_GetWindowFlags(app.host->window()) & SDL_WINDOW_FULLSCREEN;
    key(SDLK_F11);
    EXPECT_NE(bool(SDL_GetWindowFlags(app.host->window()) & SDL_WINDOW_FULLSCREEN), wasFull);
    key(SDLK_F11, KMOD_NONE, 1);  // held: no second switch
    EXPECT_NE(bool(SDL_GetWindowFlags(app.host->window()) & SDL_WINDOW_FULLSCREEN), wasFull);
    key(SDLK_F11);
    key(SDLK_q);
    EXPECT_FALSE(loop.quitting());
    key(SDLK_q, KMOD_RCTRL);
    EXPECT_TRUE(loop.quitting());
    EXPECT_EQ(screen->log.size(), 7u);
    EXPECT_EQ(screen->log.back(), "q");

    app.window->setRootViewController(nullptr);
    app.host->install(RunLoop::main());
}

TEST(Host, AWindowedRunIsANativeWaylandClientWhereACompositorIsAnnounced) {
    struct Case {
        const char *named, *wayland, *x11, *driver;
    };
    // clang-format off
    const Case cases[] = {
        {nullptr, "wayland-0", ":0", "wayland,x11"},
        {nullptr, "wayland-0", nullptr, "wayland"},
        {"", "wayland-0", "", "wayland"},
        {nullptr, nullptr, ":0", "x11"},
        {"x11", "wayland-0", ":0", ""},  // the user's choice wins
        {nullptr, nullptr, nullptr, ""},
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(preferredVideoDriver(c.named, c.wayland, c.x11), c.driver)
            << (c.named ? c.named : "-") << " " << (c.wayland ? c.wayland : "-") << " "
            << (c.x11 ? c.x11 : "-");
}

TEST(Host, DrawsOnlyWhenSomethingChangedAndSleepsWhenIdle) {
    HeadlessApp app;
    auto view = std::make_shared<View>(Rect(0, 0, 10, 10));
    app.window->addSubview(view);
    RunLoop::main().runFor(50ms);
    auto frames = app.host->framesDrawn();
    RunLoop::main().runFor(100ms);
    EXPECT_EQ(app.host->framesDrawn(), frames) << "nothing changed";
    view->setAlpha(0.5);
    RunLoop::main().runFor(50ms);
    EXPECT_EQ(app.host->framesDrawn(), frames + 1);

    // An idle application costs (almost) no CPU time.
    auto cpu = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_utime.tv_sec * 1e6 + usage.ru_utime.tv_usec + usage.ru_stime.tv_sec * 1e6 +
               usage.ru_stime.tv_usec;
    };
    double before = cpu();
    auto start = RunLoop::Clock::now();
    RunLoop::main().runFor(2s);
    double wall = std::chrono::duration<double, std::micro>(RunLoop::Clock::now() - start).count();
    EXPECT_LT((cpu() - before) / wall, 0.01);
    EXPECT_EQ(app.host->framesDrawn(), frames + 1);
}

}  // namespace
}  // namespace quorbit::platform
