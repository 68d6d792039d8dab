#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <sstream>

#include "platform/core/Bundle.h"
#include "platform/core/NotificationCenter.h"
#include "platform/desktop/Reachability.h"
#include "platform/gfx/ImageCodec.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/ControlNames.h"
#include "platform/ui/Window.h"
#include "screens/settings/SettingsView.h"
#include "screens/share/PhotoLibrary.h"
#include "screens/share/PhotoViewController.h"
#include "support/FBTestSupport.h"
#include "support/LocalHttpServer.h"
#include "support/MockFacebookService.h"

namespace quorbit::share {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::AlertView;
using testing::MockFacebookService;

// The share screen (and the settings screen beside it) on the mock service, with a store, a
// network answer and a URL opener of the test's own. The opener writes down every URL; it
// turns down the Facebook application's scheme, so a sign-in goes on to the browser.
class ShareScreen : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch = std::make_unique<testing::ScratchDir>("publishing");
        dir = scratch->path();
        store = std::make_unique<platform::UserDefaults>(dir / "defaults.json");
        setenv("QUORBIT_PROBE_URL", service.url("/canned/probe").c_str(), 1);
        setOnline(true);
        scratch->write("open.sh", "echo \"$1\" >> " + (dir / "opened").string() +
                                      "\ncase \"$1\" in fbauth:*) exit 1;; esac\n");
        saved = platform::UrlOpener::shared().commands();
        platform::UrlOpener::shared().setCommands({{"sh", (dir / "open.sh").string()}, {}});
        observer = platform::NotificationCenter::defaultCenter().addObserver(
            kFBUserLoginStatusChange, nullptr, [this](const platform::Notification&) { ++posts; });
    }
    void TearDown() override {
        while (auto* alert = AlertView::visibleAlert())
            alert->dismissWithClickedButtonIndex(0, false);
        platform::NotificationCenter::defaultCenter().removeObserver(observer);
        platform::Reachability::setOverride({});
        platform::UrlOpener::shared().setCommands(saved);
        unsetenv("QUORBIT_PROBE_URL");
        if (window) window->setRootViewController(nullptr);
        scratch.reset();
    }
    void again() { TearDown(), SetUp(); }
    void setOnline(bool online) {
        platform::Reachability::setOverride([online] {
            return std::optional<unsigned>(online ? platform::Reachability::Reachable : 0u);
        });
    }
    void saveSignIn() {
        auto client = facebook::Facebook::create("123", configuration);
        client->setAccessToken(MockFacebookService::kToken);
        client->setExpirationDate(std::chrono::system_clock::now() + 1h);
        facebook::Session session(*store, configuration);
        session.setSessionWithFacebook(client, "7");
        session.save();
    }
    // The share screen in a visible window, with a photo; with the user's name loaded when
    // signed in.
    std::shared_ptr<PhotoViewController> makeScreen(bool waitForName = false) {
        auto screen = std::make_shared<PhotoViewController>(PhotoViewController::Services{
            store.get(), configuration, "io.example.Flurio", "help@example.org"});
        screen->changeImage(std::make_shared<platform::Image>(64, 48));
        window = std::make_shared<platform::Window>(platform::Window::screenBounds());
        window->makeKeyAndVisible();
        window->setRootViewController(screen);
        EXPECT_TRUE(!waitForName || settle([&] { return screen->userName().has_value(); }));
        return screen;
    }
    bool settle(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
        return platform::RunLoop::main().runUntil(done, limit);
    }
    // Waits for the overlay to go, then a moment for an alert that must not come.
    void hudGoneWithoutAlert(const std::shared_ptr<hud::ProgressHud>& hud,
                             std::chrono::milliseconds grace) {
        ASSERT_TRUE(settle([&] { return hud->alpha() < 0.01 || hud->isHidden(); }, 3s));
        settle([] { return AlertView::visibleAlert() != nullptr; }, grace);
        EXPECT_FALSE(AlertView::visibleAlert());
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

// A failed "me" at start signs out only when the service turns the sign-in down; any
// passing cause keeps the session and the saved name, and the screen asks again on opening.
TEST_F(ShareScreen, AFailedUserInfoLoadSignsOutOnlyWhenTheSignInIsRejected) {
    testing::RawHttpServer silent([](int, const std::string&, const std::atomic<bool>& stopping) {
        while (!stopping)
            std::this_thread::sleep_for(10ms);
    });
    auto limits = facebook::FBRequest::defaultLimits(), shortened = limits;
    shortened.idle = std::chrono::duration<double>(0.3);
    facebook::FBRequest::setDefaultLimits(shortened);
    // The Graph endpoint (empty: the canned answer), its answer and whether the screen signs out.
    // clang-format off
    const struct { const char* name; std::string graphURL, body = {}; int status = 200; bool signsOut = false; } cases[] = {
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::LogCapture log;
        configuration.graphURL = c.graphURL.empty() ? service.url("/canned/") : c.graphURL;
        service.setCanned("me", c.body, c.status);
        saveSignIn();
        store->setString(kFBUserNameKey, "Ann");
        auto screen = makeScreen();
        ASSERT_TRUE(settle([&] {
            return c.signsOut ? !screen->getIsLoggedInToFB() : log.contains("the sign-in is kept");
        }));
        EXPECT_EQ(screen->getIsLoggedInToFB(), !c.signsOut);
        EXPECT_EQ(store->contains(facebook::Session::kAccessTokenKey), !c.signsOut);
        EXPECT_EQ(screen->userName(),
                  c.signsOut ? std::nullopt : std::optional<std::string>("Ann"));
        if (c.signsOut) {
            EXPECT_GE(posts, 2);
        }
        if (c.graphURL.empty() && !c.signsOut) {
            // The service is back when the screen opens again.
            service.setCanned("me", R"({"id":"8","name":"Ann B"})");
            screen->viewWillAppear(false);
            ASSERT_TRUE(settle([&] { return screen->userName() == "Ann B"; }));
            EXPECT_EQ(store->stringForKey(facebook::Session::kUserIdKey), "8");
        }
        again();
    }
    facebook::FBRequest::setDefaultLimits(limits);
}

// The Facebook row, by network and sign-in state: the no-network alert, the sign-in in the
// browser with the post waiting for it, or the upload showing its progress to "Complete";
// an upload the service turns down alerts.
TEST_F(ShareScreen, FacebookRowSignsInPostsOrSaysThereIsNoNetworkAndAFailedUploadAlerts) {
    // clang-format off
    const struct { bool online, signedIn, alert, browser, upload; } cases[] = {
        {false, false, true, false, false}, {false, true, true, false, false},
        {true, false, false, true, false}, {true, true, false, false, true}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "online " << c.online << ", signed in " << c.signedIn);
        if (c.signedIn) saveSignIn();
        auto screen = makeScreen(c.signedIn);
        setOnline(c.online);
        screen->shareTable()->selectRowAtIndexPath(platform::IndexPath{0, 0}, false);
        screen->didSelectRow({0, 0});
        auto* alert = AlertView::visibleAlert();
        EXPECT_EQ(alert != nullptr, c.alert);
        if (alert) {
            EXPECT_EQ(alert->title(), "Cannot use Facebook");
            EXPECT_EQ(alert->message(), "Currently not connected to the internet");
        }
        EXPECT_EQ(opened().find(configuration.dialogURL) != std::string::npos, c.browser);
        EXPECT_EQ(store->boolForKey(kOneClickPublishKey), c.browser);
        EXPECT_FALSE(screen->shareTable()->indexPathForSelectedRow());
        if (c.upload) {
            auto hud = screen->HUD();
            ASSERT_TRUE(hud);
            EXPECT_EQ(hud->superview(), window.get());
            ASSERT_TRUE(settle([&] { return hud->labelText() == "Complete"; }));
            hudGoneWithoutAlert(hud, 1s);
            ASSERT_EQ(service.uploads().size(), 1u);
            EXPECT_EQ(service.uploads()[0].message, "Shot with Flurio for Linux");
            EXPECT_TRUE(screen->getIsLoggedInToFB());
        }
        EXPECT_EQ(service.uploads().size(), c.upload ? 1u : 0u);
        again();
    }
    // Nothing is posted without a photo or signed out.
    auto screen = makeScreen();
    size_t requests = service.received().size();
    screen->publishPhotoCurrentImage();  // signed out
    screen->setIsLoggedInToFB(true);
    screen->publishPhoto(nullptr);
    EXPECT_FALSE(screen->HUD());
    platform::RunLoop::main().runFor(200ms);
    EXPECT_EQ(service.received().size(), requests);
    // A sign-in turned down or failed: still signed out, and a later sign-in posts nothing.
    for (bool cancelled : {true, false}) {
        screen = makeScreen();
        screen->didSelectRow({0, 0});
        ASSERT_TRUE(store->boolForKey(kOneClickPublishKey));
        screen->fbDidNotLogin(cancelled);
        EXPECT_FALSE(store->boolForKey(kOneClickPublishKey)) << cancelled;
        EXPECT_FALSE(screen->getIsLoggedInToFB()) << cancelled;
    }
    // An answer the client does not accept brings the failure alert, not "Complete" (which
    // answers fail is the request's own test).
    again();
    configuration.graphURL = service.url("/canned/");
    service.setCanned("me", R"({"id":"7","name":"Ann"})");
    service.setCanned("me/photos", "<html>Internal Server Error</html>", 500);
    saveSignIn();
    screen = makeScreen(true);
    screen->publishPhotoCurrentImage();
    auto hud = screen->HUD();
    ASSERT_TRUE(hud);
    ASSERT_TRUE(settle([] { return AlertView::visibleAlert() != nullptr; }));
    EXPECT_EQ(hud->labelText(), "Uploading Photo");
    ASSERT_TRUE(settle([&] { return hud->alpha() < 0.01 || hud->isHidden(); }, 3s));
    auto* alert = AlertView::visibleAlert();
    EXPECT_EQ(alert->title(), "There was an problem uploading your photo to Facebook.");
    EXPECT_TRUE(alert->message().ends_with("contact us at help@example.org"));
    EXPECT_EQ(alert->buttonTitleAtIndex(0), "OK");
    EXPECT_TRUE(service.received().back().path.ends_with("me/photos"));
    EXPECT_TRUE(screen->getIsLoggedInToFB());
}

// An upload the service never answers: the overlay's Cancel drops the connection and says
// so, then the overlay goes; no "Complete" and no alert follow.
TEST_F(ShareScreen, AStalledUploadIsCancelledByTheOverlaysButton) {
    std::atomic<int> dropped{0};
    testing::RawHttpServer graph(
        [&](int socket, const std::string& request, const std::atomic<bool>& stopping) {
            if (request.find("/me/photos") == std::string::npos)
                return testing::RawHttpServer::send(
                    socket,
                    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                    "Content-Length: 23\r\n\r\n{\"id\":\"7\",\"name\":\"Ann\"}");
            while (!stopping) {
                pollfd p{socket, POLLIN, 0};
                char byte;
                if (poll(&p, 1, 20) > 0 && recv(socket, &byte, 1, 0) <= 0) return void(++dropped);
            }
        });
    configuration.graphURL = graph.url("/");
    saveSignIn();
    auto screen = makeScreen(true);
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
    hudGoneWithoutAlert(hud, 300ms);
    EXPECT_TRUE(screen->getIsLoggedInToFB());
}

// A saved sign-in loads the user, and the settings row follows: it signs out (and the screen
// forgets the user), or in through the browser without asking for a post.
TEST_F(ShareScreen, ASavedSignInLoadsTheUserAndTheSettingsRowSignsOutAndIn) {
    EXPECT_FALSE(makeScreen()->getIsLoggedInToFB());
    saveSignIn();
    auto screen = makeScreen();
    auto settings = std::make_shared<SettingsView>();
    settings->setPhotoViewController(screen);
    settings->view();  // registers for the notification
    auto rowText = [&] {
        settings->settingsTable()->layoutSubviews();
        auto* cell =
            settings->settingsTable()->cellForRowAtIndexPath({SettingsView::kFacebookSection, 0});
        return cell ? cell->textLabel()->text() : std::string("(no cell)");
    };
    auto selectRow = [&] { settings->didSelectRow({SettingsView::kFacebookSection, 0}); };
    settings->reload();
    rowText();
    ASSERT_TRUE(settle([&] { return screen->userName().has_value(); }));
    EXPECT_TRUE(screen->getIsLoggedInToFB());
    EXPECT_EQ(screen->userName(), "Ann");
    EXPECT_EQ(store->stringForKey(facebook::Session::kUserIdKey), "42");
    EXPECT_EQ(posts, 1);  // the name stored
    EXPECT_EQ(rowText(), "Logout: Ann");
    // Offline: the alert, and nothing changes.
    setOnline(false);
    selectRow();
    ASSERT_TRUE(AlertView::visibleAlert());
    AlertView::visibleAlert()->dismissWithClickedButtonIndex(0, false);
    EXPECT_TRUE(screen->getIsLoggedInToFB());
    setOnline(true);
    selectRow();
    EXPECT_EQ(posts, 3);
    EXPECT_EQ(rowText(), "Login");
    EXPECT_FALSE(screen->getIsLoggedInToFB());
    EXPECT_FALSE(store->contains(kFBUserNameKey));
    EXPECT_FALSE(store->contains(facebook::Session::kUserIdKey));
    selectRow();
    EXPECT_NE(opened().find(configuration.dialogURL), std::string::npos);
    EXPECT_FALSE(store->boolForKey(kOneClickPublishKey));
}

// The rows; the e-mail row runs the mail program found first on PATH with the subject, the
// body (the store link once) and the attachment as a JPEG file.
TEST_F(ShareScreen, EmailRowHandsThePhotoToTheMailProgramNamedByTheHourFromOneToTwentyFour) {
    // Writes its arguments, each ended by a NUL, and keeps a copy of the attachment.
    fs::path bin = scratch
                       ->write("bin/xdg-email", "#!/bin/sh\ncd \"" + dir.string() +
                                                    "\"\nprintf '%s\\0' \"$@\" > args.tmp\n"
                                                    "cp \"$6\" copy\nmv args.tmp args\n")
                       .parent_path();
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
    bool ran = settle([&] { return fs::exists(dir / "args"); });
    setenv("PATH", path.c_str(), 1);
    ASSERT_TRUE(ran);
    std::istringstream in(scratch->read("args"));
    std::vector<std::string> args;
    for (std::string arg; std::getline(in, arg, '\0');)
        args.push_back(arg);
    ASSERT_EQ(args.size(), 6u);
    EXPECT_EQ((std::vector<std::string>{args[0], args[1], args[2], args[4]}),
              (std::vector<std::string>{"--subject", "Check out my Flurio photo!", "--body",
                                        "--attach"}));
    EXPECT_EQ(args[3],
              "Photo taken with Flurio for Linux.\n\nCheck it out in the Flathub store:\n"
              "https://flathub.org/apps/io.example.Flurio");
    fs::path attached = args[5];
    EXPECT_TRUE(attached.filename().string().starts_with("Flurio-")) << attached;
    EXPECT_EQ(attached.extension(), ".jpg");
    auto decoded = platform::ImageCodec::decodeJpeg(scratch->read("copy"));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width(), 40);
    EXPECT_FALSE(AlertView::visibleAlert());
    fs::remove_all(attached.parent_path());
    // Attachment names count hours from 1 to 24.
    setenv("TZ", "UTC", 1);
    tzset();
    // clang-format off
    for (auto [t, name] : {std::pair{1325291400, "Flurio-20111231243000"}, {1325509509, "Flurio-20120102130509"}, {1325548799, "Flurio-20120102235959"}})
        EXPECT_EQ(PhotoViewController::attachmentName(std::chrono::system_clock::from_time_t(t)), name);
    // clang-format on
    unsetenv("TZ");
    tzset();
}

// Taking a photo, refusing one while busy and failing are the camera screen's tests, through
// this writer; here the writer let go of mid-write.
TEST(PhotoLibrary, AWriterGoneBeforeTheAlbumAnswersStillSavesAndTellsNobody) {
    struct Recorder : PhotoLibraryDelegate {
        int calls = 0;
        void photoFinishedSaving() override { ++calls; }
        void photoFailedSaving(const platform::Error&) override { ++calls; }
    } recorder;
    testing::ScratchDir scratch("quorbit-library");
    {
        auto library = PhotoLibrary::create(scratch.path());
        library->setBaseViewController(&recorder);
        ASSERT_TRUE(library->savePhoto(platform::Image(320, 427), platform::ImageOrientation::Up));
    }
    platform::RunLoop::main().runFor(200ms);
    EXPECT_EQ(recorder.calls, 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace quorbit::share
