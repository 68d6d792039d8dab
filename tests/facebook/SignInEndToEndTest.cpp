#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "support/FBTestSupport.h"
#include "support/MockFacebookService.h"
#include "app/IncomingUrl.h"
#include "facebook/Facebook.h"
#include "facebook/Session.h"
#include "facebook/UserInfo.h"
#include "platform/core/Bundle.h"
#include "platform/gfx/ImageCodec.h"
#include "platform/desktop/UrlOpener.h"

namespace quorbit::facebook {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::MockFacebookService;
using testing::RequestRecorder;

// Plays the browser: returns at once (as a browser started by xdg-open does), then in the
// background opens the sign-in page, signs in as the mock service's user, and hands the URL
// the service redirects to over to `quorbit URL`, as the desktop would.
constexpr const char* kBrowser = R"(import http.client, os, subprocess, sys, urllib.parse
program, url = sys.argv[1], sys.argv[2]
if os.fork() != 0:
    sys.exit(0)
parts = urllib.parse.urlsplit(url)
query = dict(urllib.parse.parse_qsl(parts.query))
with open(os.path.join(os.path.dirname(sys.argv[0]), "visited"), "w") as f:
    f.write(url)
page = http.client.HTTPConnection(parts.hostname, parts.port)
page.request("GET", parts.path + "?" + parts.query)
assert b"<form" in page.getresponse().read()
form = urllib.parse.urlencode({"redirect_uri": query["redirect_uri"], "user": "ann",
                               "password": "secret", "action": "login"})
post = http.client.HTTPConnection(parts.hostname, parts.port)
post.request("POST", parts.path, form, {"Content-Type": "application/x-www-form-urlencoded"})
location = post.getresponse().getheader("Location")
subprocess.run([program, location], check=True)
)";

struct Loaded : UserInfoLoadDelegate {
    int loaded = 0, failed = 0;
    void userInfoDidLoad() override { ++loaded; }
    void userInfoFailToLoad() override { ++failed; }
};

class SignInEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "fb-e2e-XXXXXX").string();
        dir = mkdtemp(pattern.data());
        fs::create_directory(dir / "runtime");
        fs::permissions(dir / "runtime", fs::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", (dir / "runtime").c_str(), 1);
        setenv("QUORBIT_FB_APP_ID", "123", 1);  // for the `quorbit URL` the browser runs
        std::ofstream(dir / "browser.py") << kBrowser;
        std::ofstream(dir / "no-handler") << "#!/bin/sh\nexit 0\n";
        fs::permissions(dir / "no-handler", fs::perms::owner_all);
        saved = platform::UrlOpener::shared().commands();
        platform::UrlOpener::Commands commands;
        commands.open = {"python3", (dir / "browser.py").string(), QUORBIT_BINARY};
        commands.handlerQuery = {(dir / "no-handler").string()};
        platform::UrlOpener::shared().setCommands(commands);
    }
    void TearDown() override {
        platform::UrlOpener::shared().setCommands(saved);
        unsetenv("QUORBIT_FB_APP_ID");
        unsetenv("XDG_RUNTIME_DIR");
        fs::remove_all(dir);
    }

    MockFacebookService service;
    fs::path dir;
    platform::UrlOpener::Commands saved;
};

TEST_F(SignInEndToEndTest, SignInThroughTheBrowserThenMeThenAPhoto) {
    auto facebook = Facebook::create("123", service.configuration("123"));
    // This process is the running instance: incoming URLs go to the client.
    auto incoming = app::IncomingUrl::listen("fb123");
    ASSERT_TRUE(incoming) << incoming.error().localizedDescription();
    incoming.value()->start(
        [&facebook](const std::string& url) { return facebook->handleOpenURL(url); });

    bool signedIn = false;
    auto session = std::make_shared<FBSessionDelegate>();
    session->fbDidLogin = [&signedIn] { signedIn = true; };
    facebook->authorize({"publish_stream", "offline_access"}, session);
    ASSERT_TRUE(platform::RunLoop::main().runUntil([&] { return signedIn; }, 20s))
        << "the browser visited: " << platform::readFile(dir / "visited").value_or("nothing");
    EXPECT_EQ(facebook->accessToken(), MockFacebookService::kToken);
    EXPECT_TRUE(facebook->isSessionValid());

    // Who signed in, then the session kept for the next start.
    auto loaded = std::make_shared<Loaded>();
    UserInfo info(facebook, loaded);
    info.requestAllInfo();
    ASSERT_TRUE(platform::RunLoop::main().runUntil(
        [&] { return loaded->loaded + loaded->failed > 0; }, 5s));
    EXPECT_EQ(loaded->loaded, 1);
    EXPECT_EQ(info.name(), "Ann");
    platform::UserDefaults store(dir / "defaults.json");
    Session saving(store, service.configuration("123"));
    saving.setSessionWithFacebook(facebook, info.uid());
    saving.save();
    Session restoring(store, service.configuration("123"));
    auto restored = restoring.restore();
    ASSERT_TRUE(restored);
    EXPECT_TRUE(restored->isSessionValid());

    // A photo, with the restored client.
    auto photo = std::make_shared<platform::Image>(320, 427);
    for (int y = 0; y < 427; ++y)
        for (int x = 0; x < 320; ++x) {
            std::uint8_t* p = photo->pixel(x, y);
            p[0] = std::uint8_t(x), p[1] = std::uint8_t(y), p[2] = 128, p[3] = 255;
        }
    auto params = std::make_shared<FBParams>(FBParams{{"message", "Photo taken with Flurio"}});
    params->set("picture", std::shared_ptr<const platform::Image>(photo));
    RequestRecorder upload;
    restored->requestWithGraphPath("me/photos", params, "POST", upload.delegate);
    ASSERT_TRUE(upload.wait());
    ASSERT_TRUE(upload.result && upload.result->isJson()) << upload.raw;
    EXPECT_EQ((*upload.result->value)["id"], json::Value("1001"));
    ASSERT_EQ(service.uploads().size(), 1u);
    EXPECT_EQ(service.uploads()[0].message, "Photo taken with Flurio");
    auto received = platform::ImageCodec::decodePng(service.uploads()[0].png);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->pixels(), photo->pixels());
}

}  // namespace
}  // namespace quorbit::facebook
