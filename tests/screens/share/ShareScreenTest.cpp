#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/core/RunLoop.h"
#include "platform/gfx/ImageCodec.h"
#include "platform/ui/AlertView.h"
#include "screens/share/PhotoViewController.h"
#include "support/Scratch.h"

namespace quorbit::share {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

// A local time, as the clock's time point (in the time zone set by the test).
Clock::time_point localTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
    t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second, t.tm_isdst = -1;
    return Clock::from_time_t(mktime(&t));
}

// A screen with its own store, so that the tests leave the application's alone.
struct Screens {
    testing::ScratchDir scratch{"share-screen"};
    fs::path dir = scratch.path();
    platform::UserDefaults store{dir / "defaults.json"};
    std::shared_ptr<PhotoViewController> share;
    Screens() {
        PhotoViewController::Services services;
        services.defaults = &store;
        services.configuration = facebook::FBConfiguration::builtIn();
        services.storeId = "io.example.Flurio";
        services.supportEmail = "help@example.org";
        share = std::make_shared<PhotoViewController>(services);
    }
};

TEST(ShareScreen, AttachmentNamesCountHoursOneToTwentyFour) {
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

TEST(ShareScreen, RowsAndAMessageWithTheStoreLinkOnceAndAJpeg) {
    Screens s;
    s.share->view();
    auto& table = *s.share->shareTable();
    table.layoutSubviews();
    const char* texts[] = {"Share on Facebook", "Share with E-mail"};
    ASSERT_EQ(table.numberOfRowsInSection(0), 2);
    for (int row = 0; row < 2; ++row) {
        auto* cell = table.cellForRowAtIndexPath({0, row});
        ASSERT_TRUE(cell) << row;
        EXPECT_EQ(cell->textLabel()->text(), texts[row]);
        EXPECT_EQ(table.rectForRowAtIndexPath({0, row}).height(), 40.0);
    }
    auto photo = std::make_shared<platform::Image>(32, 24);
    s.share->changeImage(photo);
    platform::MailMessage message = s.share->composeMessage(Clock::now());
    EXPECT_EQ(message.subject, "Check out my Flurio photo!");
    const std::string link = "https://flathub.org/apps/io.example.Flurio";
    EXPECT_EQ(message.body,
              "Photo taken with Flurio for Linux.\n\nCheck it out in the Flathub store:\n" + link);
    EXPECT_EQ(message.body.find(link), message.body.rfind(link));
    EXPECT_EQ(message.attachmentType, "image/jpeg");
    EXPECT_TRUE(message.attachmentName.ends_with(".jpg"));
    auto decoded = platform::ImageCodec::decodeJpeg(message.attachmentData);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width(), 32);
}

// The e-mail row runs the mail program found first on PATH with the subject, the body and
// the attachment as a JPEG file.
TEST(ShareScreen, EmailRowHandsThePhotoToTheMailProgram) {
    Screens s;
    fs::path bin = s.dir / "bin";
    // Writes its arguments, each ended by a NUL, and keeps a copy of the attachment.
    s.scratch.write("bin/xdg-email", "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"" +
                                         (s.dir / "args.tmp").string() + "\"\ncp \"$6\" \"" +
                                         (s.dir / "copy").string() + "\"\nmv \"" +
                                         (s.dir / "args.tmp").string() + "\" \"" +
                                         (s.dir / "args").string() + "\"\n");
    fs::permissions(bin / "xdg-email", fs::perms::owner_all);
    std::string path = getenv("PATH");
    setenv("PATH", (bin.string() + ":" + path).c_str(), 1);
    unsetenv("QUORBIT_MAIL_COMMAND");

    s.share->changeImage(std::make_shared<platform::Image>(40, 30));
    s.share->view();
    s.share->didSelectRow({0, 1});
    bool ran = platform::RunLoop::main().runUntil([&] { return fs::exists(s.dir / "args"); }, 5s);
    setenv("PATH", path.c_str(), 1);
    ASSERT_TRUE(ran);

    std::istringstream in(s.scratch.read("args"));
    std::vector<std::string> args;
    for (std::string arg; std::getline(in, arg, '\0');)
        args.push_back(arg);
    ASSERT_EQ(args.size(), 6u);
    const std::vector<std::string> options = {args[0], args[1], args[2], args[4]};
    EXPECT_EQ(options, (std::vector<std::string>{"--subject", "Check out my Flurio photo!",
                                                 "--body", "--attach"}));
    EXPECT_TRUE(args[3].ends_with("https://flathub.org/apps/io.example.Flurio")) << args[3];
    fs::path attached = args[5];
    EXPECT_TRUE(attached.filename().string().starts_with("Flurio-")) << attached;
    EXPECT_EQ(attached.extension(), ".jpg");
    auto decoded = platform::ImageCodec::decodeJpeg(s.scratch.read("copy"));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width(), 40);
    EXPECT_FALSE(platform::AlertView::visibleAlert());
    fs::remove_all(attached.parent_path());
}

}  // namespace
}  // namespace quorbit::share
