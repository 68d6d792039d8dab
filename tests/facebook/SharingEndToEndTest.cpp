#include <gtest/gtest.h>

#include "platform/gfx/ImageCodec.h"
#include "support/FBTestSupport.h"
#include "support/MockFacebookService.h"
#include "support/QuorbitProcess.h"

namespace quorbit::facebook {
namespace {

using namespace testing;

// A photo, the share screen, the Facebook row while signed out, the sign-in in the browser
// (which hands the URL it comes back with to the running application through a second
// `quorbit URL` process), and the photo at the service once the sign-in has come back.
constexpr const char* kScript = R"(wait-frames 10
tap-control shutter
wait 800
tap-control last-photo
expect-control share-photo
tap-row 0
wait 6000
quit
)";

class SharingEndToEnd : public ScratchFolderTest {
  protected:
    SharingEndToEnd() : ScratchFolderTest("sharing-e2e") {}
};

TEST_F(SharingEndToEnd, APhotoPostedAfterSigningInFromTheShareScreen) {
    MockFacebookService service;
    fs::create_directory(dir / "runtime");
    fs::permissions(dir / "runtime", fs::perms::owner_all);
    std::string browser = file("browser.py", kBrowserStandIn);
    std::string script = file("share.script", kScript);
    // A filter kept from an earlier run, so that the picker of a first use stays closed.
    file("config/defaults.json", R"({"LastFilterUsed": 3})");
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
        {"QUORBIT_URL_OPENER", "python3 " + browser + " " + quorbitPath().string()},
        {"QUORBIT_REACHABILITY", "reachable"},
        {"QUORBIT_PROBE_URL", service.url("/canned/probe")},
        {"QUORBIT_LOG", "info"},
    };
    Outcome outcome = runQuorbit({"--headless", "--script", script}, dir, options);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(outcome.err.find("handed an incoming fb123: URL to the application"),
              std::string::npos)
        << outcome.err;
    // Neither process writes the token to the log, escaped or not.
    for (const char* token : {MockFacebookService::kToken, "mock%20token"})
        EXPECT_EQ(outcome.err.find(token), std::string::npos) << outcome.err;

    // The photo the camera took (the upload's form is the request's own test).
    ASSERT_EQ(service.uploads().size(), 1u) << outcome.err;
    auto photo = platform::ImageCodec::decodePng(service.uploads()[0].png);
    ASSERT_TRUE(photo);
    EXPECT_GT(photo->width(), 100);
}

}  // namespace
}  // namespace quorbit::facebook
