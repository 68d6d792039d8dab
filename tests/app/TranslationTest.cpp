#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/gfx/ImageCodec.h"
#include "support/HostileFiles.h"
#include "support/QuorbitProcess.h"

namespace quorbit::app {
namespace {

class Translation : public testing::ScratchFolderTest {
  protected:
    Translation() : ScratchFolderTest("quorbit-tr-") {}
    // Runs the program, with LC_ALL and LANG unset unless env sets them, to the end of its
    // script (or command): status 0.
    void succeeds(const std::vector<std::string>& args, testing::ScopedEnv::Values env) {
        env.insert(env.begin(), {{"LC_ALL", std::nullopt}, {"LANG", std::nullopt}});
        testing::Outcome app = testing::runQuorbit(args, dir, {.env = env});
        EXPECT_EQ(app.status, 0) << app.err;
    }
};

// The program run from the build tree finds the build's catalogues: in the language LANGUAGE
// names, the camera screen's note, a button and an alert read in that language; in a language
// with no catalogue they stay English. The camera cannot be used: the live view shows its note,
// takes a tap and a screenshot, and the program keeps working.
TEST_F(Translation, ScreensAndAlertsFollowLanguageWithNoCameraToShow) {
    // The language, the picker's close button, the live view's note, the settings' alert.
    const std::array<std::string, 4> cases[] = {
        {"de", "Schließen", "Kamera nicht verfügbar", "Facebook nicht nutzbar"},
        {"pl", "Zamknij", "Kamera niedostępna", "Nie można użyć Facebooka"},
        {"xx", "Close", "Camera not available", "Cannot use Facebook"},
    };
    // No picture to show: the live view says so. No network: the settings row says so.
    std::string corrupt = file("corrupt.png", "\x89PNG\r\n\x1a\nnot really");
    for (const auto& [language, close, note, alert] : cases) {
        SCOPED_TRACE(language);
        std::string script = "expect-text picker-close " + close + "\ntap-control picker-close\n";
        script += "expect-text camera-unavailable " + note + "\ntap 160 200\nwait 100\n";
        script += "screenshot " + (dir / language).string() + ".png\ntap-control settings\n";
        script += "wait 300\ntap-row 4\nexpect-alert " + alert + "\nquit\n";
        succeeds({"--headless", "--camera", "image:" + corrupt, "--script", file("s", script)},
                 {{"LANGUAGE", language}, {"QUORBIT_REACHABILITY", "offline"}});
        EXPECT_TRUE(platform::ImageCodec::readFile(dir / (language + ".png")));
    }
}

// A pseudo-language whose every text is in brackets and 40 % longer: on the filter picker,
// the camera screen, the share screen, the settings and an alert, in a phone's window and a
// desktop's, every text shows whole within its control, and every text was marked.
TEST_F(Translation, LongerTextsFitEveryScreenAndNoTextIsLeftUnmarked) {
    std::string script =
        "expect-texts-fit [\ntap-control picker-close\nwait 300\nexpect-texts-fit [\n"
        "tap-control shutter\nwait 800\ntap-control last-photo\nexpect-control share-photo\n"
        "expect-texts-fit [\ntap-control share-back\nwait 300\ntap-control settings\nwait 300\n"
        "expect-texts-fit [\ntap-row 4\nwait 300\nexpect-texts-fit [\nquit\n";
    for (std::string size : {"320x480", "1280x800"}) {
        SCOPED_TRACE(size);
        succeeds({"--headless", "--size", size, "--camera", "synthetic", "--script",
                  file("pseudo.script", script)},
                 {{"LANGUAGE", "qps"},
                  {"QUORBIT_REACHABILITY", "offline"},
                  {"QUORBIT_CONFIG_DIR", (dir / "config" / size).string()},
                  {"QUORBIT_PICTURES_DIR", (dir / "album").string()}});
    }
}

// A language whose numbers take a decimal comma leaves the numbers the program reads alone:
// "0.7,0.3" is still a centre.
TEST_F(Translation, NumbersKeepTheirPointInAGermanLocale) {
    auto make = "localedef -i de_DE -f UTF-8 >/dev/null 2>&1 " + (dir / "de_DE.UTF-8").string();
    if (std::system(make.c_str()) != 0) GTEST_SKIP() << "no German locale can be made here";
    std::string input =
        file("in.png", platform::ImageCodec::encodePng(testing::quadrantPicture(8, 8)).value());
    succeeds({"render", "--filter", "Bulge", "--input", input, "--output",
              (dir / "out.png").string(), "--center", "0.7,0.3"},
             {{"LOCPATH", dir.string()}, {"LANG", "de_DE.UTF-8"}});
}

}  // namespace
}  // namespace quorbit::app
