#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/gfx/ImageCodec.h"
#include "support/HostileFiles.h"
#include "support/QuorbitProcess.h"

namespace quorbit::app {
namespace {

using testing::Outcome;
using testing::RunOptions;

class Translation : public testing::ScratchFolderTest {
  protected:
    Translation() : ScratchFolderTest("quorbit-tr-") {}
};

// The program run from the build tree finds the build's catalogues: in the language LANGUAGE
// names, the camera screen's note, a button and an alert read in that language; in a language
// with no catalogue they stay English.
TEST_F(Translation, ScreensAndAlertsFollowLanguage) {
    struct Case {
        const char* language;
        const char* close;
        const char* note;
        const char* alert;
    };
    // clang-format off
    const Case cases[] = {
        {"de", "Schließen", "Kamera nicht verfügbar", "Facebook nicht nutzbar"},
        {"pl", "Zamknij", "Kamera niedostępna", "Nie można użyć Facebooka"},
        {"xx", "Close", "Camera not available", "Cannot use Facebook"},
    };
    // clang-format on
    // No picture to show: the live view says so. No network: the settings row says so.
    std::string corrupt = file("corrupt.png", "\x89PNG\r\n\x1a\nnot really");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        std::string script = file("tr.script", std::string("expect-text picker-close ") + c.close +
                                                   "\ntap-control picker-close\n"
                                                   "expect-text camera-unavailable " +
                                                   c.note +
                                                   "\ntap-control settings\nwait 300\ntap-row 4\n"
                                                   "expect-alert " +
                                                   c.alert + "\nquit\n");
        RunOptions options;
        options.env = {{"LANGUAGE", c.language},
                       {"LC_ALL", std::nullopt},
                       {"LANG", std::nullopt},
                       {"QUORBIT_REACHABILITY", "offline"}};
        Outcome app = testing::runQuorbit(
            {"--headless", "--camera", "image:" + corrupt, "--script", script}, dir, options);
        EXPECT_EQ(app.status, 0) << app.err;
    }
}

// A pseudo-language whose every text is in brackets and 40 % longer: on the filter picker,
// the camera screen, the share screen, the settings and an alert, in a phone's window and a
// desktop's, every text shows whole within its control, and every text was marked.
TEST_F(Translation, LongerTextsFitEveryScreenAndNoTextIsLeftUnmarked) {
    std::string script = file("pseudo.script",
                              "expect-texts-fit [\n"
                              "tap-control picker-close\nwait 300\nexpect-texts-fit [\n"
                              "tap-control shutter\nwait 800\ntap-control last-photo\n"
                              "expect-control share-photo\nexpect-texts-fit [\n"
                              "tap-control share-back\nwait 300\ntap-control settings\n"
                              "wait 300\nexpect-texts-fit [\n"
                              "tap-row 4\nwait 300\nexpect-texts-fit [\nquit\n");
    for (const char* size : {"320x480", "1280x800"}) {
        SCOPED_TRACE(size);
        RunOptions options;
        options.env = {{"LANGUAGE", "qps"},
                       {"LC_ALL", std::nullopt},
                       {"LANG", std::nullopt},
                       {"QUORBIT_REACHABILITY", "offline"},
                       {"QUORBIT_CONFIG_DIR", (dir / "config" / size).string()},
                       {"QUORBIT_PICTURES_DIR", (dir / "album").string()}};
        Outcome app = testing::runQuorbit(
            {"--headless", "--size", size, "--camera", "synthetic", "--script", script}, dir,
            options);
        EXPECT_EQ(app.status, 0) << app.err;
    }
}

// A language whose numbers take a decimal comma leaves the numbers the program reads alone:
// "0.7,0.3" is still a centre.
TEST_F(Translation, NumbersKeepTheirPointInAGermanLocale) {
    std::string locales = (dir / "locales").string();
    std::string make = "localedef -i de_DE -f UTF-8 " + locales + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (std::system(("mkdir -p " + locales + " && " + make).c_str()) != 0)
        GTEST_SKIP() << "no German locale can be made here";
    std::string input =
        file("in.png", platform::ImageCodec::encodePng(testing::quadrantPicture(8, 8)).value());
    RunOptions options;
    options.env = {{"LOCPATH", locales}, {"LANG", "de_DE.UTF-8"}, {"LC_ALL", std::nullopt}};
    Outcome app = testing::runQuorbit({"render", "--filter", "Bulge", "--input", input, "--output",
                                       (dir / "out.png").string(), "--center", "0.7,0.3"},
                                      dir, options);
    EXPECT_EQ(app.status, 0) << app.err;
}

}  // namespace
}  // namespace quorbit::app
