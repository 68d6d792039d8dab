#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>

#include "platform/core/Bundle.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/PhotoAlbum.h"
#include "platform/gfx/ImageCodec.h"
#include "support/JpegFile.h"
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
                              ImageOrientation orientation = ImageOrientation::Up) {
    std::optional<Result<fs::path>> result;
    album.writeImageToSavedPhotosAlbum(image, orientation,
                                       [&](const Result<fs::path>& r) { result = r; });
    RunLoop::main().runUntil([&] { return result.has_value(); }, 20s);
    if (!result) return Error::make("test", 0, "no completion");
    return *result;
}

std::vector<fs::path> entries(const fs::path& dir) {
    std::vector<fs::path> names;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(dir, ec))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

class PhotoAlbumTest : public ::testing::Test {
  protected:
    testing::ScratchDir scratch{"quorbit-album"};
    fs::path dir = scratch.path();
};

TEST_F(PhotoAlbumTest, WritesQualityJpegsWithTheOrientationAndTimeTaken) {
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
        std::time_t before = std::time(nullptr);
        auto path = writeAndWait(album, picture, orientation);
        ASSERT_TRUE(path.ok()) << path.error().localizedDescription();
        EXPECT_EQ(path->parent_path(), dir / "Pictures" / "Flurio");
        EXPECT_EQ(path->extension(), ".jpg");
        written.insert(*path);

        auto facts = testing::inspectJpeg(*path);
        ASSERT_TRUE(facts);
        EXPECT_EQ(facts->orientation, exif);
        EXPECT_TRUE(facts->exifFirst) << "an Exif file, not JFIF";
        EXPECT_EQ(facts->firstLuminanceQuant, 2) << "quality 95";
        // Taken now, in local time, and named after that moment.
        ASSERT_TRUE(facts->dateTimeOriginal);
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
        ASSERT_EQ(decoded->width(), 320);
        ASSERT_EQ(decoded->height(), 427);
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
    std::string message;
    char chunk[256];
    for (ssize_t n; (n = read(fds[0], chunk, sizeof chunk)) > 0;)
        message.append(chunk, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) return std::nullopt;
    if (status != 0) return "the child process failed with status " + std::to_string(status);
    return message;
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

TEST_F(PhotoAlbumTest, FailuresSayWhyAndLeaveNothingBehind) {
    using Code = PhotoAlbumError;
    struct Case {
        const char* name;
        // Makes the trouble in dir and returns failureOf's verdict; nothing if it cannot.
        std::function<std::optional<std::string>(const fs::path&)> run;
    } cases[] = {
        {"the folder's place is taken by a file",
         [](const fs::path& d) {
             std::ofstream(d / "Flurio") << "x";
             return failureOf(d / "Flurio", Code::FolderUnavailable, "Not a directory");
         }},
        {"the picture is empty",
         [](const fs::path& d) { return failureOf(d, Code::EncodingFailed, "empty image", true); }},
        {"the file grows past the size limit",
         [](const fs::path& d) {
             return inChild(d, "", [&] {
                 rlimit small{16384, 16384};
                 std::signal(SIGXFSZ, SIG_IGN);
                 setrlimit(RLIMIT_FSIZE, &small);
                 return failureOf(d, Code::NoSpace, "File too large");
             });
         }},
        {"the folder is not writable",
         [](const fs::path& d) -> std::optional<std::string> {
             if (geteuid() == 0) return std::nullopt;  // root writes anyway; see read-only
             fs::permissions(d, fs::perms::owner_read | fs::perms::owner_exec);
             return failureOf(d, Code::NotWritable, "Permission denied");
         }},
        {"the disk is full",
         [](const fs::path& d) {
             return inChild(d, "96k", [&] {
                 return failureOf(d / "Flurio", Code::NoSpace, "No space left on device");
             });
         }},
        {"the disk is read-only",
         [](const fs::path& d) {
             return inChild(d, "96k", [&] {
                 fs::create_directories(d / "Flurio");
                 mount(nullptr, d.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
                 return failureOf(d / "Flurio", Code::NotWritable, "Read-only file system");
             });
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::ScratchDir fresh("quorbit-album");
        if (auto verdict = c.run(fresh))
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
    struct Case {
        const char* album;     // QUORBIT_PICTURES_DIR
        const char* userDirs;  // the pictures line of user-dirs.dirs, if any
        bool command;          // xdg-user-dir on the PATH
        fs::path expected;
    };
    // xdg-user-dir answers the home folder where nothing says otherwise.
    // clang-format off
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

}  // namespace
}  // namespace quorbit::platform
