// The web dialogs against the real web view, a headless host and the mock service.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>

#include "facebook/FBDialog.h"
#include "facebook/FBLoginDialog.h"
#include "facebook/Facebook.h"
#include "json/JsonConveniences.h"
#include "platform/core/NotificationCenter.h"
#include "platform/desktop/UrlOpener.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Animation.h"
#include "support/FBTestSupport.h"
#include "support/HostTestSupport.h"
#include "support/MockFacebookService.h"
#include "support/Pixels.h"

namespace quorbit::facebook {
namespace {

using namespace std::chrono_literals;
using platform::Application;
using platform::Error;
using platform::WebNavigationType;
using testing::MockFacebookService;
using testing::OpenerStandIn;
using Orientation = platform::Application::Orientation;

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
    return platform::RunLoop::main().runUntil(done, limit);
}

// Everything the dialog delegates heard, in order.
struct Heard : FBLoginDialogDelegate {
    std::vector<std::string> events;
    std::optional<Error> error;
    std::optional<Date> expiry;
    std::string token;
    std::shared_ptr<FBDialogDelegate> dialog = std::make_shared<FBDialogDelegate>();
    std::function<bool(const std::string&)> openExternally;

    Heard() {
        dialog->dialogCompleteWithUrl = [this](const std::string& url) {
            events.push_back("completeWithUrl " + url);
        };
        dialog->dialogDidComplete = [this](FBDialog&) { events.push_back("didComplete"); };
        dialog->dialogDidNotCompleteWithUrl = [this](const std::string& url) {
            events.push_back("notCompleteWithUrl " + url);
        };
        dialog->dialogDidNotComplete = [this](FBDialog&) { events.push_back("didNotComplete"); };
        dialog->didFailWithError = [this](FBDialog&, const Error& e) {
            events.push_back("fail " + std::to_string(e.code));
            error = e;
        };
    }
    void fbDialogLogin(const std::string& t, std::optional<Date> e) override {
        events.push_back("login");
        token = t;
        expiry = e;
    }
    void fbDialogNotLogin(bool cancelled) override {
        events.push_back(cancelled ? "notLogin cancelled" : "notLogin failed");
    }
};

class FBDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (auto why = platform::WebView::engineUnavailable())
            GTEST_SKIP() << "the web engine cannot start here: " << why->localizedDescription();
    }
    void TearDown() override {
        Application::shared().setKeyboardVisible(false);
        Application::shared().setStatusBarOrientation(Orientation::Portrait);
    }
    // A headless application with a screen of the given size in points, two pixels a point.
    void startApp(double width = 320, double height = 480) {
        platform::HostOptions options;
        options.scale = 2;
        options.width = width;
        options.height = height;
        app = std::make_unique<platform::HeadlessApp>(options);
    }
    // The login dialog of a client that cannot leave the application.
    std::shared_ptr<FBLoginDialog> signInInTheApp(std::shared_ptr<Facebook>& facebook,
                                                  std::shared_ptr<FBSessionDelegate> session) {
        facebook = Facebook::create("123", service.configuration("123"));
        facebook->setMultitaskingSupported(false);
        facebook->authorize({"publish_stream"}, session);
        return facebook->loginDialog();
    }
    bool settled(const std::shared_ptr<FBDialog>& dialog) {
        return waitUntil([&] { return !platform::Animation::isAnimating(dialog.get()); }, 5s);
    }

    MockFacebookService service;
    std::unique_ptr<platform::HeadlessApp> app;
};

TEST_F(FBDialogTest, TheFilterEndsTheDialogAtTheFbconnectRedirect) {
    const std::string page = "https://m.example.invalid/dialog/feed?x=1";
    enum Kind { Plain, Login };
    using W = WebNavigationType;
    // The delegate calls heard, joined by "; ".
    struct Case {
        const char* name;
        Kind kind;
        std::string url;
        W type;
        bool load;
        std::string events;
        bool opened = false;
        std::string token = {};  // the login's, unescaped
        double lifetime = 0;     // the login's, in seconds; 0: it never expires
    };
    const std::string success = "fbconnect://success#access_token=T%2B1&expires_in=3600";
    const std::string cancel = "fbconnect://cancel";
    const std::string failed = "fbconnect://cancel?error_code=4201&error_msg=Bad%20thing";
    const std::string elsewhere = "https://other.invalid/next";
    const std::string noToken = "fbconnect://success#expires_in=0";
    const std::string emptyToken = "fbconnect://success#access_token=&expires_in=0";
    const std::string noLifetime = "fbconnect://success#access_token=T&expires_in=0";
    const std::string done = "completeWithUrl " + success + "; didComplete";
    const std::string notDone = "notCompleteWithUrl " + cancel + "; didNotComplete";
    // clang-format off
    const std::vector<Case> cases = {
        {"success", Plain, success, W::Other, false, done},
        {"success, login", Login, success, W::Other, false, "login", false, "T+1", 3600},
        {"a lifetime of 0, login", Login, noLifetime, W::Other, false, "login", false, "T"},
        {"cancel", Plain, cancel, W::LinkClicked, false, notDone},
        {"cancel, login", Login, cancel, W::Other, false, "notLogin cancelled"},
        {"cancel with an error code", Plain, failed, W::Other, false, "fail 4201"},
        {"cancel with an error code, login", Login, failed, W::Other, false, ""},
        {"success without a token, login", Login, noToken, W::Other, false, "notLogin cancelled"},
        {"success, empty token, login", Login, emptyToken, W::Other, false, "notLogin cancelled"},
        {"the page being loaded", Plain, page, W::LinkClicked, true, ""},
        {"a form sent elsewhere", Plain, elsewhere, W::FormSubmitted, true, ""},
        {"a redirect elsewhere", Login, elsewhere, W::Other, true, ""},
        {"a tapped link elsewhere: the browser", Plain, elsewhere, W::LinkClicked, false, "", true},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenerStandIn opener(0);
        auto heard = std::make_shared<Heard>();
        std::shared_ptr<FBDialog> dialog =
            c.kind == Plain
                ? FBDialog::create("https://m.example.invalid/dialog/feed",
                                   std::make_shared<FBParams>(FBParams{{"x", "1"}}), heard->dialog)
                : std::static_pointer_cast<FBDialog>(FBLoginDialog::create(
                      "https://m.example.invalid/dialog/oauth", std::make_shared<FBParams>(),
                      std::weak_ptr<FBLoginDialogDelegate>(heard)));
        if (c.kind == Plain) dialog->load();
        EXPECT_EQ(dialog->shouldStartLoad(c.url, c.type), c.load);
        std::string events;
        for (const std::string& e : heard->events)
            events += (events.empty() ? "" : "; ") + e;
        EXPECT_EQ(events, c.events);
        EXPECT_EQ(opener.opened().size(), c.opened ? 1u : 0u);
        if (c.url == failed && c.kind == Plain) {
            ASSERT_TRUE(heard->error);
            EXPECT_EQ(heard->error->domain, "quorbit.facebook");
            EXPECT_EQ(heard->error->userInfo["error_msg"], "Bad thing");
        }
        if (!c.token.empty()) {
            EXPECT_EQ(heard->token, c.token);
            ASSERT_TRUE(heard->expiry);
            if (c.lifetime == 0) {
                EXPECT_EQ(*heard->expiry, distantFuture());
            } else {
                auto left = *heard->expiry - std::chrono::system_clock::now();
                EXPECT_NEAR(std::chrono::duration<double>(left).count(), c.lifetime, 5);
            }
        }
        platform::RunLoop::main().runFor(50ms);
    }
}

TEST_F(FBDialogTest, LoadFailuresOtherThanCancelledOrRefusedLoadsEndTheDialogAndSayWhy) {
    struct Case {
        Error error;
        std::vector<std::string> plain, login;
        const char* alert;  // the alert's message, or null for none
    };
    const std::string notFound = "The server's name could not be found";
    const std::string advice = ". Check that this computer is online, then try again.";
    const std::string noConnection = "Could not connect" + advice, noName = notFound + advice;
    // clang-format off
    const Case cases[] = {
        {Error::make("quorbit.page-load", 102, "frame load interrupted"), {}, {}, nullptr},
        {Error::make("quorbit.url", -999, "cancelled"), {"fail -999"}, {}, nullptr},
        {Error::make("quorbit.url", -1004, "Could not connect."), {"fail -1004"},
         {"fail -1004", "notLogin failed"}, noConnection.c_str()},
        {Error::make("quorbit.url", -1003, notFound), {"fail -1003"},
         {"fail -1003", "notLogin failed"}, noName.c_str()},
    };
    // clang-format on
    auto alertShown = [](const char* message) {
        auto* alert = platform::AlertView::visibleAlert();
        bool ok = message ? alert && alert->title() == FBDialog::kLoadFailedTitle &&
                                alert->message() == message
                          : alert == nullptr;
        if (alert) alert->dismissWithClickedButtonIndex(0, false);
        return ok;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error.code);
        auto heard = std::make_shared<Heard>();
        auto plain =
            FBDialog::create("https://m.example.invalid/dialog/feed", nullptr, heard->dialog);
        plain->webViewDidFailLoad(c.error);
        EXPECT_EQ(heard->events, c.plain);
        EXPECT_TRUE(alertShown(c.alert));

        auto loginHeard = std::make_shared<Heard>();
        auto login = FBLoginDialog::create("https://m.example.invalid/dialog/oauth", nullptr,
                                           std::weak_ptr<FBLoginDialogDelegate>(loginHeard));
        login->setDelegate(loginHeard->dialog);
        login->webViewDidFailLoad(c.error);
        EXPECT_EQ(loginHeard->events, c.login);
        EXPECT_TRUE(alertShown(c.alert));
    }
    // A dialog on its way out, its delegate told already, says nothing of a load that fails.
    auto heard = std::make_shared<Heard>();
    auto leaving =
        FBDialog::create("https://m.example.invalid/dialog/feed", nullptr, heard->dialog);
    leaving->dismissWithSuccess(false, true);
    leaving->webViewDidFailLoad(cases[2].error);
    EXPECT_EQ(heard->events, std::vector<std::string>{"didNotComplete"});
    EXPECT_TRUE(alertShown(nullptr));
}

TEST_F(FBDialogTest, ThePanelTurnsWithTheInterfaceUnlessTheKeyboardIsUp) {
    startApp();
    auto heard = std::make_shared<Heard>();
    auto dialog =
        FBDialog::create(service.url("/dialog/feed"), std::make_shared<FBParams>(), heard->dialog);
    dialog->show();
    ASSERT_TRUE(settled(dialog));
    platform::Rect web = dialog->webView()->frame();
    double title = dialog->titleLabel()->frame().height();

    Application::shared().setStatusBarOrientation(Orientation::LandscapeRight);
    ASSERT_TRUE(settled(dialog));
    EXPECT_EQ(dialog->orientation(), Orientation::LandscapeRight);
    EXPECT_EQ(dialog->bounds().size, (platform::Size{460, 300}));
    platform::AffineTransform quarter = platform::AffineTransform::rotation(M_PI / 2);
    EXPECT_NEAR(dialog->transform().b, quarter.b, 1e-9);
    EXPECT_NEAR(dialog->transform().a, quarter.a, 1e-9);
    EXPECT_EQ(dialog->webView()->stringByEvaluatingJavaScript(
                  "document.body.getAttribute('orientation')"),
              "90");

    // The keyboard in landscape gives the page the title bar and the border.
    web = dialog->webView()->frame();
    Application::shared().setKeyboardVisible(true);
    EXPECT_TRUE(dialog->showingKeyboard());
    EXPECT_EQ(dialog->webView()->frame(), web.insetBy(-20, -(20 + title)));
    // No turning while it is up, nor when it goes, until the next change.
    Application::shared().setStatusBarOrientation(Orientation::Portrait);
    platform::RunLoop::main().runFor(400ms);
    EXPECT_EQ(dialog->orientation(), Orientation::LandscapeRight);
    Application::shared().setKeyboardVisible(false);
    EXPECT_EQ(dialog->webView()->frame(), web);
    EXPECT_EQ(dialog->orientation(), Orientation::LandscapeRight);
    Application::shared().setStatusBarOrientation(Orientation::PortraitUpsideDown);
    ASSERT_TRUE(settled(dialog));
    EXPECT_EQ(dialog->orientation(), Orientation::PortraitUpsideDown);
    EXPECT_EQ(dialog->bounds().size, (platform::Size{300, 460}));
    dialog->dismiss(false);
}

// Signs in through the in-app dialog on the mock service's HTML form: text typed as key
// events, the button pressed with the pointer, the service's redirect followed to the
// success URL.
class FBDialogSignInTest : public FBDialogTest {
  protected:
    // Window points of the centre of an element of the page.
    platform::Point centreOf(FBDialog& dialog, const std::string& id) {
        std::string text = dialog.webView()->stringByEvaluatingJavaScript(
            "(function(){var r=document.getElementById('" + id +
            "').getBoundingClientRect();return "
            "JSON.stringify([r.left+r.width/2,r.top+r.height/2]);})()");
        auto value = json::JSONValue(text);
        EXPECT_TRUE(value && value->isArray()) << text;
        if (!value) return {};
        return dialog.webView()->convertToWindow(
            platform::Point{*(*value)[0].asDouble(), *(*value)[1].asDouble()});
    }
    void click(platform::Point p) {
        for (Uint32 type : {SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP}) {
            SDL_Event e{};
            e.type = type;
            e.button.button = SDL_BUTTON_LEFT;
            e.button.x = int(p.x * 2);
            e.button.y = int(p.y * 2);
            app->host->handleEvent(e);
        }
    }
    void type(const std::string& text) {
        SDL_Event e{};
        e.type = SDL_TEXTINPUT;
        std::strncpy(e.text.text, text.c_str(), sizeof e.text.text - 1);
        app->host->handleEvent(e);
    }
    void press(SDL_Keycode key) {
        for (Uint32 t : {SDL_KEYDOWN, SDL_KEYUP}) {
            SDL_Event e{};
            e.type = t;
            e.key.keysym.sym = key;
            app->host->handleEvent(e);
        }
    }
    bool focusIs(FBDialog& dialog, const std::string& id) {
        return waitUntil([&] {
            return dialog.webView()->stringByEvaluatingJavaScript("document.activeElement.id") ==
                   id;
        });
    }
    std::string field(FBDialog& dialog, const std::string& id) {
        return dialog.webView()->stringByEvaluatingJavaScript("document.getElementById('" + id +
                                                              "').value");
    }
};

TEST_F(FBDialogSignInTest, AfterAFailedBrowserAttemptTheDialogSignsInOnTheServicesForm) {
    startApp();
    OpenerStandIn browserFails(1);
    std::vector<std::string> session;
    auto delegate = std::make_shared<FBSessionDelegate>();
    delegate->fbDidLogin = [&session] { session.push_back("login"); };
    delegate->fbDidNotLogin = [&session](bool c) { session.push_back(c ? "cancelled" : "failed"); };
    auto facebook = Facebook::create("123", service.configuration("123"));
    facebook->authorize({"publish_stream", "offline_access"}, delegate);
    ASSERT_EQ(browserFails.opened().size(), 1u);  // the browser was tried, and failed
    auto dialog = facebook->loginDialog();
    ASSERT_TRUE(dialog);
    // The dialog keeps its own redirect, which it can follow.
    EXPECT_EQ(dialog->params()->text("redirect_uri"), "fbconnect://success");
    EXPECT_NE(dialog->loadingURL()->find("redirect_uri=fbconnect%3A%2F%2Fsuccess"),
              std::string::npos);

    ASSERT_TRUE(waitUntil([&] { return dialog->title() == "Sign in to Mockbook"; }))
        << dialog->title();
    ASSERT_TRUE(settled(dialog));
    EXPECT_TRUE(dialog->spinner()->isHidden());

    click(centreOf(*dialog, "user"));
    ASSERT_TRUE(focusIs(*dialog, "user"));
    type(MockFacebookService::kUser);
    press(SDLK_TAB);
    // The page moves the focus on its own time, as a person waits for the cursor to move.
    ASSERT_TRUE(focusIs(*dialog, "password"));
    type(MockFacebookService::kPassword);
    ASSERT_TRUE(
        waitUntil([&] { return field(*dialog, "password") == MockFacebookService::kPassword; }));
    EXPECT_EQ(field(*dialog, "user"), MockFacebookService::kUser);

    // What the user sees: the panel over the window, the page in it.
    auto shot = app->host->screenshot();
    ASSERT_TRUE(shot);
    auto at = [&](double x, double y) { return shot->pixel(int(x * 2), int(y * 2)); };
    double titleY = dialog->frame().y() + 10 + dialog->titleLabel()->frame().height() / 2;
    // The title bar's blue, the border's grey over the black window, the page's white.
    EXPECT_TRUE(testing::near(at(dialog->frame().x() + 13, titleY), {109, 132, 180}));
    EXPECT_TRUE(
        testing::near(at(dialog->frame().x() + 4, dialog->frame().midY()), {61, 61, 61}, 3));
    platform::Point inPage = dialog->webView()->convertToWindow(platform::Point{4, 4});
    EXPECT_TRUE(testing::near(at(inPage.x, inPage.y), {255, 255, 255}, 0));

    click(centreOf(*dialog, "login"));
    ASSERT_TRUE(waitUntil([&] { return !session.empty(); }));
    EXPECT_EQ(session, std::vector<std::string>{"login"});
    EXPECT_EQ(facebook->accessToken(), MockFacebookService::kToken);
    EXPECT_TRUE(facebook->isSessionValid());
    // The panel fades away and leaves the window.
    ASSERT_TRUE(waitUntil([&] { return dialog->superview() == nullptr; }, 5s));
    EXPECT_EQ(dialog->modalBackgroundView()->superview(), nullptr);
}

TEST_F(FBDialogSignInTest, CancelOnTheFormTheCloseButtonOrEscapeMeansNotSignedIn) {
    startApp();
    enum How { FormCancel, CloseButton, EscapeKey };
    for (How how : {FormCancel, CloseButton, EscapeKey}) {
        SCOPED_TRACE(how == CloseButton ? "close button"
                     : how == EscapeKey ? "Escape"
                                        : "the form's Cancel");
        std::vector<std::string> session;
        auto delegate = std::make_shared<FBSessionDelegate>();
        delegate->fbDidLogin = [&session] { session.push_back("login"); };
        delegate->fbDidNotLogin = [&session](bool c) {
            session.push_back(c ? "cancelled" : "failed");
        };
        std::shared_ptr<Facebook> facebook;
        OpenerStandIn opener(0);
        auto dialog = signInInTheApp(facebook, delegate);
        ASSERT_TRUE(dialog);
        EXPECT_TRUE(opener.opened().empty());  // no other application was tried
        size_t observersWhileUp = platform::NotificationCenter::defaultCenter().observerCount();
        ASSERT_TRUE(waitUntil([&] { return dialog->title() == "Sign in to Mockbook"; }));
        ASSERT_TRUE(settled(dialog));
        if (how == EscapeKey) {
            // The page has the focus; Escape leaves it for the dialog, once however long
            // it is held.
            EXPECT_TRUE(dialog->webView()->isFocused());
            SDL_Event escape{};
            escape.type = escape.key.type = SDL_KEYDOWN;
            escape.key.keysym.sym = SDLK_ESCAPE;
            app->host->handleEvent(escape);
            escape.key.repeat = 1;
            app->host->handleEvent(escape);
        } else if (how == CloseButton) {
            platform::Point close =
                dialog->closeButton()->convertToWindow(dialog->closeButton()->bounds().origin);
            close.x += dialog->closeButton()->bounds().width() / 2;
            close.y += dialog->closeButton()->bounds().height() / 2;
            click(close);
        } else {
            click(centreOf(*dialog, "cancel"));
        }
        ASSERT_TRUE(waitUntil([&] { return !session.empty(); }));
        EXPECT_EQ(session, std::vector<std::string>{"cancelled"});
        EXPECT_FALSE(facebook->accessToken());
        ASSERT_TRUE(waitUntil([&] { return dialog->superview() == nullptr; }, 5s));
        // Orientation, window size, keyboard shown and hidden: none is left behind.
        EXPECT_EQ(platform::NotificationCenter::defaultCenter().observerCount(),
                  observersWhileUp - 4);
    }
}

TEST_F(FBDialogSignInTest, TheServiceCanSendTheSignInStraightToTheDialog) {
    startApp();
    OpenerStandIn opener(0);
    auto facebook = Facebook::create("123", service.configuration("123"));
    EXPECT_TRUE(facebook->handleOpenURL("fb123://authorize#error=service_disabled"));
    EXPECT_TRUE(opener.opened().empty());
    ASSERT_TRUE(facebook->loginDialog());
    EXPECT_EQ(facebook->loginDialog()->superview(), app->window.get());
    facebook->loginDialog()->dismiss(false);
}

TEST_F(FBDialogSignInTest, OtherDialogsCarryTheAppAndTheToken) {
    startApp();
    auto facebook = Facebook::create("123", service.configuration("123"));
    facebook->setAccessToken("to%2Fken");
    facebook->setExpirationDate(std::chrono::system_clock::now() + 1h);
    auto heard = std::make_shared<Heard>();
    auto params = std::make_shared<FBParams>(FBParams{{"message", "hi"}});
    facebook->dialog("feed", params, heard->dialog);
    auto dialog = facebook->fbDialog();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->serverURL(), service.url("/dialog/feed"));
    for (auto [key, value] : {std::pair{"app_id", "123"},
                              {"access_token", "to/ken"},
                              {"redirect_uri", "fbconnect://success"},
                              {"display", "touch"}})
        EXPECT_EQ(params->text(key), value) << key;
    EXPECT_FALSE(std::dynamic_pointer_cast<FBLoginDialog>(dialog));
    dialog->dismiss(false);

    facebook->dialog("oauth", std::make_shared<FBParams>(), heard->dialog);
    ASSERT_TRUE(std::dynamic_pointer_cast<FBLoginDialog>(facebook->fbDialog()));
    EXPECT_EQ(facebook->fbDialog()->params()->text("type"), "user_agent");
    facebook->fbDialog()->dismiss(false);
}

// Signs in with the web engine's module missing: the dialog, tried after a browser that
// fails, must fail, and a later sign-in through the browser must go through. Exits 0 when
// both happened; the dialog's words are on standard error.
[[noreturn]] void signInWithoutTheEngine() {
    setenv("QUORBIT_WEB_ENGINE", "/nonexistent/quorbit-webengine.so", 1);
    MockFacebookService service;
    platform::HostOptions options;
    options.width = 320;
    options.height = 480;
    platform::HeadlessApp app(options);
    std::vector<std::string> session;
    auto delegate = std::make_shared<FBSessionDelegate>();
    delegate->fbDidLogin = [&session] { session.push_back("login"); };
    delegate->fbDidNotLogin = [&session](bool c) { session.push_back(c ? "cancelled" : "failed"); };
    auto facebook = Facebook::create("123", service.configuration("123"));
    {
        OpenerStandIn browserFails(1);
        facebook->authorize({"publish_stream"}, delegate);
    }
    bool dialogFailed = facebook->loginDialog() &&
                        waitUntil([&] { return !session.empty(); }, 10s) &&
                        session == std::vector<std::string>{"failed"};
    bool signedIn = false;
    {
        OpenerStandIn browser(0);
        facebook->authorize({"publish_stream"}, delegate);
        bool opened = browser.opened().size() == 1;
        facebook->handleOpenURL("fb123://authorize#access_token=T&expires_in=0");
        signedIn = opened && !session.empty() && session.back() == "login" &&
                   facebook->accessToken() == "T";
    }
    std::fprintf(stderr, "dialog failed: %d, signed in through the browser: %d\n", dialogFailed,
                 signedIn);
    std::_Exit(dialogFailed && signedIn ? 0 : 1);
}

// A process tries to load the engine once, so this runs in a process of its own.
TEST(FBDialogWithoutEngineTest, TheSignInDialogSaysWhyAndTheBrowserStillSignsIn) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(signInWithoutTheEngine(), ::testing::ExitedWithCode(0),
                "The sign-in window cannot be shown: the web engine's module "
                "quorbit-webengine\\.so is not installed \\(looked in "
                "/nonexistent/quorbit-webengine\\.so\\)");
}

}  // namespace
}  // namespace quorbit::facebook
