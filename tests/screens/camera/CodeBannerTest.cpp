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
using quorbit::testing::OpenerStandIn;

// A 640 x 480 sensor frame of rotation holding a QR code of text, small in the picture.
CodeFrame qrFrame(const std::string& text, int rotation = 90) {
    bool sideways = rotation == 90 || rotation == 270;
    return quorbit::testing::sensorFrame(
        quorbit::testing::codeFrame(ZXing::BarcodeFormat::QRCode, text, sideways ? 480 : 640,
                                    sideways ? 640 : 480, 20, 30, 180, 180),
        rotation);
}

struct CodeScreen : ScreenFixture {
    explicit CodeScreen(const std::string& name, bool front = false)
        : ScreenFixture(name, 1, true) {
        show();
        if ((camera->curCameraType() == capture::kCameraFront) != front) tap(controls::kSwapCamera);
    }
    // Hands the screen one frame once an attempt is due, and waits for its outcome.
    void read(CodeFrame frame, int rotation = 90) {
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

// A link opens on a tap, read from either camera at any rotation; what is not a link is
// copied instead.
TEST(CodeBanner, OpensALinkOnATapAtEveryRotationAndCopiesWhatItDoesNotOpen) {
    // clang-format off
    const struct { std::string code, title, action, copied; } cases[] = {
        {"WIFI:S:Cafe Blue;T:WPA;P:hunter2;;",   "Cafe Blue",                   "Copy password", "hunter2"},
        {"javascript:alert(document.cookie)",    "javascript:alert(document.cookie)", "Tap to copy", "javascript:alert(document.cookie)"},
        {"caf\xc3\xa9\x1b[2J\xff",               "caf\xc3\xa9\\u{001B}[2J\\xFF", "Tap to copy",  "caf\xc3\xa9\\u{001B}[2J\\xFF"},
    };
    // clang-format on
    const std::vector<std::string> link{"https://example.com/menu?table=4"};
    for (auto [front, rotation] : {std::pair{true, 270}, {false, 0}, {false, 90}}) {
        SCOPED_TRACE(std::to_string(rotation) + (front ? " front" : " back"));
        CodeScreen f("code-link", front);
        OpenerStandIn opener(0);
        f.read(qrFrame(link[0], rotation), rotation);
        ASSERT_TRUE(f.bannerShown());
        EXPECT_EQ(f.control(controls::kCodeBanner), f.screen->codeBanner().get());
        EXPECT_EQ(f.banner().titleLabel()->text(), "example.com");
        EXPECT_TRUE(f.banner().titleLabel()->font().bold);
        EXPECT_EQ(f.banner().detailLabel()->text(), link[0]);
        EXPECT_TRUE(opener.opened().empty());  // nothing opens without a tap
        f.tap(controls::kCodeBanner);
        EXPECT_EQ(opener.opened(), link);
        if (rotation != 90) continue;
        for (const auto& c : cases) {
            SCOPED_TRACE(c.title);
            f.read(qrFrame(c.code));
            ASSERT_TRUE(f.bannerShown());
            EXPECT_EQ(f.banner().titleLabel()->text(), c.title);
            EXPECT_EQ(f.banner().actionLabel()->text(), c.action);
            f.tap(controls::kCodeBanner);
            EXPECT_EQ(platform::Pasteboard::string(), c.copied);
            EXPECT_NE(f.banner().actionLabel()->text(), c.action);  // the confirmation
        }
        EXPECT_EQ(opener.opened(), link);
    }
}

TEST(CodeBanner, GoesAfterTheCodeLeavesIsNotAnnouncedTwiceAndTheSettingSwitchesReadingOff) {
    CodeScreen f("code-linger");
    const CodeFrame code = qrFrame("hello"), other = qrFrame("other");
    f.read(code);
    ASSERT_TRUE(f.bannerShown());
    // In the picture for longer than the banner lingers: it stays.
    for (int i = 0; i < 20; ++i)
        f.read(code);
    EXPECT_TRUE(f.bannerShown());
    f.read(CodeFrame{640, 480, std::vector<std::uint8_t>(640 * 480 * 4, 255)});
    f.clock.advance(quorbitViewController::kCodeBannerLinger - 500ms);
    EXPECT_TRUE(f.bannerShown());
    f.clock.advance(500ms);
    EXPECT_FALSE(f.bannerShown());
    // The same code again is not announced; another one is, and then the first again.
    f.read(code);
    EXPECT_FALSE(f.bannerShown());
    f.read(other);
    ASSERT_TRUE(f.bannerShown());
    EXPECT_EQ(f.banner().titleLabel()->text(), "other");
    f.read(code);
    EXPECT_EQ(f.banner().titleLabel()->text(), "hello");
    // On by default; the settings row turns it off when the settings screen closes.
    f.screen->settingsView()->didSelectRow(platform::IndexPath::forRow(
        share::SettingsView::kDetectCodesIndex, share::SettingsView::kCameraSection));
    EXPECT_FALSE(f.defaults->boolForKey(share::SettingsView::kDetectCodesKey));
    f.screen->restart();
    EXPECT_FALSE(f.bannerShown());
    f.read(other);
    EXPECT_FALSE(f.bannerShown());
}

}  // namespace
}  // namespace quorbit::camera_screen
