#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "codes/CodeContent.h"
#include "codes/CodeReader.h"
#include "codes/CodeScanner.h"
#include "platform/gfx/ImageCodec.h"
#include "support/CodeImages.h"
#include "support/QuorbitProcess.h"
#include "support/Scratch.h"

namespace quorbit::codes {
namespace {

using quorbit::testing::CodeFrame, quorbit::testing::codeFrame, quorbit::testing::sensorFrame;
using ZXing::BarcodeFormat;
using namespace std::chrono_literals;

std::optional<FoundCode> read(const CodeFrame& frame, int rotation) {
    return readCode(greyUpright(frame.bgra.data(), frame.width, frame.height, rotation));
}

// Every format, turned upright, small and large, binary and long content byte for byte.
TEST(CodeReader, FindsEachFormatTurnedUprightSmallAndLargeAndKeepsEveryByte) {
    std::string binary, longText(2900, 'a');
    for (int i = 0; i < 256; ++i)
        binary += char(i);
    for (std::size_t i = 0; i < longText.size(); i += 7)
        longText[i] = char('a' + i % 26);
    // clang-format off
    struct Case { BarcodeFormat format; std::string text; int frameWidth, frameHeight, x, y, codeWidth, codeHeight, rotation; };
    const Case cases[] = {
        {BarcodeFormat::QRCode,     "https://example.com/", 640,  480,  200, 120, 240, 240, 0},
        {BarcodeFormat::QRCode,     "https://example.com/", 640,  480,  30,  40,  240, 240, 90},
        {BarcodeFormat::QRCode,     "small",                1920, 1080, 1700, 900, 120, 120, 270},
        {BarcodeFormat::DataMatrix, "matrix",               640,  480,  300, 200, 160, 160, 90},
        {BarcodeFormat::Aztec,      "aztec",                640,  480,  300, 200, 160, 160, 0},
        {BarcodeFormat::EAN13,      "4006381333931",        640,  480,  100, 150, 400, 160, 0},
        {BarcodeFormat::EAN8,       "96385074",             640,  480,  100, 150, 300, 160, 90},
        {BarcodeFormat::UPCA,       "036000291452",         640,  480,  100, 150, 400, 160, 0},
        {BarcodeFormat::UPCE,       "01234565",             640,  480,  100, 150, 300, 160, 0},
        {BarcodeFormat::Code128,    "Code 128",             640,  480,  60,  150, 500, 160, 90},
        {BarcodeFormat::Code39,     "CODE39",               640,  480,  60,  150, 500, 160, 0},
        {BarcodeFormat::QRCode,     binary,                 640,  480,  100, 20,  440, 440, 0},
        {BarcodeFormat::QRCode,     longText,               1280, 960,  50,  10,  940, 940, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(ZXing::ToString(c.format)) + " at " + std::to_string(c.rotation) +
                     ", " + std::to_string(c.text.size()) + " bytes");
        CodeFrame upright = codeFrame(c.format, c.text, c.frameWidth, c.frameHeight, c.x, c.y,
                                      c.codeWidth, c.codeHeight);
        auto found = read(sensorFrame(upright, c.rotation), c.rotation);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->bytes, c.text);
    }
    EXPECT_EQ(classify(longText).title, longText.substr(0, kTextLimit) + "…");
    EXPECT_FALSE(read(CodeFrame{640, 480, std::vector<std::uint8_t>(640 * 480 * 4, 255)}, 0));
    // The frame is turned and scaled to at most 1280: a sensor frame whose top left pixels are
    // dark, turned clockwise, has them at the top right.
    CodeFrame frame{1920, 1080, std::vector<std::uint8_t>(1920 * 1080 * 4, 255)};
    std::fill_n(frame.bgra.begin(), 4 * 4, 0);
    GreyImage upright = greyUpright(frame.bgra.data(), 1920, 1080, 90);
    EXPECT_EQ(std::pair(upright.width, upright.height), std::pair(720, 1280));
    EXPECT_EQ(upright.pixels[719], 0);
    EXPECT_EQ(upright.pixels[0], 255);
}

// Micro QR, which the library's own writer cannot make: made by the qrencode program, and
// read upright and from a sideways sensor.
TEST(CodeReader, FindsAMicroQrCodeMadeByQrencode) {
    quorbit::testing::ScratchDir dir("quorbit-micro-qr");
    std::string png = (dir.path() / "micro.png").string();
    std::string command = "qrencode -M -v 3 -s 8 -m 2 -o '" + png + "' 'MICRO 42'";
    ASSERT_EQ(std::system(command.c_str()), 0) << "qrencode comes with scripts/install-deps";
    auto picture = platform::ImageCodec::readFile(png);
    ASSERT_TRUE(picture);
    CodeFrame upright{640, 480, std::vector<std::uint8_t>(640 * 480 * 4, 255)};
    for (int y = 0; y < picture->height(); ++y)  // black and white: RGBA is BGRA
        std::copy_n(picture->pixel(0, y), picture->width() * 4,
                    &upright.bgra[(std::size_t(y + 100) * 640 + 200) * 4]);
    for (int rotation : {0, 90}) {
        auto found = read(sensorFrame(upright, rotation), rotation);
        ASSERT_TRUE(found) << rotation;
        EXPECT_EQ(found->bytes, "MICRO 42");
        EXPECT_EQ(found->format, "MicroQRCode");
    }
}

TEST(CodeContent, ClassifiesOpensOnlySafeAddressesAndEscapesWhatCannotBeShown) {
    using K = ContentKind;
    // clang-format off
    struct Case { std::string raw; ContentKind kind; std::string title, openUrl, copyText; };
    const Case cases[] = {
        {"https://example.com/a?b=1",            K::Link,  "example.com", "https://example.com/a?b=1", ""},
        {"HTTP://Example.com:8080/x",            K::Link,  "Example.com", "HTTP://Example.com:8080/x", ""},
        {"https://bank.example@evil.test/login", K::Link,  "evil.test",   "https://bank.example@evil.test/login", ""},
        {"mailto:ann@example.com?subject=hi",    K::Email, "ann@example.com", "mailto:ann@example.com?subject=hi", ""},
        {"ann@example.com",                      K::Email, "ann@example.com", "mailto:ann@example.com", ""},
        {"tel:+4930123456",                      K::Phone, "+4930123456", "tel:+4930123456", ""},
        {"geo:52.52,13.40",                      K::Geo,   "52.52,13.40", "geo:52.52,13.40", ""},
        {"WIFI:S:Cafe\\;Net;T:WPA;P:pa\\;ss;;",  K::Wifi,  "Cafe;Net",    "", "pa;ss"},
        {"wifi:T:WPA;P:secret;S:Home;;",         K::Wifi,  "Home",        "", "secret"},
        {"file:///etc/passwd",                   K::Text,  "file:///etc/passwd", "", "file:///etc/passwd"},
        {"javascript:alert(1)",                  K::Text,  "javascript:alert(1)", "", "javascript:alert(1)"},
        {"fb123456://authorize#access_token=x",  K::Text,  "fb123456://authorize#access_token=x", "", "fb123456://authorize#access_token=x"},
        {"myapp://do",                           K::Text,  "myapp://do",  "", "myapp://do"},
        {"https://",                             K::Text,  "https://",    "", "https://"},
        {"https://exa mple.com",                 K::Text,  "https://exa mple.com", "", "https://exa mple.com"},
        {"https://example.com/\x1b[2J",          K::Text,  "https://example.com/\\u{001B}[2J", "", "https://example.com/\\u{001B}[2J"},
        {"tel:+49\n30",                          K::Text,  "tel:+49\\n30", "", "tel:+49\n30"},
        {"4006381333931",                        K::Text,  "4006381333931", "", "4006381333931"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw);
        CodeContent got = classify(c.raw);
        EXPECT_EQ(std::tie(got.kind, got.title, got.openUrl, got.copyText),
                  std::tie(c.kind, c.title, c.openUrl, c.copyText));
    }
    EXPECT_EQ(classify("https://example.com/a?b=1").detail, "https://example.com/a?b=1");
    // What cannot be shown is escaped.
    // clang-format off
    const std::pair<std::string, std::string> escapes[] = {
        {"caf\xc3\xa9 \xe2\x82\xac",      "caf\xc3\xa9 \xe2\x82\xac"},
        {"a\nb\tc\rd\\",                  "a\\nb\\tc\\rd\\\\"},
        {"\x1b[31m\x7f",                  "\\u{001B}[31m\\u{007F}"},
        {"\xc2\x85 \xe2\x80\xae \xe2\x81\xa6", "\\u{0085} \\u{202E} \\u{2066}"},
        {"\xff\xfe",                      "\\xFF\\xFE"},
        {"\xc0\xaf \xed\xa0\x80",         "\\xC0\\xAF \\xED\\xA0\\x80"},
        {"\xe2\x82",                      "\\xE2\\x82"},
        {std::string("a\0b", 3),          "a\\u{0000}b"},
    };
    // clang-format on
    for (const auto& [raw, shown] : escapes)
        EXPECT_EQ(escapeForDisplay(raw), shown) << shown;
    EXPECT_EQ(escapeForDisplay("\x01\x02\x03", 2), "\\u{0001}\\u{0002}…");
    EXPECT_EQ(classify("\xff\x01").copyText, "\\xFF\\u{0001}");
}

TEST(CodeScanner, SkipsFramesWhileReadingAndKeepsToFiveASecond) {
    // Outcomes come through the main loop once the worker has posted them.
    auto runUntil = [](auto done) { platform::RunLoop::main().runUntil(done, 5s); };
    auto now = std::chrono::steady_clock::now();
    std::vector<std::optional<FoundCode>> outcomes;
    CodeScanner scanner(
        platform::RunLoop::main(), [&](const auto& found) { outcomes.push_back(found); },
        [&] { return now; });
    CodeFrame code = codeFrame(BarcodeFormat::QRCode, "hello", 640, 480, 200, 120, 240, 240);
    capture::PixelBuffer frame(code.bgra.data(), 640, 480);
    frame.lockBaseAddress();
    ASSERT_TRUE(scanner.offer(frame));
    now += 1s;
    EXPECT_FALSE(scanner.offer(frame));  // the first attempt is still running
    runUntil([&] { return !outcomes.empty(); });
    ASSERT_EQ(outcomes.size(), 1u);
    ASSERT_TRUE(outcomes[0]);
    EXPECT_EQ(outcomes[0]->bytes, "hello");
    EXPECT_FALSE(scanner.busy());
    ASSERT_TRUE(scanner.offer(frame));
    runUntil([&] { return outcomes.size() == 2; });
    now += 199ms;
    EXPECT_FALSE(scanner.offer(frame));  // too soon after the last attempt began
    now += 1ms;
    EXPECT_TRUE(scanner.offer(frame));
    EXPECT_EQ(scanner.attempts(), 3u);
    runUntil([&] { return outcomes.size() == 3; });
    // A bar code standing on its end is read on one of two attempts in a row.
    CodeFrame bars = sensorFrame(
        codeFrame(BarcodeFormat::Code128, "on its end", 640, 480, 120, 200, 400, 80), 90);
    capture::PixelBuffer standing(bars.bgra.data(), bars.width, bars.height);
    standing.lockBaseAddress();
    for (std::size_t seen : {4u, 5u}) {
        now += 1s;
        ASSERT_TRUE(scanner.offer(standing));
        runUntil([&] { return outcomes.size() == seen; });
    }
    ASSERT_EQ(outcomes.size(), 5u);
    EXPECT_NE(bool(outcomes[3]), bool(outcomes[4]));
    EXPECT_EQ((outcomes[3] ? outcomes[3] : outcomes[4]).value_or(FoundCode{}).bytes, "on its end");
}

// The application itself: a code in front of the camera brings the banner up over the live
// view, whatever filter is on, and only a tap hands its link to the desktop.
TEST(CodesInTheApplication, ACodeInFrontOfTheCameraIsOpenedOnATap) {
    quorbit::testing::ScratchDir dir("quorbit-codes");
    CodeFrame code = codeFrame(BarcodeFormat::QRCode, "https://example.org/poster", 640, 480, 200,
                               120, 240, 240);
    platform::Image picture(code.width, code.height, code.bgra);  // grey: the order is moot
    std::filesystem::path png = dir.path() / "code.png", opened = dir.path() / "opened";
    ASSERT_TRUE(platform::ImageCodec::writePng(picture, png));
    std::ofstream(dir.path() / "run.script")
        << "tap-control preview-3\nexpect-control code-banner\nwait 500\n"
        << "tap-control code-banner\nwait 500\nquit\n";
    quorbit::testing::RunOptions options;
    // Fresh settings: the picker comes first.
    options.env = {{"QUORBIT_URL_OPENER", "printf '%s\\n' >> " + opened.string()},
                   {"QUORBIT_CONFIG_DIR", (dir.path() / "config").string()}};
    auto run = quorbit::testing::runQuorbit({"--headless", "--camera", "image:" + png.string(),
                                             "--script", (dir.path() / "run.script").string()},
                                            dir, options);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(dir.read("opened"), "https://example.org/poster\n") << "opened once";
}

}  // namespace
}  // namespace quorbit::codes
