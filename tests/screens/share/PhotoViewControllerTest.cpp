#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <time.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/core/Bundle.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/Reachability.h"
#include "platform/desktop/UrlOpener.h"
#include "platform/gfx/ImageCodec.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/ControlNames.h"
#include "platform/ui/Window.h"
#include "screens/settings/SettingsView.h"
#include "screens/share/PhotoViewController.h"
#include "support/FBTestSupport.h"
#include "support/LocalHttpServer.h"
#include "support/MockFacebookService.h"
#include "support/Scratch.h"

namespace quorbit::share {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::MockFacebookService;
using Clock = std::chrono::system_clock;

constexpr const char* kFailureTitle = "There was an problem uploading your photo to Facebook.";

// The share screen (and the settings screen beside it) on the mock service, with a store, a network
// answer and a URL opener of the test's own. The opener writes down every URL; it turns
// down the Facebook application's scheme, so a sign-in goes on to the browser.
class ShareScreen : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch = std::make_unique<testing::ScratchDir>("publishing");
        dir = scratch->path();
        store = std::make_unique<platform::UserDefaults>(dir / "defaults.json");
        setenv("QUORBIT_PROBE_URL", service.url("/canned/probe").c_str(), 1);
        setOnline(true);
        std::ofstream(dir / "open.sh") << "echo \"$1\" >> " << (dir / "opened").string()
                                       << "\ncase \"$1\" in fbauth:*) exit 1;; esac\n";
        saved = platform::UrlOpener::shared().commands();
        platform::UrlOpener::Commands commands;
        commands.open = {"sh", (dir / "open.sh").string()};
        commands.handlerQuery = {};
        platform::UrlOpener::shared().setCommands(commands);
        observer = platform::NotificationCenter::defaultCenter().addObserver(
            kFBUserLoginStatusChange, nullptr, [this](const platform::Notification&) { ++posts; });
    }
    void TearDown() override {
        while (auto* alert = platform::AlertView::visibleAlert())
            alert->dismissWithClickedButtonIndex(0, false);
        platform::NotificationCenter::defaultCenter().removeObserver(observer);
        platform::Reachability::setOverride({});
        platform::UrlOpener::shared().setCommands(saved);
        unsetenv("QUORBIT_PROBE_URL");
        if (window) window->setRootViewController(nullptr);
        scratch.reset();
    }

    void setOnline(bool online) {
        platform::Reachability::setOverride([online] {
            return std::optional<unsigned>(online ? platform::Reachability::Reachable : 0u);
        });
    }
    PhotoViewController::Services services() {
        return {store.get(), configuration, "io.example.Flurio", "help@example.org"};
    }
    // A sign-in kept from an earlier run, with token.
    void saveSignIn(const std::string& token = MockFacebookService::kToken) {
        auto client = facebook::Facebook::create("123", configuration);
        client->setAccessToken(token);
        client->setExpirationDate(std::chrono::system_clock::now() + 1h);
        facebook::Session session(*store, configuration);
        session.setSessionWithFacebook(client, "7");
        session.save();
    }
    // The share screen in a visible window, with a photo.
    std::shared_ptr<PhotoViewController> makeScreen() {
        auto screen = std::make_shared<PhotoViewController>(services());
        auto photo = std::make_shared<platform::Image>(64, 48);
        screen->changeImage(photo);
        window = std::make_shared<platform::Window>(platform::Window::screenBounds());
        window->makeKeyAndVisible();
        window->setRootViewController(screen);
        return screen;
    }
    bool settle(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
        return platform::RunLoop::main().runUntil(done, limit);
    }
    std::string opened() const { return platform::readFile(dir / "opened").value_or(""); }

    MockFacebookService service;
    facebook::FBConfiguration configuration = service.configuration("123");
    std::unique_ptr<testing::ScratchDir> scratch;  // anew for each case
    fs::path dir;
    std::unique_ptr<platform::UserDefaults> store;
    platform::UrlOpener::Commands saved;
    platform::NotificationCenter::Id observer = 0;
    int posts = 0;
    std::shared_ptr<platform::Window> window;
};

TEST_F(ShareScreen, ASavedSignInLoadsTheUserAndLogoutForgetsIt) {
    EXPECT_FALSE(makeScreen()->getIsLoggedInToFB());
    saveSignIn();
    auto screen = makeScreen();
    EXPECT_TRUE(screen->getIsLoggedInToFB());
    ASSERT_TRUE(settle([&] { return screen->userName().has_value(); }));
    EXPECT_EQ(screen->userName(), "Ann");
    EXPECT_EQ(store->stringForKey(facebook::Session::kUserIdKey), "42");
    EXPECT_EQ(posts, 1);  // the name stored
    posts = 0;
    screen->logout();
    EXPECT_EQ(posts, 2);
    EXPECT_FALSE(screen->getIsLoggedInToFB());
    EXPECT_FALSE(store->contains(kFBUserNameKey));
    EXPECT_FALSE(store->contains(facebook::Session::kUserIdKey));
}

// A failed "me" at start signs out only when the service turns the sign-in down; any
// passing cause keeps the session and the saved name, and the screen asks again on opening.
TEST_F(ShareScreen, AFailedUserInfoLoadSignsOutOnlyWhenTheSignInIsRejected) {
    testing::RawHttpServer silent([](int, const std::string&, const std::atomic<bool>& stopping) {
        while (!stopping)
            std::this_thread::sleep_for(10ms);
    });
    auto limits = facebook::FBRequest::defaultLimits();
    auto shortened = limits;
    shortened.idle = std::chrono::duration<double>(0.3);
    facebook::FBRequest::setDefaultLimits(shortened);
    struct Case {
        const char* name;
        std::string graphURL;  // empty: the canned answer
        std::string body = {};
        int status = 200;
        bool signsOut = false;
    };
    // clang-format off
    const Case cases[] = {
        {"unreachable", "http://127.0.0.1:9/"},
        {"timed out", silent.url("/")},
        {"500 with a page", "", "<html>Internal Server Error</html>", 500},
        {"503 with a service error", "", R"({"error":{"message":"Try later","code":2}})", 503},
        {"404 from a path the service lacks", service.url("/nothing/")},
        {"expired token", "", R"({"error":{"type":"OAuthException","code":190}})", 400, true},
        {"revoked by the user", "", R"({"error_code":"458","error_msg":"revoked"})", 200, true},
        {"session expired subcode", "", R"({"error":{"type":"OAuthException","code":10,"error_subcode":463}})", 400, true},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::LogCapture log;
        configuration.graphURL = c.graphURL.empty() ? service.url("/canned/") : c.graphURL;
        service.setCanned("me", c.body, c.status);
        saveSignIn();
        store->setString(kFBUserNameKey, "Ann");
        auto screen = makeScreen();
        if (c.signsOut) {
            ASSERT_TRUE(settle([&] { return !screen->getIsLoggedInToFB(); }));
            EXPECT_FALSE(store->contains(facebook::Session::kAccessTokenKey));
            EXPECT_FALSE(screen->userName());
            EXPECT_GE(posts, 2);
        } else {
            ASSERT_TRUE(settle([&] { return log.contains("the sign-in is kept"); }));
            EXPECT_TRUE(screen->getIsLoggedInToFB());
            EXPECT_TRUE(store->contains(facebook::Session::kAccessTokenKey));
            EXPECT_EQ(screen->userName(), "Ann");
            if (c.graphURL.empty()) {
                // The service is back when the screen opens again.
                service.setCanned("me", R"({"id":"8","name":"Ann B"})");
                screen->viewWillAppear(false);
                ASSERT_TRUE(settle([&] { return screen->userName() == "Ann B"; }));
                EXPECT_EQ(store->stringForKey(facebook::Session::kUserIdKey), "8");
            }
        }
        TearDown();
        SetUp();
    }
    facebook::FBRequest::setDefaultLimits(limits);
}

// "Complete" only for an answer the client accepted; every other answer the failure alert.
TEST_F(ShareScreen, UploadShowsItsProgressAndAlertsOnAFailedAnswer) {
    struct Case {
        const char* name;
        std::string body = {};  // the canned answer; none: the mock's own upload
        int status = 200;
    };
    // Which answers fail is the request's own test; here one of them.
    const Case cases[] = {{"accepted"},
                          {"500 with a page", "<html>Internal Server Error</html>", 500}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool fails = !c.body.empty();
        if (fails) {
            // The Graph endpoint of canned answers: "me" knows the user, the upload fails.
            configuration.graphURL = service.url("/canned/");
            service.setCanned("me", R"({"id":"7","name":"Ann"})");
            service.setCanned("me/photos", c.body, c.status);
        }
        saveSignIn();
        auto screen = makeScreen();
        ASSERT_TRUE(settle([&] { return screen->userName().has_value(); }));
        size_t before = service.received().size();

        screen->publishPhotoCurrentImage();
        auto hud = screen->HUD();
        ASSERT_TRUE(hud);
        EXPECT_EQ(hud->superview(), window.get());
        ASSERT_TRUE(settle(
            [&] { return hud->labelText() == "Complete" || platform::AlertView::visibleAlert(); }));
        EXPECT_EQ(hud->labelText(), fails ? "Uploading Photo" : "Complete");
        ASSERT_TRUE(settle([&] { return hud->alpha() < 0.01 || hud->isHidden(); }, 2s));
        settle([] { return platform::AlertView::visibleAlert() != nullptr; }, 1s);
        auto* alert = platform::AlertView::visibleAlert();
        if (fails) {
            ASSERT_TRUE(alert);
            EXPECT_EQ(alert->title(), kFailureTitle);
            EXPECT_TRUE(alert->message().ends_with("contact us at help@example.org"));
            EXPECT_EQ(alert->buttonTitleAtIndex(0), "OK");
        } else {
            EXPECT_FALSE(alert);
            ASSERT_EQ(service.uploads().size(), 1u);
            EXPECT_EQ(service.uploads()[0].message, "Shot with Flurio for Linux");
        }
        ASSERT_GT(service.received().size(), before);
        EXPECT_TRUE(service.received().back().path.ends_with("me/photos"));
        EXPECT_TRUE(screen->getIsLoggedInToFB());
        TearDown();
        SetUp();
    }
}

// An upload the service never answers: the overlay's Cancel (Escape presses it: the
// overlay's own test) drops the connection and says so, then the overlay goes; no
// "Complete" and no alert follow.
TEST_F(ShareScreen, AStalledUploadIsCancelledByTheOverlaysButton) {
    std::atomic<int> dropped{0};
    testing::RawHttpServer graph(
        [&](int socket, const std::string& request, const std::atomic<bool>& stopping) {
            if (request.find("/me/photos") == std::string::npos) {
                testing::RawHttpServer::send(
                    socket,
                    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                    "Content-Length: 23\r\n\r\n{\"id\":\"7\",\"name\":\"Ann\"}");
                return;
            }
            while (!stopping) {
                pollfd p{socket, POLLIN, 0};
                char byte;
                if (poll(&p, 1, 20) > 0 && recv(socket, &byte, 1, 0) <= 0) {
                    ++dropped;
                    return;
                }
            }
        });
    configuration.graphURL = graph.url("/");
    saveSignIn();
    auto screen = makeScreen();
    ASSERT_TRUE(settle([&] { return screen->userName().has_value(); }));
    screen->publishPhotoCurrentImage();
    auto hud = screen->HUD();
    ASSERT_TRUE(hud);
    ASSERT_TRUE(settle([&] {
        return !graph.requests().empty() &&
               graph.requests().back().find("/me/photos") != std::string::npos;
    }));
    settle([] { return false; }, 200ms);
    EXPECT_EQ(window->hitTest({5, 5}), hud.get()) << "the window stays covered";
    auto* cancel = dynamic_cast<platform::Button*>(window->findControl(controls::kUploadCancel));
    ASSERT_TRUE(cancel);
    cancel->sendActions(platform::Button::Event::TouchUpInside);
    EXPECT_EQ(hud->labelText(), "Upload cancelled");
    EXPECT_FALSE(window->findControl(controls::kUploadCancel));
    ASSERT_TRUE(settle([&] { return dropped == 1; }, 2s)) << "still connected";
    ASSERT_TRUE(settle([&] { return hud->alpha() < 0.01 || hud->isHidden(); }, 3s));
    settle([] { return platform::AlertView::visibleAlert() != nullptr; }, 300ms);
    EXPECT_FALSE(platform::AlertView::visibleAlert());
    EXPECT_TRUE(screen->getIsLoggedInToFB());
}

TEST_F(ShareScreen, NothingIsPostedWithoutAPhotoOrSignedOut) {
    auto screen = makeScreen();
    screen->publishPhotoCurrentImage();  // signed out
    screen->setIsLoggedInToFB(true);
    screen->publishPhoto(nullptr);
    EXPECT_FALSE(screen->HUD());
    platform::RunLoop::main().runFor(200ms);
    EXPECT_TRUE(service.received().empty());
}

// The Facebook row, by network and sign-in state.
TEST_F(ShareScreen, FacebookRowSignsInPostsOrSaysThereIsNoNetwork) {
    struct Case {
        bool online, signedIn;
        bool alert, browser, oneClick, upload;
    };
    // clang-format off
    const Case cases[] = {
        {false, false, true, false, false, false},
        {false, true, true, false, false, false},
        {true, false, false, true, true, false},
        {true, true, false, false, false, true},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "online " << c.online << ", signed in " << c.signedIn);
        if (c.signedIn) saveSignIn();
        auto screen = makeScreen();
        if (c.signedIn) {
            ASSERT_TRUE(settle([&] { return screen->userName().has_value(); }));
        }
        setOnline(c.online);
        platform::IndexPath row{0, 0};
        screen->shareTable()->selectRowAtIndexPath(row, false);
        screen->didSelectRow(row);
        auto* alert = platform::AlertView::visibleAlert();
        EXPECT_EQ(alert != nullptr, c.alert);
        if (alert) {
            EXPECT_EQ(alert->title(), "Cannot use Facebook");
            EXPECT_EQ(alert->message(), "Currently not connected to the internet");
        }
        EXPECT_EQ(opened().find(configuration.dialogURL) != std::string::npos, c.browser);
        EXPECT_EQ(store->boolForKey(kOneClickPublishKey), c.oneClick);
        if (c.upload) {
            EXPECT_TRUE(settle([&] { return service.uploads().size() == 1; }));
        }
        EXPECT_EQ(service.uploads().size(), c.upload ? 1u : 0u);
        EXPECT_FALSE(screen->shareTable()->indexPathForSelectedRow());
        TearDown();
        SetUp();
    }
}

// A sign-in turned down or failed: still signed out, and a later sign-in posts nothing.
TEST_F(ShareScreen, AFailedSignInDropsTheWaitingPost) {
    for (bool cancelled : {true, false}) {
        auto screen = makeScreen();
        screen->didSelectRow({0, 0});
        ASSERT_TRUE(store->boolForKey(kOneClickPublishKey));
        screen->fbDidNotLogin(cancelled);
        EXPECT_FALSE(store->boolForKey(kOneClickPublishKey)) << cancelled;
        EXPECT_FALSE(screen->getIsLoggedInToFB()) << cancelled;
    }
}

TEST_F(ShareScreen, SettingsRowFollowsTheSignInState) {
    saveSignIn();
    auto screen = makeScreen();
    auto settings = std::make_shared<SettingsView>();
    settings->setPhotoViewController(screen);
    settings->view();  // registers for the notification
    auto rowText = [&] {
        auto* cell = settings->settingsTable()->cellForRowAtIndexPath({0, 0});
        return cell ? cell->textLabel()->text() : std::string("(no cell)");
    };
    settings->reload();
    settings->settingsTable()->layoutSubviews();
    ASSERT_TRUE(settle([&] { return screen->userName().has_value(); }));
    settings->settingsTable()->layoutSubviews();
    EXPECT_EQ(rowText(), "Logout: Ann");

    // Offline: the alert, and nothing changes.
    setOnline(false);
    settings->didSelectRow({0, 0});
    ASSERT_TRUE(platform::AlertView::visibleAlert());
    platform::AlertView::visibleAlert()->dismissWithClickedButtonIndex(0, false);
    EXPECT_TRUE(screen->getIsLoggedInToFB());

    setOnline(true);
    settings->didSelectRow({0, 0});
    settings->settingsTable()->layoutSubviews();
    EXPECT_EQ(rowText(), "Login");
    EXPECT_FALSE(screen->getIsLoggedInToFB());

    // Signing in from here starts the browser but asks for no post.
    settings->didSelectRow({0, 0});
    EXPECT_NE(opened().find(configuration.dialogURL), std::string::npos);
    EXPECT_FALSE(store->boolForKey(kOneClickPublishKey));
}

// A local time, as the clock's time point (in the time zone set by the test).
Clock::time_point localTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
    t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second, t.tm_isdst = -1;
    return Clock::from_time_t(mktime(&t));
}

TEST_F(ShareScreen, AttachmentNamesCountHoursOneToTwentyFour) {
    const char* savedTz = getenv("TZ");
    std::string saved = savedTz ? savedTz : "";
    setenv("TZ", "UTC", 1);
    tzset();
    struct Case {
        Clock::time_point when;
        const char* name;
    };
    // clang-format off
    const Case cases[] = {
        {localTime(2011, 12, 31, 0, 30, 0), "Flurio-20111231243000"},
        {localTime(2012, 1, 2, 13, 5, 9), "Flurio-20120102130509"},
        {localTime(2012, 1, 2, 23, 59, 59), "Flurio-20120102235959"},
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(PhotoViewController::attachmentName(c.when), c.name);
    if (savedTz)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

// The rows; the e-mail row runs the mail program found first on PATH with the subject, the
// body (the store link once) and the attachment as a JPEG file.
TEST_F(ShareScreen, EmailRowHandsThePhotoToTheMailProgram) {
    fs::path bin = dir / "bin";
    // Writes its arguments, each ended by a NUL, and keeps a copy of the attachment.
    scratch->write("bin/xdg-email",
                   "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"" + (dir / "args.tmp").string() +
                       "\"\ncp \"$6\" \"" + (dir / "copy").string() + "\"\nmv \"" +
                       (dir / "args.tmp").string() + "\" \"" + (dir / "args").string() + "\"\n");
    fs::permissions(bin / "xdg-email", fs::perms::owner_all);
    std::string path = getenv("PATH");
    setenv("PATH", (bin.string() + ":" + path).c_str(), 1);
    unsetenv("QUORBIT_MAIL_COMMAND");

    auto screen = makeScreen();
    auto& table = *screen->shareTable();
    table.layoutSubviews();
    ASSERT_EQ(table.numberOfRowsInSection(0), 2);
    EXPECT_EQ(table.cellForRowAtIndexPath({0, 0})->textLabel()->text(), "Share on Facebook");
    EXPECT_EQ(table.cellForRowAtIndexPath({0, 1})->textLabel()->text(), "Share with E-mail");
    screen->changeImage(std::make_shared<platform::Image>(40, 30));
    screen->didSelectRow({0, 1});
    bool ran = platform::RunLoop::main().runUntil([&] { return fs::exists(dir / "args"); }, 5s);
    setenv("PATH", path.c_str(), 1);
    ASSERT_TRUE(ran);

    std::istringstream in(scratch->read("args"));
    std::vector<std::string> args;
    for (std::string arg; std::getline(in, arg, '\0');)
        args.push_back(arg);
    ASSERT_EQ(args.size(), 6u);
    const std::vector<std::string> options = {args[0], args[1], args[2], args[4]};
    EXPECT_EQ(options, (std::vector<std::string>{"--subject", "Check out my Flurio photo!",
                                                 "--body", "--attach"}));
    EXPECT_EQ(args[3],
              "Photo taken with Flurio for Linux.\n\nCheck it out in the Flathub store:\n"
              "https://flathub.org/apps/io.example.Flurio");
    fs::path attached = args[5];
    EXPECT_TRUE(attached.filename().string().starts_with("Flurio-")) << attached;
    EXPECT_EQ(attached.extension(), ".jpg");
    auto decoded = platform::ImageCodec::decodeJpeg(scratch->read("copy"));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width(), 40);
    EXPECT_FALSE(platform::AlertView::visibleAlert());
    fs::remove_all(attached.parent_path());
}

}  // namespace
}  // namespace quorbit::share
