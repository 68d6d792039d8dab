#include <fcntl.h>
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
#include <map>
#include <random>
#include <set>

#include "platform/core/Bundle.h"
#include "platform/core/RunLoop.h"
#include "platform/gfx/ImageCodec.h"
#include "platform/media/PhotoAlbum.h"
#include "support/JpegInspect.h"

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
            if (noise) {
                p[0] = std::uint8_t(random()), p[1] = std::uint8_t(random());
                p[2] = std::uint8_t(random());
            } else {
                bool block = (x / 80 + y / 107) % 2 == 0;
                p[0] = std::uint8_t(x * 255 / 319);
                p[1] = std::uint8_t(y * 255 / 426);
                p[2] = block ? 200 : 40;
            }
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
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("quorbit-album-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
    }
    fs::path dir;
};

TEST_F(PhotoAlbumTest, WritesQualityJpegsWithTheOrientationAndTimeTaken) {
    struct Case {
        ImageOrientation orientation;
        int exif;
    } cases[] = {
        {ImageOrientation::Up, 1},           {ImageOrientation::Down, 3},
        {ImageOrientation::Left, 8},         {ImageOrientation::Right, 6},
        {ImageOrientation::UpMirrored, 2},   {ImageOrientation::DownMirrored, 4},
        {ImageOrientation::LeftMirrored, 5}, {ImageOrientation::RightMirrored, 7},
    };
    Image picture = testPicture();
    PhotoAlbum album(dir / "Pictures" / "Flurio");  // neither folder exists yet
    std::set<fs::path> written;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exif);
        std::time_t before = std::time(nullptr);
        auto path = writeAndWait(album, picture, c.orientation);
        ASSERT_TRUE(path.ok()) << path.error().localizedDescription();
        EXPECT_EQ(path->parent_path(), dir / "Pictures" / "Flurio");
        EXPECT_EQ(path->extension(), ".jpg");
        written.insert(*path);

        auto facts = testing::inspectJpeg(*path);
        ASSERT_TRUE(facts);
        EXPECT_EQ(facts->orientation, c.exif);
        EXPECT_TRUE(facts->exifFirst);
        EXPECT_FALSE(facts->hasJfif);
        EXPECT_EQ(facts->firstLuminanceQuant, 2) << "quality 95";
        // The time taken is local time, and the file is named after it.
        ASSERT_TRUE(facts->dateTimeOriginal);
        std::tm local{};
        localtime_r(&before, &local);
        char stamp[32], name[32];
        std::strftime(stamp, sizeof stamp, "%Y:%m:%d %H:%M", &local);
        EXPECT_EQ(facts->dateTimeOriginal->substr(0, 16), stamp);
        std::string digits = facts->dateTimeOriginal->substr(0, 19);
        std::tm parsed{};
        strptime(digits.c_str(), "%Y:%m:%d %H:%M:%S", &parsed);
        std::strftime(name, sizeof name, "IMG_%Y%m%d_%H%M%S", &parsed);
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
        existing.push_back(dir / name);
        std::ofstream(existing.back()) << "an older photo";
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

// Runs body in a child process that has user and mount namespaces of its own, with a tmpfs of
// `size` mounted on dir. Returns what body returned ("" for success), or nothing when this
// system gives no such namespaces to an unprivileged process.
std::optional<std::string> inPrivateTmpfs(const fs::path& dir, const std::string& size,
                                          const std::function<std::string()>& body) {
    uid_t uid = getuid();
    gid_t gid = getgid();
    int fds[2];
    if (pipe(fds) != 0) return "no pipe";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        auto put = [](const char* file, const std::string& text) {
            int fd = open(file, O_WRONLY);
            bool ok = fd >= 0 && write(fd, text.data(), text.size()) == ssize_t(text.size());
            if (fd >= 0) close(fd);
            return ok;
        };
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) _exit(77);
        if (!put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !put("/proc/self/setgroups", "deny") ||
            !put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            _exit(77);
        if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(77);
        if (mount("tmpfs", dir.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0) _exit(77);
        std::string message = body();
        if (write(fds[1], message.data(), message.size()) < 0) _exit(2);
        _exit(0);
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
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "the child process failed with status " + std::to_string(status);
    return message;
}

// The checks each failure must pass: the right code, a reason naming the folder and the
// system's words, and nothing at all left in the folder.
std::string checkFailure(const Result<fs::path>& result, PhotoAlbumError code,
                         const fs::path& folder, const std::string& systemWords,
                         bool namesFolder = true) {
    if (result.ok()) return "the photo was saved as " + result->string();
    const Error& error = result.error();
    std::string description = error.localizedDescription();
    if (error.domain != PhotoAlbum::kErrorDomain || error.code != long(code))
        return "wrong error " + error.domain + " " + std::to_string(error.code) + ": " +
               description;
    if ((namesFolder && description.find(folder.string()) == std::string::npos) ||
        description.find(systemWords) == std::string::npos)
        return "the reason does not say where and why: " + description;
    if (!entries(folder).empty()) return "something was left in " + folder.string();
    return "";
}

TEST_F(PhotoAlbumTest, FailuresSayWhyAndLeaveNothingBehind) {
    struct Case {
        const char* name;
        std::function<fs::path(const fs::path&)> prepare;  // makes the trouble, gives the folder
        PhotoAlbumError code;
        const char* words;
        bool empty = false;
        bool fileSizeLimit = false;
    } cases[] = {
        {"the folder's place is taken by a file",
         [](const fs::path& d) {
             std::ofstream(d / "Flurio") << "x";
             return d / "Flurio" / "Photos";
         },
         PhotoAlbumError::FolderUnavailable, "Not a directory"},
        {"the file grows past the size limit", [](const fs::path& d) { return d; },
         PhotoAlbumError::NoSpace, "File too large", false, true},
        {"the picture is empty", [](const fs::path& d) { return d; },
         PhotoAlbumError::EncodingFailed, "empty image", true},
        {"the folder is not writable",
         [](const fs::path& d) {
             fs::create_directories(d / "locked");
             fs::permissions(d / "locked", fs::perms::owner_read | fs::perms::owner_exec);
             return d / "locked";
         },
         PhotoAlbumError::NotWritable, "Permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.code == PhotoAlbumError::NotWritable && geteuid() == 0) {
            // Root writes anyway; the read-only file system below covers this code.
            continue;
        }
        fs::path folder = c.prepare(dir);
        PhotoAlbum album(folder);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (c.fileSizeLimit) {
            rlimit small = old;
            small.rlim_cur = 16384;
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        auto result = writeAndWait(album, c.empty ? Image() : testPicture(true));
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        fs::path checked = c.code == PhotoAlbumError::FolderUnavailable ? dir : folder;
        if (c.code == PhotoAlbumError::FolderUnavailable) {
            // Only the file that blocks the way is there.
            EXPECT_EQ(entries(dir), std::vector<fs::path>{"Flurio"});
            fs::remove(dir / "Flurio");
        }
        EXPECT_EQ(checkFailure(result, c.code, checked, c.words, !c.empty), "");
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
}

TEST_F(PhotoAlbumTest, FullOrReadOnlyDiskIsReportedAndLeavesNothingBehind) {
    struct Case {
        const char* name;
        bool readOnly;
        PhotoAlbumError code;
        const char* words;
    } cases[] = {
        {"a full disk", false, PhotoAlbumError::NoSpace, "No space left on device"},
        {"a read-only disk", true, PhotoAlbumError::NotWritable, "Read-only file system"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto outcome = inPrivateTmpfs(dir, "96k", [&]() -> std::string {
            fs::path folder = dir / "Flurio";
            fs::create_directories(folder);
            if (c.readOnly &&
                mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
                return std::string("cannot remount read-only: ") + strerror(errno);
            PhotoAlbum album(folder);
            auto result = writeAndWait(album, testPicture(true));
            return checkFailure(result, c.code, folder, c.words);
        });
        if (!outcome) GTEST_SKIP() << "no unprivileged user namespaces to mount a small disk in";
        EXPECT_EQ(*outcome, "");
    }
}

TEST(PhotoAlbumFolder, FollowsTheEnvironmentAndTheUsersPicturesFolder) {
    fs::path home = fs::temp_directory_path() / ("quorbit-home-" + std::to_string(getpid()));
    fs::path emptyBin = home / "no-commands";
    fs::create_directories(home / ".config");
    fs::create_directories(emptyBin);
    bool haveCommand = fs::exists("/usr/bin/xdg-user-dir");
    const char* names[] = {"QUORBIT_PICTURES_DIR", "HOME", "XDG_CONFIG_HOME", "XDG_PICTURES_DIR",
                           "PATH"};
    std::map<std::string, std::optional<std::string>> saved;
    for (const char* n : names)
        saved[n] = std::getenv(n) ? std::optional<std::string>(std::getenv(n)) : std::nullopt;

    struct Case {
        const char* name;
        const char* album;     // QUORBIT_PICTURES_DIR
        const char* userDirs;  // the XDG_PICTURES_DIR line of user-dirs.dirs, if any
        bool command;          // xdg-user-dir on the PATH
        fs::path expected;
    } cases[] = {
        {"an album folder given", "/srv/album", "XDG_PICTURES_DIR=\"$HOME/Bilder\"", true,
         "/srv/album"},
        {"configured, asked of xdg-user-dir", nullptr, "XDG_PICTURES_DIR=\"$HOME/Bilder\"", true,
         home / "Bilder" / "Flurio"},
        {"configured, read from the file", nullptr, "XDG_PICTURES_DIR=\"$HOME/Bilder\"", false,
         home / "Bilder" / "Flurio"},
        {"an absolute folder", nullptr, "XDG_PICTURES_DIR=\"/data/photos\"", false,
         "/data/photos/Flurio"},
        {"nothing configured, with xdg-user-dir", nullptr, nullptr, true,
         home / "Pictures" / "Flurio"},
        {"nothing configured, without it", nullptr, nullptr, false, home / "Pictures" / "Flurio"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.command && !haveCommand) continue;
        if (c.album)
            setenv("QUORBIT_PICTURES_DIR", c.album, 1);
        else
            unsetenv("QUORBIT_PICTURES_DIR");
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
        unsetenv("XDG_PICTURES_DIR");
        setenv("PATH", c.command ? "/usr/bin:/bin" : emptyBin.c_str(), 1);
        fs::remove(home / ".config" / "user-dirs.dirs");
        if (c.userDirs)
            std::ofstream(home / ".config" / "user-dirs.dirs")
                << "# written by the test\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                << c.userDirs << "\n";
        EXPECT_EQ(PhotoAlbum::defaultFolder(), c.expected);
    }
    for (const auto& [n, v] : saved) {
        if (v)
            setenv(n.c_str(), v->c_str(), 1);
        else
            unsetenv(n.c_str());
    }
    fs::remove_all(home);
}

}  // namespace
}  // namespace quorbit::platform
