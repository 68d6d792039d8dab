#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <random>
#include <set>

#include "platform/core/Bundle.h"
#include "platform/core/Files.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/AudioPlayer.h"
#include "platform/desktop/PhotoAlbum.h"
#include "platform/desktop/Reachability.h"
#include "platform/desktop/UrlOpener.h"
#include "platform/gfx/ImageCodec.h"
#include "support/JpegFile.h"
#include "support/LogCapture.h"
#include "support/QuorbitProcess.h"
#include "support/Scratch.h"

namespace quorbit::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A 320 x 427 picture: smooth gradients with a few flat blocks, or noise (which makes a JPEG
// of a few hundred kilobytes).
Image testPicture(bool noise = false) {
    Image image(320, 427);
    std::mt19937 random(7);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            std::uint8_t* p = image.pixel(x, y);
            p[0] = std::uint8_t(noise ? random() : x * 255 / 319);
            p[1] = std::uint8_t(noise ? random() : y * 255 / 426);
            p[2] = std::uint8_t(noise ? random() : (x / 80 + y / 107) % 2 ? 40 : 200);
            p[3] = 255;
        }
    }
    return image;
}

// Writes one photo and runs the main loop until its completion has run.
Result<fs::path> writeAndWait(PhotoAlbum& album, const Image& image,
                              ImageOrientation orientation = ImageOrientation::Up,
                              PhotoDetails details = {}) {
    std::optional<Result<fs::path>> result;
    album.writeImageToSavedPhotosAlbum(
        image, orientation, [&](const Result<fs::path>& r) { result = r; }, details);
    RunLoop::main().runUntil([&] { return result.has_value(); }, 20s);
    return result.value_or(Error::make("test", 0, "no completion"));
}

std::vector<fs::path> entries(const fs::path& dir) {
    std::vector<fs::path> names;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(dir, ec))
        names.push_back(e.path().filename());
    return names;
}

class PhotoAlbumTest : public ::testing::Test {
  protected:
    testing::ScratchDir scratch{"quorbit-album"};
    fs::path dir = scratch.path();
};

// Each photo is a quality JPEG with its orientation, the time taken and the application in its
// Exif block as a photo tool reads it; the last one also with the details asked for.
TEST_F(PhotoAlbumTest, WritesQualityJpegsWithTheOrientationTimeTakenAndDetails) {
    using enum ImageOrientation;
    // clang-format off
    const std::pair<ImageOrientation, int> cases[] = {
        {Up, 1}, {Down, 3}, {Left, 8}, {Right, 6},
        {UpMirrored, 2}, {DownMirrored, 4}, {LeftMirrored, 5}, {RightMirrored, 7},
    };
    // clang-format on
    Image picture = testPicture();
    PhotoAlbum album(dir / "Pictures" / "Flurio");  // neither folder exists yet
    std::set<fs::path> written;
    for (const auto& [orientation, exif] : cases) {
        SCOPED_TRACE(exif);
        const bool detailed = exif == 7;
        std::time_t before = std::time(nullptr);
        auto path = writeAndWait(
            album, picture, orientation,
            detailed ? PhotoDetails{"Acme", "Acme Cam 3", "Thermal", 92} : PhotoDetails{});
        ASSERT_TRUE(path.ok()) << path.error().localizedDescription();
        EXPECT_EQ(path->parent_path(), dir / "Pictures" / "Flurio");
        EXPECT_EQ(path->extension(), ".jpg");
        written.insert(*path);
        auto facts = testing::inspectJpeg(*path);
        ASSERT_TRUE(facts);
        EXPECT_EQ(facts->orientation, exif);
        EXPECT_TRUE(facts->exifFirst) << "an Exif file, not JFIF";
        EXPECT_EQ(facts->firstLuminanceQuant, detailed ? 3 : 2) << "quality 95, or the asked 92";
        auto tags = testing::exifTags(*path);
        EXPECT_EQ(tags["Exif.Image.Make"] + "|" + tags["Exif.Image.Model"] + "|" +
                      tags["Exif.Image.ImageDescription"],
                  detailed ? "Ascii Acme|Ascii Acme Cam 3|Ascii Thermal" : "||");
        EXPECT_EQ(tags["Exif.Image.Software"], "Ascii Flurio " QUORBIT_VERSION);
        EXPECT_EQ(tags["Exif.Photo.PixelXDimension"] + " " + tags["Exif.Photo.PixelYDimension"],
                  "Long 320 Long 427");
        EXPECT_EQ(tags["Exif.Photo.OffsetTimeOriginal"].size(), 12u);  // Ascii +hh:mm
        // Taken now, in local time, and named after that moment.
        ASSERT_EQ(facts->dateTimeOriginal.value_or("").size(), 19u);
        std::tm taken{};
        strptime(facts->dateTimeOriginal->c_str(), "%Y:%m:%d %H:%M:%S", &taken);
        taken.tm_isdst = -1;
        EXPECT_LE(std::abs(std::difftime(std::mktime(&taken), before)), 2);
        char name[32];
        std::strftime(name, sizeof name, "IMG_%Y%m%d_%H%M%S", &taken);
        EXPECT_EQ(path->filename().string().substr(0, 19), name);
        // The pixels are stored as given (the orientation is only a tag), within JPEG loss.
        auto decoded = ImageCodec::readFile(*path);
        ASSERT_TRUE(decoded.ok());
        ASSERT_EQ(decoded->width() * 1000 + decoded->height(), 320427);
        double difference = 0;
        for (size_t i = 0; i < picture.pixels().size(); ++i)
            if (i % 4 != 3) difference += std::abs(int(decoded->pixels()[i]) - picture.pixels()[i]);
        EXPECT_LT(difference / (320 * 427 * 3), 2.5);
    }
    EXPECT_EQ(written.size(), 8u) << "every photo has a file of its own";
    EXPECT_EQ(entries(dir / "Pictures" / "Flurio").size(), 8u) << "and nothing else is left";
    EXPECT_EQ(fs::status(*written.begin()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
}

TEST_F(PhotoAlbumTest, NeverOverwritesAPhotoAndLosesNoneWhenClosed) {
    // Files already named as this minute's photos would be.
    std::time_t now = std::time(nullptr);
    std::vector<fs::path> existing;
    for (std::time_t t = now - 1; t <= now + 30; ++t) {
        std::tm local{};
        localtime_r(&t, &local);
        char name[32];
        std::strftime(name, sizeof name, "IMG_%Y%m%d_%H%M%S.jpg", &local);
        existing.push_back(scratch.write(name, "an older photo"));
    }
    {
        PhotoAlbum album(dir);
        auto first = writeAndWait(album, testPicture());
        ASSERT_TRUE(first.ok()) << first.error().localizedDescription();
        EXPECT_EQ(first->filename().string().substr(19), "_2.jpg");
        // Three handed over at once; the album goes away before any has been written.
        for (int i = 0; i < 3; ++i)
            album.writeImageToSavedPhotosAlbum(testPicture(), ImageOrientation::Up, {});
    }
    for (const auto& path : existing)
        EXPECT_EQ(readFile(path), "an older photo") << path;
    auto names = entries(dir);
    EXPECT_EQ(names.size(), existing.size() + 4);
    for (const auto& name : names)
        EXPECT_NE(name.string().front(), '.') << "a temporary file was left: " << name;
}

// Runs body in a child process; with a size, in user and mount namespaces of its own and on
// a tmpfs of that size on dir. Returns what body returned, or nothing when the system gives
// no such namespaces to an unprivileged process.
std::optional<std::string> inChild(const fs::path& dir, const std::string& size,
                                   const std::function<std::string()>& body) {
    std::string ids[] = {"0 " + std::to_string(getuid()) + " 1", "deny",
                         "0 " + std::to_string(getgid()) + " 1"};
    int fds[2];
    if (pipe(fds) != 0) return "no pipe";
    pid_t pid = fork();
    if (pid == 0) {
        const char* files[] = {"/proc/self/uid_map", "/proc/self/setgroups", "/proc/self/gid_map"};
        if (!size.empty() && unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) _exit(77);
        for (int i = 0; i < 3 && !size.empty(); ++i)
            if (std::ofstream out(files[i]); !(out << ids[i] << std::flush)) _exit(77);
        if (!size.empty() && (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                              mount("tmpfs", dir.c_str(), "tmpfs", 0, ("size=" + size).c_str())))
            _exit(77);
        std::string message = body();
        _exit(write(fds[1], message.data(), message.size()) < 0 ? 2 : 0);
    }
    close(fds[1]);
    auto message = readToEnd(fds[0], 1 << 16, "the child's verdict");
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) return std::nullopt;
    if (status != 0) return "the child process failed with status " + std::to_string(status);
    return message ? *message : message.error().localizedDescription();
}

// Writes a noisy (large) photo, or an empty picture, into folder; the failure must carry the
// code, a reason naming the folder and the system's words, and leave nothing in the folder.
std::string failureOf(const fs::path& folder, PhotoAlbumError code, const std::string& words,
                      bool emptyPicture = false) {
    PhotoAlbum album(folder);
    auto result = writeAndWait(album, emptyPicture ? Image() : testPicture(true));
    if (result.ok()) return "the photo was saved as " + result->string();
    const Error& error = result.error();
    std::string why = error.localizedDescription();
    if (error.domain != PhotoAlbum::kErrorDomain || error.code != long(code))
        return "wrong error " + std::to_string(error.code) + ": " + why;
    if ((!emptyPicture && why.find(folder.string()) == std::string::npos) ||
        why.find(words) == std::string::npos)
        return "the reason does not say where and why: " + why;
    if (!entries(folder).empty()) return "something was left in " + folder.string();
    return "";
}

// Each case makes its trouble in a fresh folder (in a child process where it says so, on a
// tmpfs of that size where one is given) and writes into the folder or its sub-folder.
TEST_F(PhotoAlbumTest, FailuresSayWhyAndLeaveNothingBehind) {
    using Code = PhotoAlbumError;
    using SetUp = std::function<void(const fs::path&)>;
    // clang-format off
    struct Case { const char* name; const char* child; SetUp setUp; const char* sub; Code code; const char* words; } cases[] = {
        {"the folder's place is taken by a file", nullptr, [](const fs::path& d) { std::ofstream(d / "Flurio") << "x"; }, "Flurio", Code::FolderUnavailable, "Not a directory"},
        {"the picture is empty", nullptr, {}, "", Code::EncodingFailed, "empty image"},
        {"the file grows past the size limit", "", [](const fs::path&) { rlimit small{16384, 16384}; std::signal(SIGXFSZ, SIG_IGN); setrlimit(RLIMIT_FSIZE, &small); }, "", Code::NoSpace, "File too large"},
        {"the folder is not writable", nullptr, [](const fs::path& d) { fs::permissions(d, fs::perms::owner_read | fs::perms::owner_exec); }, "", Code::NotWritable, "Permission denied"},
        {"the disk is full", "96k", {}, "Flurio", Code::NoSpace, "No space left on device"},
        {"the disk is read-only", "96k", [](const fs::path& d) { fs::create_directories(d / "Flurio"); mount(nullptr, d.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr); }, "Flurio", Code::NotWritable, "Read-only file system"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::ScratchDir fresh("quorbit-album");
        auto run = [&] {
            if (c.setUp) c.setUp(fresh);
            return failureOf(fresh / c.sub, c.code, c.words, c.code == Code::EncodingFailed);
        };
        // Root writes into a folder it may not (see read-only instead).
        bool rootWrites = c.code == Code::NotWritable && !c.child && geteuid() == 0;
        auto verdict = rootWrites ? std::nullopt : c.child ? inChild(fresh, c.child, run) : run();
        if (verdict)
            EXPECT_EQ(*verdict, "");
        else
            std::printf("skipped \"%s\": not possible for this user here\n", c.name);
    }
}

TEST(PhotoAlbumFolder, FollowsTheEnvironmentAndTheUsersPicturesFolder) {
    testing::ScratchDir home("quorbit-home");
    fs::create_directories(home / "bin");  // no commands in it
    testing::ScopedEnv env({{"HOME", home.path().string()},
                            {"XDG_CONFIG_HOME", (home / ".config").string()},
                            {"XDG_PICTURES_DIR", std::nullopt}});
    const char* bilder = "XDG_PICTURES_DIR=\"$HOME/Bilder\"";
    // xdg-user-dir answers the home folder where nothing says otherwise.
    // clang-format off
    // album: QUORBIT_PICTURES_DIR; userDirs: the pictures line of user-dirs.dirs, if any;
    // command: xdg-user-dir on the PATH
    struct Case { const char* album; const char* userDirs; bool command; fs::path expected; };
    const Case cases[] = {
        {"/srv/album", bilder, true, "/srv/album"},
        {nullptr, bilder, true, home / "Bilder" / "Flurio"},
        {nullptr, bilder, false, home / "Bilder" / "Flurio"},
        {nullptr, "XDG_PICTURES_DIR=\"/data/photos\"", false, "/data/photos/Flurio"},
        {nullptr, nullptr, true, home / "Pictures" / "Flurio"},
        {nullptr, nullptr, false, home / "Pictures" / "Flurio"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        if (c.command && !fs::exists("/usr/bin/xdg-user-dir")) continue;
        env.set("QUORBIT_PICTURES_DIR",
                c.album ? std::optional<std::string>(c.album) : std::nullopt);
        env.set("PATH", c.command ? "/usr/bin:/bin" : (home / "bin").string());
        fs::remove(home / ".config" / "user-dirs.dirs");
        if (c.userDirs)
            home.write(".config/user-dirs.dirs",
                       "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n" + std::string(c.userDirs) + "\n");
        EXPECT_EQ(PhotoAlbum::defaultFolder(), c.expected);
    }
}

// A scratch folder with small shell scripts standing in for xdg-mime and xdg-open. Each
// opener writes the argument it got to "opened".
class UrlOpenerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        script("handler-known", "echo browser.desktop");
        script("handler-none", "exit 0");  // xdg-mime prints nothing when nobody is registered
        script("opener-ok", "printf '%s' \"$1\" > \"$(dirname \"$0\")/opened\"");
        script("opener-fails", "printf '%s' \"$1\" > \"$(dirname \"$0\")/opened\"; exit 4");
        script("opener-stays", "printf '%s' \"$1\" > \"$(dirname \"$0\")/opened\"; sleep 5");
    }
    void script(const std::string& name, const std::string& body) {
        fs::permissions(scratch.write(name, "#!/bin/sh\n" + body + "\n"), fs::perms::owner_all);
    }
    std::string opened() const { return readFile(dir / "opened").value_or("<not run>"); }
    std::string path(const std::string& name) const { return (dir / name).string(); }
    testing::ScratchDir scratch{"url-opener"};
    fs::path dir = scratch.path();
};

TEST_F(UrlOpenerTest, AnswersFromTheHandlerAndTheOpenersExitStatusAndPassesTheUrlUnchanged) {
    // Where nobody handles the scheme the opener is not even run; web URLs go to the opener
    // whatever the query says. An opener still running after the wait counts as opened.
    // clang-format off
    // query "": none
    struct Case { const char *url, *query, *opener; bool opened; const char* handedOver; };
    const char *app = "fbauth://authorize?client_id=1", *web = "https://example.invalid/login";
    const Case cases[] = {
        {app, "handler-known", "opener-ok", true, app},
        {app, "handler-none", "opener-ok", false, "<not run>"},
        {web, "handler-none", "opener-ok", true, web},
        {web, "handler-known", "opener-fails", false, web},
        {"no scheme here", "handler-known", "opener-ok", false, "<not run>"},
        {app, "", "opener-stays", true, app},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.url) + " / " + c.query + " / " + c.opener);
        fs::remove(dir / "opened");
        UrlOpener::Commands commands{{path(c.opener)}, {path(c.query)}, 1s};
        if (!*c.query) commands.handlerQuery.clear();
        auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(UrlOpener(commands).openURL(c.url), c.opened);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
        EXPECT_EQ(opened(), c.handedOver);
    }
    // The command from the environment gets the URL as one unchanged argument.
    ASSERT_EQ(setenv("QUORBIT_URL_OPENER", path("opener-ok").c_str(), 1), 0);
    UrlOpener opener(UrlOpener::commandsFromEnvironment());
    unsetenv("QUORBIT_URL_OPENER");
    // Characters a shell would act on stay in the URL and do nothing.
    std::string url = "fbauth://authorize?a=1&b=$(touch " + path("pwned") + ")`id`;x' \"y\"";
    EXPECT_TRUE(opener.openURL(url));
    EXPECT_EQ(opened(), url);
    EXPECT_FALSE(fs::exists(dir / "pwned"));
}

TEST(Reachability, FlagsFollowTheDefaultRoutesInterfaceOrAStandInAnswer) {
    // clang-format off
    const std::string h = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    const std::string local = "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n";
    const std::string v4Default = h + "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n" + local;
    const std::string v4LocalOnly = h + local;
    const std::string v4Ppp = h + "ppp0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n";
    const std::string v4Reject = h + "eth0\t00000000\t00000000\t0201\t0\t0\t0\t00000000\t0\t0\t0\n";
    const std::string v6Default = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 fe800000000000000000000000000001 00000400 00000001 00000000 00000003 wlan0\n";
    const std::string v6LoopbackReject = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 00000000000000000000000000000000 ffffffff 00000001 00000000 00200200 lo\n";
    using I = Reachability::Interface;
    const unsigned live = IFF_UP | IFF_RUNNING, R = Reachability::Reachable, T = Reachability::TransientConnection;
    const I lo{"lo", live | IFF_LOOPBACK, true}, eth0{"eth0", live, true}, eth0Down{"eth0", IFF_UP, true};
    const I eth0NoAddress{"eth0", live, false}, ppp0{"ppp0", live | IFF_POINTOPOINT, true}, wlan0{"wlan0", live, true};
    struct Case { const char* name; std::vector<I> interfaces;
                  std::optional<std::string_view> v4, v6; unsigned flags; };
    // clang-format on
    const std::vector<Case> cases = {
        {"default route on a live interface", {lo, eth0}, v4Default, "", R},
        {"interface not running", {lo, eth0Down}, v4Default, "", 0},
        {"interface without an address", {lo, eth0NoAddress}, v4Default, "", 0},
        {"only a local network route", {lo, eth0}, v4LocalOnly, "", 0},
        {"point-to-point link", {lo, ppp0}, v4Ppp, "", R | T},
        {"unreachable route", {lo, eth0}, v4Reject, "", 0},
        {"IPv6 default route only", {lo, wlan0}, h, v6Default, R},
        {"IPv6 loopback's reject route", {lo, eth0}, h, v6LoopbackReject, 0},
        {"no routing tables: a live interface", {lo, eth0}, std::nullopt, std::nullopt, R},
        {"no routing tables: the loopback alone", {lo}, std::nullopt, std::nullopt, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Reachability::flagsFrom(c.interfaces, c.v4, c.v6), c.flags);
    }
    // A stand-in answer (a test's, or $QUORBIT_REACHABILITY's) replaces the system's until
    // cleared; text that cannot be read leaves the real one.
    Reachability::setOverride([] { return std::optional<unsigned>(); });
    EXPECT_EQ(Reachability::internetFlags(), std::nullopt);
    Reachability::setOverride({});
    EXPECT_TRUE(Reachability::internetFlags().has_value());  // this machine can be asked
    // clang-format off
    struct Stood { const char* text; bool valid; std::optional<unsigned> flags; } stood[] = {
        {"unreadable", true, std::nullopt},
        {"offline", true, 0u},
        {"reachable,transient,connection-required", true, 7u},
        {"reachable,", false, std::nullopt},
        {"online", false, std::nullopt},
    };
    // clang-format on
    for (const Stood& c : stood) {
        SCOPED_TRACE(c.text);
        setenv("QUORBIT_REACHABILITY", c.text, 1);
        EXPECT_TRUE(c.valid ? Reachability::internetFlags() == c.flags
                            : Reachability::internetFlags().has_value());
    }
    unsetenv("QUORBIT_REACHABILITY");
}

// A mono 16-bit PCM WAV file of the given number of samples at 8 kHz: a square wave.
std::string wavOf(std::uint32_t samples) {
    auto le = [](std::size_t v, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i)
            out.push_back(char((v >> (8 * i)) & 0xff));
        return out;
    };
    std::string data;
    for (std::uint32_t i = 0; i < samples; ++i)
        data += le((i % 20) < 10 ? 8000 : 0xffff - 8000, 2);
    // PCM, mono, the rate, bytes a second, a block and bits a sample.
    return "RIFF" + le(36 + data.size(), 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) +
           le(8000, 4) + le(16000, 4) + le(2, 2) + le(16, 2) + "data" + le(data.size(), 4) + data;
}

TEST(AudioPlayer, MissingOrBrokenFilesGiveNoPlayerAndSayWhy) {
    testing::LogCapture capture;
    testing::ScratchDir dir("quorbit-audio");
    auto junk = dir.write("quorbit-not-a.wav", "RIFF but not really");
    EXPECT_EQ(AudioPlayer::createWithContentsOfFile("/nonexistent/click.wav"), nullptr);
    EXPECT_EQ(AudioPlayer::createWithContentsOfFile(junk), nullptr);
    EXPECT_EQ(AudioPlayer::createWithResource("no such sound"), nullptr);
    EXPECT_EQ(capture.lines().size(), 3u);
    for (const char* named : {"/nonexistent/click.wav", "quorbit-not-a.wav", "no such sound"})
        EXPECT_EQ(capture.count(named), 1) << named;
}

TEST(AudioPlayer, PlaysToTheEndAndTellsTheDelegate) {
    testing::ScratchDir dir("quorbit-audio");
    // A tenth of a second; nothing at all.
    for (auto [samples, seconds] : {std::pair(800u, 0.1), std::pair(0u, 0.0)}) {
        auto player = AudioPlayer::createWithContentsOfFile(dir.write("a.wav", wavOf(samples)));
        ASSERT_NE(player, nullptr);
        EXPECT_DOUBLE_EQ(player->duration(), seconds);
        int finished = 0;
        player->setDelegate({[&](AudioPlayer&, bool ok) { finished += ok ? 1 : 100; }});
        player->setVolume(0.5);
        ASSERT_TRUE(player->play());
        EXPECT_TRUE(player->isPlaying());
        EXPECT_TRUE(player->play()) << "playing again while playing carries on";
        RunLoop::main().runUntil([&] { return finished > 0; }, std::chrono::seconds(3));
        EXPECT_EQ(finished, 1) << samples << " samples";
        EXPECT_FALSE(player->isPlaying());
        // Stopped early: silent, and the delegate hears nothing.
        ASSERT_TRUE(player->play());
        player->stop();
        RunLoop::main().runFor(std::chrono::milliseconds(150));
        EXPECT_EQ(finished, 1);
    }
}

// The sounds the application ships: each loads through the player, is short, starts at once (a
// shutter must not lag behind the tap), and is neither near silence nor clipped.
TEST(ShippedSounds, LoadAndSoundRight) {
    for (auto [name, maxSeconds] :
         {std::pair("camera click", 0.3), std::pair("timer tick", 0.15)}) {
        SCOPED_TRACE(name);
        auto player = AudioPlayer::createWithResource(name, "wav");
        ASSERT_NE(player, nullptr);
        EXPECT_GT(player->duration(), 0.03);
        EXPECT_LE(player->duration(), maxSeconds);
        auto path = Bundle::main().pathForResource(name, "wav", "sounds");
        ASSERT_TRUE(path);
        SDL_AudioSpec audio{};
        Uint8* buffer = nullptr;
        Uint32 length = 0;
        ASSERT_NE(SDL_LoadWAV(path->c_str(), &audio, &buffer, &length), nullptr);
        ASSERT_EQ(audio.format, AUDIO_S16LSB);
        ASSERT_EQ(audio.channels, 1);
        std::vector<Sint16> samples(length / 2);
        std::copy_n(reinterpret_cast<Sint16*>(buffer), samples.size(), samples.data());
        SDL_FreeWAV(buffer);
        ASSERT_FALSE(samples.empty());
        auto loudest = std::max_element(samples.begin(), samples.end(), [](Sint16 a, Sint16 b) {
            return std::abs(int(a)) < std::abs(int(b));
        });
        double peak = std::abs(int(*loudest)) / 32768.0;
        EXPECT_GT(peak, 0.3);
        EXPECT_LT(peak, 0.95);
        double peakAt = double(loudest - samples.begin()) / audio.freq;
        EXPECT_LT(peakAt, 0.01) << "seconds before the loudest moment";
        EXPECT_LT(std::abs(int(samples.back())), 100) << "ends quietly, without a click";
    }
}

}  // namespace
}  // namespace quorbit::platform
