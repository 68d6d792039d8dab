#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "support/MockFacebookService.h"
#include "support/QuorbitProcess.h"
#include "platform/gfx/ImageCodec.h"

namespace quorbit::facebook {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace testing;
using testing::MockFacebookService;

// Plays the browser for the application: turns down the Facebook application's scheme,
// otherwise returns at once and in the background signs in on the page it was given as
// the mock service's user, then hands the URL it is sent back to over to `quorbit URL`.
constexpr const char* kBrowser = R"(import http.client, os, subprocess, sys, urllib.parse
program, url = sys.argv[1], sys.argv[2]
if url.startswith("fbauth:"):
    sys.exit(1)
if os.fork() != 0:
    sys.exit(0)
parts = urllib.parse.urlsplit(url)
query = dict(urllib.parse.parse_qsl(parts.query))
form = urllib.parse.urlencode({"redirect_uri": query["redirect_uri"], "user": "ann",
                               "password": "secret", "action": "login"})
post = http.client.HTTPConnection(parts.hostname, parts.port)
post.request("POST", parts.path, form, {"Content-Type": "application/x-www-form-urlencoded"})
location = post.getresponse().getheader("Location")
with open(os.path.join(os.path.dirname(sys.argv[0]), "returned"), "w") as f:
    f.write(location)
subprocess.run([program, location], check=True)
)";

// A photo, the share screen, the Facebook row while signed out, the sign-in in the browser,
// and the photo at the service once the sign-in has come back.
constexpr const char* kScript = R"(wait-frames 10
tap-control shutter
wait 800
tap-control last-photo
expect-control share-photo
tap-row 0
wait 6000
quit
)";

TEST(SharingEndToEnd, APhotoPostedAfterSigningInFromTheShareScreen) {
    MockFacebookService service;
    std::string pattern = (fs::temp_directory_path() / "sharing-e2e-XXXXXX").string();
    fs::path dir = mkdtemp(pattern.data());
    fs::create_directory(dir / "runtime");
    fs::permissions(dir / "runtime", fs::perms::owner_all);
    std::ofstream(dir / "browser.py") << kBrowser;
    std::ofstream(dir / "share.script") << kScript;
    // A filter kept from an earlier run, so that the picker of a first use stays closed.
    fs::create_directory(dir / "config");
    std::ofstream(dir / "config" / "defaults.json") << R"({"LastFilterUsed": 3})";
    auto config = service.configuration("123");

    RunOptions options;
    options.limit = 90s;
    options.env = {
        {"XDG_RUNTIME_DIR", (dir / "runtime").string()},
        {"QUORBIT_CONFIG_DIR", (dir / "config").string()},
        {"QUORBIT_PICTURES_DIR", (dir / "pictures").string()},
        {"QUORBIT_CAMERA", "synthetic"},
        {"QUORBIT_FB_APP_ID", "123"},
        {"QUORBIT_FB_GRAPH_URL", config.graphURL},
        {"QUORBIT_FB_REST_URL", config.restURL},
        {"QUORBIT_FB_DIALOG_URL", config.dialogURL},
        {"QUORBIT_FB_LOGIN_URL", config.loginURL},
        {"QUORBIT_URL_OPENER",
         "python3 " + (dir / "browser.py").string() + " " + quorbitPath().string()},
        {"QUORBIT_REACHABILITY", "reachable"},
        {"QUORBIT_PROBE_URL", service.url("/canned/probe")},
    };
    Outcome outcome =
        runQuorbit({"--headless", "--script", (dir / "share.script").string()}, dir, options);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(slurp(dir / "returned").find("fb123"), std::string::npos) << outcome.err;

    std::optional<MockFacebookService::Received> upload = service.last("/graph/me/photos");
    ASSERT_TRUE(upload) << outcome.err;
    EXPECT_EQ(upload->method, "POST");
    EXPECT_NE(upload->contentType.find("multipart/form-data"), std::string::npos);
    ASSERT_EQ(service.uploads().size(), 1u);
    EXPECT_EQ(service.uploads()[0].message, "Shot with Flurio for Linux");
    auto photo = platform::ImageCodec::decodePng(service.uploads()[0].png);
    ASSERT_TRUE(photo);
    EXPECT_GT(photo->width(), 100);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace quorbit::facebook
