#include <gtest/gtest.h>

#include <thread>

#include "platform/ui/Pasteboard.h"
#include "screens/camera/CameraScreenSupport.h"
#include "support/CodeImages.h"
#include "support/FBTestSupport.h"

// Codes in the live view, through the real camera screen: frames made of codes, a run-loop
// clock the tests move, the URL opener replaced by a recorder.
namespace quorbit::camera_screen {
namespace {

using namespace testing;
using quorbit::testing::CodeFrame;
using quorbit::testing::codeFrame;
using quorbit::testing::OpenerStandIn;
using quorbit::testing::sensorFrame;

// A 640 x 480 sensor frame of rotation holding a QR code of text, small in the picture.
CodeFrame qrFrame(const std::string& text, int rotation) {
    bool sideways = rotation == 90 || rotation == 270;
    CodeFrame upright = codeFrame(ZXing::BarcodeFormat::QRCode, text, sideways ? 480 : 640,
                                  sideways ? 640 : 480, 20, 30, 180, 180);
    return sensorFrame(upright, rotation);
}

struct CodeScreen : ScreenFixture {
    explicit CodeScreen(const std::string& name, bool front = false,
                        const std::function<void(platform::UserDefaults&)>& settings = {})
        : ScreenFixture(name, 1, true, std::nullopt, settings) {
        show();
        if ((camera->curCameraType() == capture::kCameraFront) != front) tap(controls::kSwapCamera);
    }
    // Hands the screen one frame once an attempt is due, and waits for its outcome.
    void read(CodeFrame& frame, int rotation) {
        clock.advance(codes::CodeScanner::kMinInterval);
        capture::PixelBuffer buffer(frame.bgra.data(), frame.width, frame.height, rotation);
        screen->processNewCameraFrame(buffer);
        auto* scanner = screen->codeScanner();
        for (int i = 0; scanner && scanner->busy() && i < 1000; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            platform::RunLoop::main().runOnce(platform::RunLoop::Duration::zero());
        }
    }
    CodeBanner& banner() { return *screen->codeBanner(); }
    bool bannerShown() { return !banner().isHidden(); }
    ManualClock clock;
};

TEST(CodeBanner, ShowsALinkUprightOrMirroredAndOpensItOnATap) {
    for (auto [front, rotation] : {std::pair{false, 90}, {true, 270}, {false, 0}}) {
        SCOPED_TRACE(std::to_string(rotation) + (front ? " front" : " back"));
        CodeScreen f("code-link", front);
        OpenerStandIn opener(0);
        CodeFrame frame = qrFrame("https://example.com/menu?table=4", rotation);
        f.read(frame, rotation);
        ASSERT_TRUE(f.bannerShown());
        EXPECT_EQ(f.control(controls::kCodeBanner), f.screen->codeBanner().get());
        EXPECT_EQ(f.banner().titleLabel()->text(), "example.com");
        EXPECT_TRUE(f.banner().titleLabel()->font().bold);
        EXPECT_EQ(f.banner().detailLabel()->text(), "https://example.com/menu?table=4");
        EXPECT_TRUE(opener.opened().empty());  // nothing opens without a tap
        f.tap(controls::kCodeBanner);
        EXPECT_EQ(opener.opened(), std::vector<std::string>{"https://example.com/menu?table=4"});
    }
}

TEST(CodeBanner, CopiesWhatItDoesNotOpen) {
    struct Case {
        std::string code, title, action, copied;
    };
    // clang-format off
    const Case cases[] = {
        {"WIFI:S:Cafe Blue;T:WPA;P:hunter2;;",   "Cafe Blue",                   "Copy password", "hunter2"},
        {"javascript:alert(document.cookie)",    "javascript:alert(document.cookie)", "Tap to copy", "javascript:alert(document.cookie)"},
        {"caf\xc3\xa9\x1b[2J\xff",               "caf\xc3\xa9\\u{001B}[2J\\xFF", "Tap to copy",  "caf\xc3\xa9\\u{001B}[2J\\xFF"},
    };
    // clang-format on
    CodeScreen f("code-copy");
    OpenerStandIn opener(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        CodeFrame frame = qrFrame(c.code, 90);
        f.read(frame, 90);
        ASSERT_TRUE(f.bannerShown());
        EXPECT_EQ(f.banner().titleLabel()->text(), c.title);
        EXPECT_EQ(f.banner().actionLabel()->text(), c.action);
        f.tap(controls::kCodeBanner);
        EXPECT_EQ(platform::Pasteboard::string(), c.copied);
        EXPECT_NE(f.banner().actionLabel()->text(), c.action);  // the confirmation
    }
    EXPECT_TRUE(opener.opened().empty());
}

TEST(CodeBanner, GoesAfterTheCodeLeavesAndDoesNotAnnounceItTwice) {
    CodeScreen f("code-linger");
    CodeFrame code = qrFrame("hello", 90);
    CodeFrame empty{640, 480, std::vector<std::uint8_t>(640 * 480 * 4, 255)};
    f.read(code, 90);
    ASSERT_TRUE(f.bannerShown());
    // In the picture for longer than the banner lingers: it stays.
    for (int i = 0; i < 20; ++i)
        f.read(code, 90);
    EXPECT_TRUE(f.bannerShown());
    f.read(empty, 90);
    f.clock.advance(quorbitViewController::kCodeBannerLinger - std::chrono::milliseconds(500));
    EXPECT_TRUE(f.bannerShown());
    f.clock.advance(std::chrono::milliseconds(500));
    EXPECT_FALSE(f.bannerShown());
    // The same code again is not announced; another one is, and then the first again.
    f.read(code, 90);
    EXPECT_FALSE(f.bannerShown());
    CodeFrame other = qrFrame("other", 90);
    f.read(other, 90);
    ASSERT_TRUE(f.bannerShown());
    EXPECT_EQ(f.banner().titleLabel()->text(), "other");
    f.read(code, 90);
    EXPECT_EQ(f.banner().titleLabel()->text(), "hello");
}

TEST(CodeBanner, TheSettingSwitchesReadingOff) {
    // On by default; the settings row turns it off when the settings screen closes.
    CodeScreen on("code-on");
    CodeFrame code = qrFrame("hello", 90);
    on.read(code, 90);
    ASSERT_TRUE(on.bannerShown());
    on.screen->settingsView()->didSelectRow(platform::IndexPath::forRow(
        share::SettingsView::kDetectCodesIndex, share::SettingsView::kCameraSection));
    EXPECT_FALSE(on.defaults->boolForKey(share::SettingsView::kDetectCodesKey));
    on.screen->restart();
    EXPECT_FALSE(on.bannerShown());
    CodeFrame other = qrFrame("other", 90);
    on.read(other, 90);
    EXPECT_FALSE(on.bannerShown());
}

}  // namespace
}  // namespace quorbit::camera_screen
