// The web dialogs against the real web view, a headless host and the mock service.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>

#include "facebook/FBDialog.h"
#include "facebook/FBLoginDialog.h"
#include "facebook/Facebook.h"
#include "platform/core/NotificationCenter.h"
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
using ::testing::HasSubstr;
using testing::MockFacebookService;
using testing::OpenerStandIn;
using testing::SessionRecorder;
using Orientation = platform::Application::Orientation;

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
    return platform::RunLoop::main().runUntil(done, limit);
}

// Everything the dialog delegates heard, in order, "; " between.
struct Heard : FBLoginDialogDelegate {
    std::string events;
    void add(const std::string& event) { events += (events.empty() ? "" : "; ") + event; }
    std::shared_ptr<FBDialogDelegate> dialog = std::make_shared<FBDialogDelegate>(FBDialogDelegate{
        .dialogDidComplete = [this](auto&) { add("didComplete"); },
        .dialogCompleteWithUrl = [this](auto& url) { add("completeWithUrl " + url); },
        .dialogDidNotComplete = [this](auto&) { add("didNotComplete"); },
        .dialogDidNotCompleteWithUrl = [this](auto& url) { add("notCompleteWithUrl " + url); },
        .didFailWithError =
            [this](auto&, const Error& e) {
                add("fail " + e.domain + " " + std::to_string(e.code) +
                    (e.userInfo.count("error_msg") ? " " + e.userInfo.at("error_msg") : ""));
            },
        .shouldOpenURLInExternalBrowser = {}});
    // The token, and its lifetime to the minute.
    void fbDialogLogin(const std::string& token, std::optional<Date> expiry) override {
        auto left = expiry.value_or(Date{}) - std::chrono::system_clock::now();
        std::string minutes =
            std::to_string(std::chrono::round<std::chrono::minutes>(left).count());
        add("login " + token +
            (expiry == distantFuture() ? " for ever"
             : expiry                  ? " for " + minutes + " min"
                                       : " with no expiry"));
    }
    void fbDialogNotLogin(bool cancelled) override {
        add(cancelled ? "notLogin cancelled" : "notLogin failed");
    }
};

std::shared_ptr<FBDialog> feedDialog(const Heard& heard, std::shared_ptr<FBParams> params) {
    return FBDialog::create("https://m.example.invalid/dialog/feed", params, heard.dialog);
}
std::shared_ptr<FBDialog> loginDialog(std::shared_ptr<Heard> heard,
                                      std::shared_ptr<FBParams> params) {
    return FBLoginDialog::create("https://m.example.invalid/dialog/oauth", params,
                                 std::weak_ptr<FBLoginDialogDelegate>(heard));
}

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
    // A headless application with a screen of 320 x 480 points, two pixels a point.
    void startApp() { app = std::make_unique<platform::HeadlessApp>(2); }
    bool settled(const std::shared_ptr<FBDialog>& dialog) {
        return waitUntil([&] { return !platform::Animation::isAnimating(dialog.get()); }, 5s);
    }
    void click(platform::Point p) { sendClick(*app->host, int(p.x * 2), int(p.y * 2)); }
    // Window points of the centre of an element of the page.
    platform::Point centreOf(FBDialog& dialog, const std::string& id) {
        auto read = [&](const std::string& js) {
            return std::stod(dialog.webView()->stringByEvaluatingJavaScript(
                "(r => " + js + ")(document.getElementById('" + id +
                "').getBoundingClientRect())"));
        };
        return dialog.webView()->convertToWindow(
            platform::Point{read("r.left + r.width / 2"), read("r.top + r.height / 2")});
    }

    MockFacebookService service;
    std::unique_ptr<platform::HeadlessApp> app;
};

TEST_F(FBDialogTest, TheFilterEndsTheDialogAtTheFbconnectRedirect) {
    enum Kind { Plain, Login };
    using W = WebNavigationType;
    struct Case {
        const char* name;
        Kind kind;
        std::string url;
        W type;
        bool load;
        std::string events;
        bool opened = false;
    };
    const std::string success = "fbconnect://success#access_token=T%2B1&expires_in=3600";
    const std::string cancel = "fbconnect://cancel", elsewhere = "https://other.invalid/next";
    const std::string failed = "fbconnect://cancel?error_code=4201&error_msg=Bad%20thing";
    const std::string done = "completeWithUrl " + success + "; didComplete";
    const std::string notDone = "notCompleteWithUrl " + cancel + "; didNotComplete";
    const std::string refused = "fail quorbit.facebook 4201 Bad thing", no = "notLogin cancelled";
    // clang-format off
    const std::vector<Case> cases = {
        {"success", Plain, success, W::Other, false, done},
        {"success, login", Login, success, W::Other, false, "login T+1 for 60 min"},
        {"a lifetime of 0, login", Login, "fbconnect://success#access_token=T&expires_in=0", W::Other, false, "login T for ever"},
        {"cancel", Plain, cancel, W::LinkClicked, false, notDone},
        {"cancel, login", Login, cancel, W::Other, false, no},
        {"cancel with an error code", Plain, failed, W::Other, false, refused},
        {"cancel with an error code, login", Login, failed, W::Other, false, ""},
        {"success without a token, login", Login, "fbconnect://success#expires_in=0", W::Other, false, no},
        {"success, empty token, login", Login, "fbconnect://success#access_token=&expires_in=0", W::Other, false, no},
        {"the page being loaded", Plain, "https://m.example.invalid/dialog/feed?x=1", W::LinkClicked, true, ""},
        {"a form sent elsewhere", Plain, elsewhere, W::FormSubmitted, true, ""},
        {"a redirect elsewhere", Login, elsewhere, W::Other, true, ""},
        {"a tapped link elsewhere: the browser", Plain, elsewhere, W::LinkClicked, false, "", true},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenerStandIn opener(0);
        auto heard = std::make_shared<Heard>();
        auto dialog = c.kind == Plain
                          ? feedDialog(*heard, std::make_shared<FBParams>(FBParams{{"x", "1"}}))
                          : loginDialog(heard, std::make_shared<FBParams>());
        if (c.kind == Plain) dialog->load();
        EXPECT_EQ(dialog->shouldStartLoad(c.url, c.type), c.load);
        EXPECT_EQ(heard->events, c.events);
        EXPECT_EQ(opener.opened().size(), c.opened ? 1u : 0u);
        platform::RunLoop::main().runFor(50ms);
    }
}

TEST_F(FBDialogTest, LoadFailuresOtherThanCancelledOrRefusedLoadsEndTheDialogAndSayWhy) {
    struct Case {
        Error error;
        std::string plain, login;
        const char* alert;  // the alert's message, or null for none
    };
    const std::string notFound = "The server's name could not be found";
    const std::string advice = ". Check that this computer is online, then try again.";
    const std::string noConnection = "Could not connect" + advice, noName = notFound + advice;
    const Case cases[] = {
        {Error::make("quorbit.page-load", 102, "frame load interrupted"), "", "", nullptr},
        {Error::make("quorbit.url", -999, "cancelled"), "fail quorbit.url -999", "", nullptr},
        {Error::make("quorbit.url", -1004, "Could not connect."), "fail quorbit.url -1004",
         "fail quorbit.url -1004; notLogin failed", noConnection.c_str()},
        {Error::make("quorbit.url", -1003, notFound), "fail quorbit.url -1003",
         "fail quorbit.url -1003; notLogin failed", noName.c_str()},
    };
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
        auto heard = std::make_shared<Heard>(), loginHeard = std::make_shared<Heard>();
        feedDialog(*heard, nullptr)->webViewDidFailLoad(c.error);
        EXPECT_EQ(heard->events, c.plain);
        EXPECT_TRUE(alertShown(c.alert));
        auto login = loginDialog(loginHeard, nullptr);
        login->setDelegate(loginHeard->dialog);
        login->webViewDidFailLoad(c.error);
        EXPECT_EQ(loginHeard->events, c.login);
        EXPECT_TRUE(alertShown(c.alert));
    }
    // A dialog on its way out, its delegate told already, says nothing of a load that fails.
    Heard heard;
    auto leaving = feedDialog(heard, nullptr);
    leaving->dismissWithSuccess(false, true);
    leaving->webViewDidFailLoad(cases[2].error);
    EXPECT_EQ(heard.events, "didNotComplete");
    EXPECT_TRUE(alertShown(nullptr));
}

// A dialog other than the sign-in carries the application and the token; its panel turns
// with the interface unless the keyboard is up.
TEST_F(FBDialogTest, OtherDialogsCarryTheAppAndTheTokenAndTurnWithTheInterface) {
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
    ASSERT_TRUE(settled(dialog));
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
    platform::Rect web = dialog->webView()->frame();
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

    facebook->dialog("oauth", std::make_shared<FBParams>(), heard->dialog);
    ASSERT_TRUE(std::dynamic_pointer_cast<FBLoginDialog>(facebook->fbDialog()));
    EXPECT_EQ(facebook->fbDialog()->params()->text("type"), "user_agent");
    facebook->fbDialog()->dismiss(false);
}

// The dialog comes up after a browser that fails, for a client that cannot leave the
// application, or when the service sends the sign-in straight to it. The form's Log In
// signs in; its Cancel, the close button or Escape mean not signed in. Typing into a page
// is the web view's own test: here a script fills the fields.
TEST_F(FBDialogTest, TheDialogSignsInOnTheServicesFormOrIsCancelled) {
    startApp();
    enum How { LogIn, FormCancel, CloseButton, EscapeKey };
    for (How how : {LogIn, FormCancel, CloseButton, EscapeKey}) {
        SCOPED_TRACE(how);
        SessionRecorder session;
        OpenerStandIn opener(how == LogIn ? 1 : 0);
        auto facebook = Facebook::create("123", service.configuration("123"));
        if (how == FormCancel) {
            facebook->setSessionDelegate(session.delegate);
            EXPECT_TRUE(facebook->handleOpenURL("fb123://authorize#error=service_disabled"));
        } else {
            facebook->setMultitaskingSupported(how == LogIn);
            facebook->authorize({"publish_stream", "offline_access"}, session.delegate);
        }
        EXPECT_EQ(opener.opened().size(), how == LogIn ? 1u : 0u);  // the browser, and no other
        auto dialog = facebook->loginDialog();
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->superview(), app->window.get());
        // The dialog keeps its own redirect, which it can follow.
        EXPECT_EQ(dialog->params()->text("redirect_uri"), "fbconnect://success");
        EXPECT_THAT(*dialog->loadingURL(), HasSubstr("redirect_uri=fbconnect%3A%2F%2Fsuccess"));
        size_t observersWhileUp = platform::NotificationCenter::defaultCenter().observerCount();
        ASSERT_TRUE(waitUntil([&] { return dialog->title() == "Sign in to Mockbook"; }))
            << dialog->title();
        ASSERT_TRUE(settled(dialog));
        EXPECT_TRUE(dialog->spinner()->isHidden());
        if (how == LogIn) {
            dialog->webView()->stringByEvaluatingJavaScript(
                "user.value='" + std::string(MockFacebookService::kUser) + "';password.value='" +
                MockFacebookService::kPassword + "'");
            // What the user sees: the panel over the window, the page in it.
            auto shot = app->host->screenshot();
            ASSERT_TRUE(shot);
            auto at = [&](double x, double y) { return shot->pixel(int(x * 2), int(y * 2)); };
            double titleY = dialog->frame().y() + 10 + dialog->titleLabel()->frame().height() / 2;
            // The title bar's blue, the border's grey over the black window, the page's white.
            EXPECT_TRUE(testing::near(at(dialog->frame().x() + 13, titleY), {109, 132, 180}));
            EXPECT_TRUE(testing::near(at(dialog->frame().x() + 4, dialog->frame().midY()),
                                      {61, 61, 61}, 3));
            platform::Point inPage = dialog->webView()->convertToWindow(platform::Point{4, 4});
            EXPECT_TRUE(testing::near(at(inPage.x, inPage.y), {255, 255, 255}, 0));
            click(centreOf(*dialog, "login"));
        } else if (how == EscapeKey) {
            // The page has the focus; Escape leaves it for the dialog, once however long
            // it is held.
            EXPECT_TRUE(dialog->webView()->isFocused());
            platform::sendKey(*app->host, SDLK_ESCAPE);
            platform::sendKey(*app->host, SDLK_ESCAPE, KMOD_NONE, 1);
        } else if (how == CloseButton) {
            platform::Rect button = dialog->closeButton()->bounds();
            click(dialog->closeButton()->convertToWindow({button.midX(), button.midY()}));
        } else {
            click(centreOf(*dialog, "cancel"));
        }
        ASSERT_TRUE(waitUntil([&] { return !session.events.empty(); }));
        EXPECT_EQ(session.events, std::vector<std::string>{how == LogIn ? "login" : "cancelled"});
        EXPECT_EQ(
            facebook->accessToken(),
            how == LogIn ? std::optional<std::string>(MockFacebookService::kToken) : std::nullopt);
        EXPECT_EQ(facebook->isSessionValid(), how == LogIn);
        // The panel fades away and leaves the window; orientation, window size, keyboard
        // shown and hidden: no observer is left behind.
        ASSERT_TRUE(waitUntil([&] { return dialog->superview() == nullptr; }, 5s));
        EXPECT_EQ(dialog->modalBackgroundView()->superview(), nullptr);
        EXPECT_EQ(platform::NotificationCenter::defaultCenter().observerCount(),
                  observersWhileUp - 4);
    }
}

// Signs in with the web engine's module missing: the dialog, tried after a browser that
// fails, must fail, and a later sign-in through the browser must go through. Exits 0 when
// both happened; the dialog's words are in the log on standard error.
[[noreturn]] void signInWithoutTheEngine() {
    setenv("QUORBIT_WEB_ENGINE", "/nonexistent/quorbit-webengine.so", 1);
    MockFacebookService service;
    platform::HeadlessApp app;
    SessionRecorder session;
    auto facebook = Facebook::create("123", service.configuration("123"));
    {
        OpenerStandIn browserFails(1);
        facebook->authorize({"publish_stream"}, session.delegate);
    }
    bool dialogFailed = facebook->loginDialog() &&
                        waitUntil([&] { return !session.events.empty(); }, 10s) &&
                        session.events == std::vector<std::string>{"failed"};
    OpenerStandIn browser(0);
    facebook->authorize({"publish_stream"}, session.delegate);
    bool opened = browser.opened().size() == 1;
    facebook->handleOpenURL("fb123://authorize#access_token=T&expires_in=0");
    bool signedIn = opened && session.events == std::vector<std::string>{"failed", "login"} &&
                    facebook->accessToken() == "T";
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
