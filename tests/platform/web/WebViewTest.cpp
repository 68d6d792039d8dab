// The embedded web view against a real web engine and a real HTTP server on 127.0.0.1.

#include <gtest/gtest.h>

#include <random>

#include "platform/web/WebView.h"
#include "support/HostTestSupport.h"
#include "support/LocalHttpServer.h"
#include "support/Pixels.h"
#include "support/Scratch.h"

namespace quorbit::platform {
namespace {

using namespace std::chrono_literals;
using Req = httplib::Request;
using Res = httplib::Response;

bool engineStartedAtLaunch = true;

// The engine keeps its website data (cookies) in the settings folder: a fresh one per run.
struct WebDataFolder : ::testing::Environment {
    void SetUp() override {
        engineStartedAtLaunch = WebView::engineStarted();
        setenv("QUORBIT_CONFIG_DIR", folder.path().c_str(), 1);
    }
    testing::ScratchDir folder{"webview-test"};
};
const auto* const webDataFolder = ::testing::AddGlobalTestEnvironment(new WebDataFolder);

// A failure's domain, code and failing URL.
std::string what(const Error& e) {
    auto url = e.userInfo.find("NSErrorFailingURLStringKey");
    return e.domain + " " + std::to_string(e.code) + " " +
           (url == e.userInfo.end() ? "" : url->second);
}

bool waitUntil(const std::function<bool()>& done, RunLoop::Duration timeout = 20s) {
    return RunLoop::main().runUntil(done, timeout);
}

// A delegate that records what the view tells it and refuses what `refuse` says.
struct Recorder {
    std::vector<std::pair<std::string, WebNavigationType>> navigations;
    std::vector<Error> failures;
    int started = 0, finished = 0;
    std::function<bool(const std::string&)> refuse;
    std::function<void(WebView&)> onFinish = [](WebView&) {};
    WebViewDelegate delegate{
        .shouldStartLoad = [this](auto&, auto& url, auto type) { return shouldStart(url, type); },
        .didStartLoad = [this](auto&) { ++started; },
        .didFinishLoad = [this](WebView& view) { ++finished, onFinish(view); },
        .didFailLoad = [this](auto&, auto& e) { failures.push_back(e); }};
    bool shouldStart(const std::string& url, WebNavigationType type) {
        navigations.emplace_back(url, type);
        return !(refuse && refuse(url));
    }
};

std::string page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html><html><head><meta charset=utf-8><title>" + title +
           "</title><style>body{margin:0} .at{position:absolute}</style></head><body>" + body +
           "</body></html>";
}

// A link of 100 x 30 points at (10, top) of the page.
std::string link(int top, const std::string& href, const std::string& extra = "") {
    return "<a class=at style='left:10px;top:" + std::to_string(top) +
           "px;width:100px;height:30px;display:block' href='" + href + "' " + extra + ">x</a>";
}

class WebViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (auto why = WebView::engineUnavailable())
            GTEST_SKIP() << "the web engine cannot start here: " << why->localizedDescription();
        app = std::make_unique<HeadlessApp>(2);
        // Connections the engine opens ahead of need are closed soon: an open connection
        // holds stop() up.
        server.server().set_keep_alive_timeout(1);
        server.server().set_logger([this](const Req& request, const auto&) {
            std::lock_guard lock(mutex);
            requests.push_back(request.method + " " + request.path + " " + request.body);
        });
        server.server().Get("/slow", [this](const Req&, Res& res) {
            for (int i = 0; i < 1000 && !released; ++i)
                std::this_thread::sleep_for(10ms);
            res.set_content(page("slow", ""), "text/html");
        });
    }
    void TearDown() override {
        released = true;  // lets a slow answer finish
        server.stop();
        if (view) view->removeFromSuperview();
        view.reset();
    }
    // The server started, and a web view at frame in the window, reporting to recorder.
    void start(Rect frame) {
        server.start();
        view = std::make_shared<WebView>(frame);
        view->setDelegate(&recorder.delegate);
        app->window->addSubview(view);
    }
    bool load(const std::string& path) {
        int before = recorder.finished;
        view->loadRequest(server.url(path));
        return waitUntil([&] { return recorder.finished > before; });
    }
    // Answers GET path with a page of that title and body.
    void serve(const std::string& path, const std::string& title, const std::string& body) {
        server.server().Get(
            path, [=](const Req&, Res& res) { res.set_content(page(title, body), "text/html"); });
    }
    // Touch 0 is the mouse; the others are fingers.
    void tap(Point p, int touch = 0) {
        Window::dispatchTouch(TouchPhase::Began, touch, p);
        Window::dispatchTouch(TouchPhase::Ended, touch, p);
    }

    std::vector<std::string> log() {
        std::lock_guard lock(mutex);
        return requests;
    }
    bool received(const std::string& line) { return std::ranges::count(log(), line) > 0; }

    std::unique_ptr<HeadlessApp> app;
    testing::LocalHttpServer server;
    std::mutex mutex;
    std::vector<std::string> requests;  // "METHOD PATH BODY" of each answered
    std::atomic<bool> released = false;
    Recorder recorder;
    std::shared_ptr<WebView> view;
};

TEST_F(WebViewTest, PagePixelsAppearInTheViewAtItsSizeAndScaleAndScriptsRunInIt) {
    EXPECT_FALSE(engineStartedAtLaunch) << "nothing may start the web engine before a web view";
    serve("/halves", "halves &amp; more",
          "<div class=at style='left:0;top:0;width:50%;height:100%;background:#ff0000'></div>"
          "<div class=at style='left:50%;top:0;width:50%;height:100%;background:#0000ff'></div>");
    start(Rect(10, 20, 100, 60));
    std::string titleSeenOnFinish;
    recorder.onFinish = [&](WebView& v) {
        titleSeenOnFinish = v.stringByEvaluatingJavaScript("document.title");
    };
    ASSERT_TRUE(load("/halves"));
    EXPECT_EQ(titleSeenOnFinish, "halves & more");
    EXPECT_EQ(view->stringByEvaluatingJavaScript("6 * 7"), "42");
    for (const char* nothing : {"undefined", "throw new Error('no')", "this is not a script"})
        EXPECT_EQ(view->stringByEvaluatingJavaScript(nothing), "") << nothing;
    auto halves = [&](int width) {
        Image page = view->pageSnapshot();
        if (page.width() != width) return false;
        const std::uint8_t* left = page.pixel(width / 4, page.height() / 2);
        const std::uint8_t* right = page.pixel(width * 3 / 4, page.height() / 2);
        return left[0] == 255 && left[2] == 0 && right[0] == 0 && right[2] == 255;
    };
    ASSERT_TRUE(waitUntil([&] { return halves(200); })) << view->pageSnapshot().width();
    EXPECT_EQ(view->pageSnapshot().height(), 120);

    // What the window shows: the page inside the view's frame, in screen pixels.
    auto shot = app->host->screenshot();
    ASSERT_TRUE(shot.ok());
    auto at = [&](double x, double y) { return shot->pixel(int(x * 2), int(y * 2)); };
    EXPECT_TRUE(testing::near(at(12, 22), {255, 0, 0}, 0));
    EXPECT_TRUE(testing::near(at(108, 78), {0, 0, 255}, 0));
    EXPECT_TRUE(testing::near(at(8, 50), {0, 0, 0}, 0));  // the window beside the view

    // A new frame size re-lays the page out at that size.
    view->setFrame(Rect(10, 20, 160, 60));
    ASSERT_TRUE(waitUntil([&] { return halves(320); }));
    EXPECT_EQ(view->stringByEvaluatingJavaScript("window.innerWidth + 'x' + window.innerHeight"),
              "160x60");
    shot = app->host->screenshot();
    ASSERT_TRUE(shot.ok());
    EXPECT_TRUE(testing::near(at(160, 50), {0, 0, 255}, 0));
}

TEST_F(WebViewTest, NavigationFilterSeesLinksFormsAndRedirectsAndMayRefuse) {
    serve("/start", "start",
          link(10, "/form") + link(60, "/refused-link") + link(110, "/done", "target=_blank"));
    serve("/form", "form",
          "<form method=post action='/submit'><input type=hidden name=k "
          "value=v><input type=submit class=at style='left:10px;top:10px;"
          "width:100px;height:30px' value=go></form>");
    server.server().Post("/submit", [](const Req&, Res& res) { res.set_redirect("/done", 303); });
    serve("/done", "done", "<div style='height:3000px'></div>");
    server.server().Get("/bounce",
                        [](const Req&, Res& res) { res.set_redirect("/refused-redirect"); });
    start(Rect(20, 40, 200, 200));
    recorder.refuse = [](const std::string& url) {
        return url.find("/refused") != std::string::npos;
    };
    ASSERT_TRUE(load("/start"));
    // A mouse press that is cancelled clicks nothing.
    Window::dispatchTouch(TouchPhase::Began, 0, {20 + 50, 40 + 25});
    Window::cancelAllTouches();
    RunLoop::main().runFor(300ms);
    EXPECT_EQ(recorder.navigations.size(), 1u);
    tap({20 + 50, 40 + 25}, 1);  // a finger
    ASSERT_TRUE(waitUntil([&] { return recorder.finished == 2; }));
    tap({20 + 50, 40 + 25});  // the mouse
    ASSERT_TRUE(waitUntil([&] { return recorder.finished == 3; }));
    using T = WebNavigationType;
    std::vector<std::pair<std::string, T>> expected{{server.url("/start"), T::Other},
                                                    {server.url("/form"), T::LinkClicked},
                                                    {server.url("/submit"), T::FormSubmitted},
                                                    {server.url("/done"), T::Other}};
    EXPECT_EQ(recorder.navigations, expected);
    EXPECT_TRUE(received("POST /submit k=v"));
    EXPECT_EQ(view->currentUrl(), server.url("/done"));
    EXPECT_TRUE(recorder.failures.empty());
    // A dragging finger scrolls the page.
    Window::dispatchTouch(TouchPhase::Began, 2, {100, 200});
    for (double y = 190; y >= 100; y -= 10) {
        Window::dispatchTouch(TouchPhase::Moved, 2, {100, y});
        RunLoop::main().runFor(10ms);
    }
    Window::dispatchTouch(TouchPhase::Ended, 2, {100, 100});
    EXPECT_TRUE(waitUntil([&] {
        return std::atoi(view->stringByEvaluatingJavaScript("scrollY").c_str()) >= 50;
    })) << view->stringByEvaluatingJavaScript("scrollY");

    // A refused redirect fails its load with 102, once; the server never sees the target.
    recorder.navigations.clear();
    view->loadRequest(server.url("/bounce"));
    ASSERT_TRUE(waitUntil([&] { return !recorder.failures.empty(); }));
    RunLoop::main().runFor(300ms);
    ASSERT_EQ(recorder.failures.size(), 1u);
    EXPECT_EQ(what(recorder.failures[0]),
              "quorbit.page-load 102 " + server.url("/refused-redirect"));
    expected = {{server.url("/bounce"), T::Other}, {server.url("/refused-redirect"), T::Other}};
    EXPECT_EQ(recorder.navigations, expected);
    EXPECT_EQ(recorder.finished, 3);

    // A refused click on a page at rest: 102 as well, and the page stays.
    ASSERT_TRUE(load("/start"));
    recorder.failures.clear();
    tap({20 + 50, 40 + 75});
    ASSERT_TRUE(waitUntil([&] { return !recorder.failures.empty(); }));
    RunLoop::main().runFor(300ms);
    ASSERT_EQ(recorder.failures.size(), 1u);
    EXPECT_EQ(what(recorder.failures[0]), "quorbit.page-load 102 " + server.url("/refused-link"));
    EXPECT_EQ(recorder.navigations.back(),
              std::make_pair(server.url("/refused-link"), T::LinkClicked));
    EXPECT_EQ(view->currentUrl(), server.url("/start"));
    for (const auto& line : log())
        EXPECT_EQ(line.find("/refused"), std::string::npos) << line;

    // A link to a new window opens in this view, asked about once.
    recorder.navigations.clear();
    int finished = recorder.finished;
    tap({20 + 50, 40 + 125});
    ASSERT_TRUE(waitUntil([&] { return recorder.finished > finished; }));
    EXPECT_EQ(view->currentUrl(), server.url("/done"));
    expected = {{server.url("/done"), T::LinkClicked}};
    EXPECT_EQ(recorder.navigations, expected);
}

TEST_F(WebViewTest, FailedLoadsReportCancellationAndNetworkErrors) {
    serve("/quick", "quick", "");
    start(Rect(0, 0, 200, 200));

    view->loadRequest(server.url("/slow"));
    ASSERT_TRUE(waitUntil([&] { return recorder.started == 1; }));
    EXPECT_TRUE(view->isLoading());
    view->stopLoading();
    ASSERT_TRUE(waitUntil([&] { return recorder.failures.size() == 1; }));
    EXPECT_EQ(what(recorder.failures[0]), "quorbit.url -999 " + server.url("/slow"));
    EXPECT_FALSE(view->isLoading());

    // A new load in place of a slow one cancels it, and finishes itself.
    view->loadRequest(server.url("/slow"));
    ASSERT_TRUE(waitUntil([&] { return recorder.started == 2; }));
    ASSERT_TRUE(load("/quick"));
    ASSERT_EQ(recorder.failures.size(), 2u);
    EXPECT_EQ(what(recorder.failures[1]), "quorbit.url -999 " + server.url("/slow"));
    EXPECT_EQ(recorder.finished, 1);

    testing::LocalHttpServer gone;  // a port with nothing listening
    gone.start();
    std::string nowhere = gone.url("/");
    gone.stop();
    view->loadRequest(nowhere);
    ASSERT_TRUE(waitUntil([&] { return recorder.failures.size() == 3; }));
    const Error& refused = recorder.failures[2];
    EXPECT_EQ(what(refused), "quorbit.url -1004 " + nowhere);
    EXPECT_EQ(refused.localizedDescription().rfind("Could not connect to the server: ", 0), 0u)
        << refused.localizedDescription();
    ASSERT_TRUE(refused.underlying);
    RunLoop::main().runFor(200ms);
    EXPECT_EQ(recorder.finished, 1) << "a failed load is not also a finished one";
}

TEST_F(WebViewTest, TypedTextAndTappedButtonSubmitAForm) {
    serve("/login", "login",
          "<form method=post action='/login'>"
          "<input name=user class=at style='left:10px;top:10px;width:150px;"
          "height:30px'><input name=pass type=password class=at "
          "style='left:10px;top:50px;width:150px;height:30px'>"
          "<input type=submit class=at style='left:10px;top:90px;width:150px;"
          "height:30px' value='Log in'></form>");
    server.server().Post(
        "/login", [](const Req&, Res& res) { res.set_content(page("welcome", ""), "text/html"); });
    start(Rect(0, 100, 320, 300));
    ASSERT_TRUE(load("/login"));

    // Everything goes through the host, as SDL delivers it: the window is 2 pixels a point.
    auto click = [&](double x, double y) { sendClick(*app->host, int(x * 2), int(y * 2)); };
    auto type = [&](const char* text) { sendText(*app->host, text); };
    auto press = [&](SDL_Keycode key) { sendKey(*app->host, key); };
    click(50, 100 + 25);
    EXPECT_TRUE(view->isFocused());
    // A person's first key comes well after the click has focused the field.
    ASSERT_TRUE(waitUntil([&] {
        return view->stringByEvaluatingJavaScript("document.activeElement.name") == "user";
    }));
    type("zoë");
    press(SDLK_BACKSPACE);
    type("é x");
    press(SDLK_TAB);
    type("s3cret");
    auto fieldsRead = [&] {
        return view->stringByEvaluatingJavaScript(
            "document.forms[0].user.value + '|' + document.forms[0].pass.value");
    };
    ASSERT_TRUE(waitUntil([&] { return fieldsRead() == "zoé x|s3cret"; })) << fieldsRead();
    click(50, 100 + 105);
    ASSERT_TRUE(waitUntil([&] { return received("POST /login user=zo%C3%A9+x&pass=s3cret"); }))
        << ::testing::PrintToString(log());
}

TEST_F(WebViewTest, DeletingTheCookiesOfAHostLeavesOtherHostsAlone) {
    std::string token = std::to_string(std::random_device{}());
    server.server().Get("/set", [&](const Req&, Res& res) {
        res.set_header("Set-Cookie", "session=" + token + "; Path=/; Max-Age=3600");
        res.set_content(page("set", ""), "text/html");
    });
    std::mutex mutex;
    std::string cookieSeen;
    server.server().Get("/echo", [&](const Req& req, Res& res) {
        std::lock_guard lock(mutex);
        cookieSeen = req.get_header_value("Cookie");
        res.set_content(page("echo", ""), "text/html");
    });
    start(Rect(0, 0, 200, 200));
    auto cookieAtServer = [&] {
        EXPECT_TRUE(load("/echo"));
        std::lock_guard lock(mutex);
        return cookieSeen;
    };
    ASSERT_TRUE(load("/set"));
    EXPECT_EQ(cookieAtServer(), "session=" + token);
    WebView::deleteCookiesForHost("localhost");
    WebView::deleteCookiesForHost("example.com");
    EXPECT_EQ(cookieAtServer(), "session=" + token);
    WebView::deleteCookiesForHost("127.0.0.1");
    EXPECT_EQ(cookieAtServer(), "");
}

}  // namespace
}  // namespace quorbit::platform
