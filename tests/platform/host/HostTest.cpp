#include <gmock/gmock.h>

#include <ctime>
#include <regex>

#include "platform/core/NotificationCenter.h"
#include "platform/gfx/ImageCodec.h"
#include "platform/host/ScriptRunner.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/TableView.h"
#include "support/HostTestSupport.h"
#include "support/Pixels.h"
#include "support/Scratch.h"

namespace quorbit::platform {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

TEST(HostOptions, ParsesTheHostsFlagsAndKeepsTheRest) {
    auto ok = HostOptions::parse({"--camera", "synthetic", "--headless", "--script", "a.txt",
                                  "--scale", "2", "--size", "1280x800"});
    ASSERT_TRUE(ok);
    EXPECT_EQ(std::tuple(ok->headless, ok->width, ok->height, ok->scale),
              std::tuple(true, 1280, 800, 2));
    EXPECT_EQ(ok->scriptPath, "a.txt");
    EXPECT_EQ(ok->rest, (std::vector<std::string>{"--camera", "synthetic"}));
    // A side is 320 to 7680 points; a flag without its value, or with a bad one, is refused.
    for (const char* size : {"320x7680", "7680x320"})
        EXPECT_TRUE(HostOptions::parse({"--size", size})) << size;
    const std::pair<const char*, std::vector<const char*>> refused[] = {
        {"--size", {"319x480", "320x7681", "320", "x480", "320x480x2", "-320x480"}},
        {"--script", {""}},
        {"--scale", {"0", "2x", "nan", "100"}},
    };
    for (const auto& [flag, values] : refused) {
        EXPECT_FALSE(HostOptions::parse({flag})) << flag;
        for (const char* value : values)
            EXPECT_FALSE(HostOptions::parse({flag, value})) << flag << " " << value;
    }
}

// Records the lifecycle calls the delegate hears, a space between.
struct Recorder {
    std::string calls;
    ApplicationDelegate delegate;
    void note(const char* name) { calls += (calls.empty() ? "" : " ") + std::string(name); }
    Recorder() {
        delegate.didFinishLaunching = [this](Application&) { return note("launched"), true; };
        delegate.willResignActive = [this](Application&) { note("resign"); };
        delegate.didBecomeActive = [this](Application&) { note("active"); };
        delegate.didEnterBackground = [this](Application&) { note("background"); };
        delegate.willEnterForeground = [this](Application&) { note("foreground"); };
        delegate.willTerminate = [this](Application&) { note("terminate"); };
    }
};

TEST(Application, LifecycleCallsAreWellFormedWhateverTheEventOrder) {
    using Event = void (Application::*)();
    const Event launch = &Application::finishLaunching, active = &Application::becomeActive,
                resign = &Application::resignActive, down = &Application::enterBackground,
                up = &Application::enterForeground, end = &Application::terminate;
    // Minimised while active: resign first; restored: foreground, then active. Repeated and
    // unpaired events change nothing.
    const std::pair<std::vector<Event>, const char*> cases[] = {
        {{launch, active}, "launched active"},
        {{launch, active, down, active}, "launched active resign background foreground active"},
        {{active, launch, resign, active, active, up}, "launched active"},
        {{launch, active, end, end, active}, "launched active resign terminate"},
    };
    for (const auto& [events, calls] : cases) {
        Recorder recorder;
        Application& app = Application::shared();
        app.reset();
        app.setDelegate(&recorder.delegate);
        for (auto event : events)
            (app.*event)();
        EXPECT_EQ(recorder.calls, calls);
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
    EXPECT_EQ(recorder.calls, "launched active resign background foreground active");
    std::vector<std::string> orientations;
    auto id = NotificationCenter::defaultCenter().addObserver(
        kDeviceOrientationDidChangeNotification, nullptr,
        [&](const Notification& n) { orientations.push_back(n.userInfo.at("orientation")); });
    SDL_Event turn = sdlEvent(SDL_DISPLAYEVENT);
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

// At scale 2: the mouse is one finger, in points, and its right button a click of its own; a
// resized window is laid out, drawn and touched at its new size.
TEST(Host, MouseAndFingersTouchInPointsAndAResizedWindowIsLaidOutAndDrawn) {
    HeadlessApp app(2);
    EXPECT_EQ(app.host->pixelWidth(), 640);
    auto pad = std::make_shared<TouchRecorder>(Rect(0, 0, 320, 480));
    pad->setAutoresizingMask(View::FlexibleWidth | View::FlexibleHeight);
    pad->setBackgroundColor(Color{0, 0, 1, 1});
    app.window->addSubview(pad);
    sendMouse(*app.host, SDL_MOUSEMOTION, 2, 2);  // no button down: no touch
    sendMouse(*app.host, SDL_MOUSEBUTTONDOWN, 20, 40, SDL_BUTTON_RIGHT);
    sendMouse(*app.host, SDL_MOUSEBUTTONDOWN, 20, 40);
    sendMouse(*app.host, SDL_MOUSEMOTION, 60, 40);
    sendMouse(*app.host, SDL_MOUSEBUTTONUP, 60, 80);
    sendWindowEvent(*app.host, SDL_WINDOWEVENT_FOCUS_LOST);
    ASSERT_EQ(pad->phases(), "began moved ended");
    EXPECT_EQ(pad->rightClicks, (std::vector<Point>{{10, 20}}));
    EXPECT_EQ(std::tuple(pad->events[0].at, pad->events[1].at, pad->events[2].at),
              std::tuple(Point{10, 20}, Point{30, 20}, Point{30, 40}));
    // Focus lost in the middle of a touch cancels it.
    sendMouse(*app.host, SDL_MOUSEBUTTONDOWN, 20, 40);
    sendWindowEvent(*app.host, SDL_WINDOWEVENT_FOCUS_LOST);
    sendMouse(*app.host, SDL_MOUSEBUTTONUP, 20, 40);
    EXPECT_EQ(pad->phases(), "began moved ended began cancelled");
    // A corner piece that keeps to the bottom right.
    auto corner = std::make_shared<View>(Rect(300, 460, 20, 20));
    corner->setAutoresizingMask(View::FlexibleLeftMargin | View::FlexibleTopMargin);
    corner->setBackgroundColor(Color{1, 0, 0, 1});
    pad->addSubview(corner);
    app.host->resizeWindow(700, 400);
    EXPECT_EQ(app.host->pointSize(), (Size{700, 400}));
    EXPECT_EQ(std::pair(app.host->pixelWidth(), app.host->pixelHeight()), std::pair(1400, 800));
    EXPECT_EQ(Window::screenBounds(), Rect(0, 0, 700, 400));
    EXPECT_EQ(app.window->frame(), Rect(0, 0, 700, 400));
    EXPECT_EQ(corner->frame(), Rect(680, 380, 20, 20));
    EXPECT_EQ(app.host->resizeCount(), 1);
    // The whole new window is drawn, its last pixels included.
    auto shot = app.host->screenshot();
    ASSERT_TRUE(shot);
    ASSERT_EQ(std::pair(shot->width(), shot->height()), std::pair(1400, 800));
    EXPECT_TRUE(testing::near(shot->pixel(1399, 799), {255, 0, 0}, 0));
    EXPECT_TRUE(testing::near(shot->pixel(10, 10), {0, 0, 255}, 0));
    // A finger in the middle of the window lands in the middle of its points.
    pad->events.clear();
    SDL_Event finger = sdlEvent(SDL_FINGERDOWN);
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

TEST(Host, AWindowedRunIsANativeWaylandClientWhereACompositorIsAnnounced) {
    // The video driver named by the user, WAYLAND_DISPLAY, DISPLAY, and what SDL is asked for.
    const std::array<const char*, 4> cases[] = {
        {nullptr, "wayland-0", ":0", "wayland,x11"},
        {nullptr, "wayland-0", nullptr, "wayland"},
        {"", "wayland-0", "", "wayland"},
        {nullptr, nullptr, ":0", "x11"},
        {"x11", "wayland-0", ":0", ""},  // the user's choice wins
        {nullptr, nullptr, nullptr, ""},
    };
    for (const auto& [named, wayland, x11, driver] : cases)
        EXPECT_EQ(preferredVideoDriver(named, wayland, x11), driver)
            << named << " " << wayland << " " << x11;
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
    // An idle application costs (almost) no CPU time (the process's, all threads).
    std::clock_t before = std::clock();
    RunLoop::main().runFor(2s);
    EXPECT_LT(double(std::clock() - before) / CLOCKS_PER_SEC / 2, 0.01);
    EXPECT_EQ(app.host->framesDrawn(), frames + 1);
}

// Every message is short, and echoes the script's text safely, however long or strange the line.
TEST(ScriptParse, ChecksEveryLineAndNamesTheFirstBadOne) {
    const std::string zs(5000, 'z');
    // The script's text, and the start of its error (null: it parses).
    const std::pair<std::string, const char*> cases[] = {
        {"# a comment\n\nwait 10   # resting\nquit\n", nullptr},
        {"tap 1.5 2\ndrag 0 0 10 10 200\nexpect-alert Failed\nscreenshot out/a b.png", nullptr},
        {"key space\nkey escape\nkey f11\nkey ctrl+shift+q\nkey alt++\nkey 0\n", nullptr},
        {"wait 10\nhover 1 2\n", "s:2: unknown command \"hover\""},
        {"tap 10\n", "s:1: tap takes 2 arguments, not 1"},
        {"quit now\n", "s:1: quit takes 0 arguments, not 1"},
        {"\n\ntap x 2\n", "s:3: \"x\" is not a number"},
        {"wait -5\n", "s:1: \"-5\" is not a whole number of 0 or more"},
        {"tap-row 1.5\n", "s:1: \"1.5\" is not a whole number"},
        {"expect-alert   # no title\n", "s:1: expect-alert needs an argument"},
        {"key\n", "s:1: key needs an argument"},
        {"key ctrl+\n", "s:1: \"ctrl+\" is not a key SDL knows"},
        {"key space\nkey nokey\n", "s:2: \"nokey\" is not a key SDL knows"},
        {"tap \x1b]0;owned\x07 1\n" + zs + "\n", "s:1: \"\\x1b]0;owned\\x07\" is not a number"},
        {zs + "\n", "s:1: unknown command \"zzz"},
    };
    for (const auto& [text, error] : cases) {
        SCOPED_TRACE(text);
        auto parsed = ScriptRunner::parse(text, "s");
        ASSERT_EQ(bool(parsed), !error);
        if (!error) continue;
        EXPECT_THAT(parsed.error().localizedDescription(), HasSubstr(error));
        EXPECT_LT(parsed.error().localizedDescription().size(), 400u);
    }
    auto parsed = ScriptRunner::parse("expect-alert Log in failed # why\n", "s");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed.value()[0].rest, "Log in failed");
    EXPECT_EQ(parsed.value()[0].line, 1);
}

// Up to the limit and no further; the message of a refusal is the program's test.
TEST(ScriptParse, AScriptFileIsReadUpToItsLimit) {
    testing::ScratchDir dir("quorbit-script");
    for (std::uint64_t size : {ScriptRunner::kMaxScriptBytes, ScriptRunner::kMaxScriptBytes + 1}) {
        std::string text = "quit\n" + std::string(size - 5, '\n');
        EXPECT_EQ(bool(ScriptRunner::parseFile(dir.write("s", text).string())),
                  size <= ScriptRunner::kMaxScriptBytes);
    }
}

TEST(ScriptParse, ScriptTextIsEchoedWithControlBytesEscapedAndLongLinesCut) {
    std::string e = "\xc3\xa9";  // one two-byte character
    const std::pair<std::string, std::string> cases[] = {
        {"plain words", "plain words"},
        {"a\tb\r\x1b[31m\x7f", "a\\x09b\\x0d\\x1b[31m\\x7f"},
        {std::string(80, 'x'), std::string(80, 'x')},
        {std::string(81, 'x'), std::string(80, 'x') + "..."},
        {std::string(79, 'x') + e, std::string(79, 'x') + "..."},  // never half a character
        {std::string(78, 'x') + e + "y", std::string(78, 'x') + e + "..."},
    };
    for (const auto& [text, echoed] : cases)
        EXPECT_EQ(ScriptRunner::echo(text), echoed) << text;
}

// A red pad at the top, a hidden control and one covered by a plain view below it.
class ScriptRun : public ::testing::Test {
  protected:
    ScriptRun() {
        pad->setBackgroundColor(Color{1, 0, 0, 1});
        control("ghost", Rect(0, 300, 50, 50))->setHidden(true);
        control("under", Rect(100, 300, 50, 50));
        app.window->addSubview(std::make_shared<View>(Rect(90, 290, 100, 100)));
    }
    std::shared_ptr<TouchRecorder> control(const char* name, Rect frame) {
        auto view = std::make_shared<TouchRecorder>(frame);
        view->setControlName(name);
        app.window->addSubview(view);
        return view;
    }
    int run(const std::string& text) {
        runner = std::make_unique<ScriptRunner>(*app.host, "t.script");
        runner->setExpectTimeout(100ms);
        auto commands = ScriptRunner::parse(text, "t.script");
        EXPECT_TRUE(commands) << text;
        return commands ? runner->run(commands.value()) : -1;
    }
    void passes(const std::string& text) { EXPECT_EQ(run(text), 0) << runner->failure(); }
    void fails(const std::string& text, const std::string& message) {
        EXPECT_EQ(run(text), 1) << text;
        EXPECT_THAT(runner->failure(), HasSubstr(message));
    }
    HeadlessApp app;
    std::shared_ptr<TouchRecorder> pad = control("pad", Rect(0, 0, 320, 240));
    std::unique_ptr<ScriptRunner> runner;
};

TEST_F(ScriptRun, TapsDragsAndScreenshotsReachTheApplication) {
    testing::ScratchDir dir("quorbit-script");
    passes("tap 10 20\ndrag 10 100 200 120 100\ntap-control pad\nexpect-control pad\nscreenshot " +
           (dir / "shot.png").string() + "\nquit\ntap 1 1\n");
    // A tap; a drag from its start to its end, moving right once per refresh; tap-control at
    // the pad's centre; nothing after quit.
    auto& e = pad->events;
    EXPECT_TRUE(std::regex_match(pad->phases(),
                                 std::regex("began ended began( moved){3,} ended began ended")))
        << pad->phases();
    ASSERT_GE(e.size(), 9u);
    EXPECT_EQ(e[0].at, (Point{10, 20}));
    EXPECT_EQ(e[2].at, (Point{10, 100}));
    for (size_t i = 3; i + 3 < e.size(); ++i)
        EXPECT_GT(e[i].at.x, e[i - 1].at.x);
    EXPECT_EQ(e[e.size() - 3].at, (Point{200, 120}));
    EXPECT_EQ(e[e.size() - 2].at, (Point{160, 120}));
    auto image = ImageCodec::readFile(dir / "shot.png");
    ASSERT_TRUE(image) << image.error().localizedDescription();
    ASSERT_EQ(std::pair(image->width(), image->height()), std::pair(320, 480));
    EXPECT_EQ(image->pixel(5, 5)[0], 255);
    EXPECT_EQ(image->pixel(5, 470)[0], 0);
}

// Keys and wheel notches reach the screen from the window and from a script alike.
TEST_F(ScriptRun, KeysAndTheWheelReachTheScreenFromTheWindowAndFromAScript) {
    RunLoop loop;  // Ctrl+Q ends this loop, not the tests' main one
    app.host->install(loop);
    auto screen = std::make_shared<KeyScreen>();
    app.window->setRootViewController(screen);
    auto wheel = [&](float x, float y, Uint32 direction = SDL_MOUSEWHEEL_NORMAL) {
        SDL_Event e = sdlEvent(SDL_MOUSEWHEEL);
        e.wheel.preciseX = x;
        e.wheel.preciseY = y;
        e.wheel.direction = direction;
        app.host->handleEvent(e);
    };
    sendKey(*app.host, SDLK_SPACE, KMOD_LSHIFT);
    sendKey(*app.host, SDLK_SPACE, KMOD_NONE, 1);
    sendKey(*app.host, SDLK_PAGEDOWN);
    wheel(0, 0.5f);  // half a notch: nothing yet
    wheel(0, 0.5f);  // a whole notch away from the user
    wheel(1, -2);
    wheel(1, 0, SDL_MOUSEWHEEL_FLIPPED);
    EXPECT_EQ(screen->log, (std::vector<std::string>{"  shift", "  repeat", "key 14", "wheel 0,-1",
                                                     "wheel 1,2", "wheel -1,0"}));
    // F11 and Ctrl+Q belong to the window: no screen hears them.
    bool wasFull = SDL_GetWindowFlags(app.host->window()) & SDL_WINDOW_FULLSCREEN;
    sendKey(*app.host, SDLK_F11);
    EXPECT_NE(bool(SDL_GetWindowFlags(app.host->window()) & SDL_WINDOW_FULLSCREEN), wasFull);
    sendKey(*app.host, SDLK_F11, KMOD_NONE, 1);  // held: no second switch
    EXPECT_NE(bool(SDL_GetWindowFlags(app.host->window()) & SDL_WINDOW_FULLSCREEN), wasFull);
    sendKey(*app.host, SDLK_F11);
    sendKey(*app.host, SDLK_q);
    EXPECT_FALSE(loop.quitting());
    sendKey(*app.host, SDLK_q, KMOD_RCTRL);
    EXPECT_TRUE(loop.quitting());
    EXPECT_EQ(screen->log.size(), 7u);
    EXPECT_EQ(screen->log.back(), "q");
    app.host->install(RunLoop::main());
    screen->log.clear();
    passes("key shift+F\nkey page down\nkey Return\nkey ctrl+1\nwheel 0 -2\nwheel 0.5 0\nquit\n");
    EXPECT_EQ(screen->log,
              (std::vector<std::string>{"f shift", "key 14", "key 2", "1 ctrl", "wheel 0,2"}));
    app.window->setRootViewController(nullptr);
}

TEST_F(ScriptRun, AFailedCommandStopsTheRunAndNamesItsLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"tap 1 1\ntap-control ghost\ntap 2 2\n", "t.script:2: tap-control ghost: no visible"},
        {"tap-control under\ntap 2 2\n", "t.script:1: tap-control under: cannot tap \"under\""},
        {"tap 400 10\n", "t.script:1: tap 400 10: (400, 10) is outside the screen"},
        {"wait 1\nexpect-control nowhere\n", "t.script:2: expect-control nowhere: no visible"},
        {"expect-alert Hello\n", "t.script:1: expect-alert Hello: no alert on screen"},
        {"tap-alert-button 0\n", "t.script:1: tap-alert-button 0: no alert on screen"},
        {"tap-row 0\n", "t.script:1: tap-row 0: no table on screen"},
        {"screenshot /proc/nonexistent/x.png\n", "t.script:1: screenshot"},
    };
    for (const auto& [script, message] : cases) {
        pad->events.clear();
        fails(script, message);
        // Nothing after the failing line runs.
        for (const auto& event : pad->events)
            EXPECT_NE(event.at, (Point{2, 2})) << script;
    }
}

TEST_F(ScriptRun, TapControlRefusesANameThatTwoVisibleControlsShare) {
    auto twin = control("pad", Rect(200, 300, 50, 50));
    fails("tap-control pad\n", "2 visible controls are named \"pad\"");
    EXPECT_TRUE(pad->events.empty());
    EXPECT_TRUE(twin->events.empty());
    // Hidden, the second one no longer counts.
    twin->setHidden(true);
    passes("tap-control pad\n");
    EXPECT_FALSE(pad->events.empty());
    // The failed line is echoed safely.
    fails("expect-control \x01" + std::string(200, 'n') + "\n",
          "t.script:1: expect-control \\x01nnn");
    EXPECT_LT(runner->failure().size(), 300u);
}

TEST_F(ScriptRun, AlertButtonsAndTableRowsAreTappedThroughTheScreen) {
    int clicked = -1;
    AlertViewDelegate delegate;
    delegate.clickedButtonAtIndex = [&](AlertView&, int index) { clicked = index; };
    auto alert = AlertView::create("Hello", "World", &delegate, std::string("OK"), {"More"});
    alert->show();
    fails("expect-alert Bye\n", "the alert on screen is \"Hello\"");
    fails("tap-alert-button 2\n", "has 2 buttons");
    passes("expect-alert Hello\ntap-alert-button 1\nwait 400\n");
    EXPECT_EQ(clicked, 1);
    EXPECT_EQ(AlertView::visibleAlert(), nullptr);
    alert.reset();
    // Rows count on over sections: row 3 is the second row of the second section.
    auto table = std::make_shared<TableView>(Rect(0, 240, 320, 240));
    TableViewDataSource source;
    source.numberOfSections = [](TableView&) { return 2; };
    source.numberOfRowsInSection = [](TableView&, int s) { return s == 0 ? 2 : 3; };
    source.cellForRow = [](TableView&, IndexPath) { return std::make_shared<TableViewCell>(); };
    std::vector<IndexPath> selected;
    TableViewDelegate tableDelegate;
    tableDelegate.didSelectRow = [&](TableView&, IndexPath p) { selected.push_back(p); };
    table->setDataSource(&source);
    table->setTableDelegate(&tableDelegate);
    app.window->addSubview(table);
    passes("tap-row 3\n");
    EXPECT_EQ(selected, std::vector<IndexPath>{IndexPath::forRow(1, 1)});
    fails("tap-row 5\n", "the table has no row 5");
}

}  // namespace
}  // namespace quorbit::platform
