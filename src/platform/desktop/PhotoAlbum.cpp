#include "platform/desktop/PhotoAlbum.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <vector>

#include "platform/core/Bundle.h"
#include "platform/core/FileHandle.h"
#include "platform/core/Log.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Subprocess.h"
#include "platform/core/Translate.h"
#include "platform/gfx/ImageCodec.h"

namespace quorbit::platform {
namespace fs = std::filesystem;

int exifOrientation(ImageOrientation orientation) {
    static constexpr int kExif[] = {1, 3, 8, 6, 2, 4, 5, 7};
    auto index = static_cast<unsigned>(orientation);
    return index < 8 ? kExif[index] : 1;
}

namespace {

// ---- where the album lives ----

// xdg-user-dir reads one small file; one that hangs (a folder on a dead network share) is
// given up on and the file read here instead.
constexpr auto kUserDirWait = std::chrono::seconds(5);
constexpr std::size_t kMaxUserDirOutput = 64 * 1024;

fs::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir)
        return found->pw_dir;
    return "/";
}

// The first line `xdg-user-dir KIND` prints, or nothing when it cannot run or fails.
std::optional<fs::path> folderFromCommand(const std::string& kind) {
    Subprocess::Options command;
    command.argv = {"xdg-user-dir", kind};
    command.errors = Subprocess::Stream::Null;
    auto answer = runCapturingOutput(std::move(command), kUserDirWait, kMaxUserDirOutput);
    if (!answer || !answer->status.succeeded()) return std::nullopt;
    std::string output = answer->output.substr(0, answer->output.find('\n'));
    if (output.empty() || output.front() != '/') return std::nullopt;
    return fs::path(output);
}

// XDG_KIND_DIR from the user-dirs.dirs file (a "$HOME/..." or absolute value), else from the
// environment; what `xdg-user-dir` itself would read.
std::optional<fs::path> folderFromUserDirs(const std::string& kind, const fs::path& home) {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    fs::path config = configHome && *configHome ? fs::path(configHome) : home / ".config";
    std::ifstream in(config / "user-dirs.dirs");
    std::optional<std::string> value;
    for (std::string line; std::getline(in, line);) {
        const std::string key = "XDG_" + kind + "_DIR=";
        if (line.rfind(key, 0) != 0) continue;
        std::string v = line.substr(key.size());
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
        value = v;
    }
    if (!value) {
        const char* env = std::getenv(("XDG_" + kind + "_DIR").c_str());
        if (env && *env) value = env;
    }
    if (!value) return std::nullopt;
    if (value->rfind("$HOME", 0) == 0) return fs::path(home.string() + value->substr(5));
    if (!value->empty() && value->front() == '/') return fs::path(*value);
    return std::nullopt;
}

// ---- errors ----

Error albumError(PhotoAlbumError code, const std::string& description, int err) {
    return Error::make(code, description, err);
}

bool isPermissionError(int err) {
    return err == EACCES || err == EPERM || err == EROFS;
}

bool isSpaceError(int err) {
    return err == ENOSPC || err == EDQUOT || err == EFBIG;
}

// A failure to write a file into folder.
Error fileError(int err, const fs::path& folder) {
    // The texts are the user's language's; the system's reason is its own.
    auto say = [&](const char* text) {
        return format(tr(text).c_str(), folder.c_str(), strerror(err));
    };
    if (isPermissionError(err))
        return albumError(PhotoAlbumError::NotWritable,
                          say(N_("The folder %s cannot be written to (%s).")), err);
    if (isSpaceError(err))
        return albumError(PhotoAlbumError::NoSpace,
                          say(N_("There is not enough space for the photo in %s (%s).")), err);
    return albumError(PhotoAlbumError::WriteFailed,
                      say(N_("The photo could not be written to %s (%s).")), err);
}

// A failure to make the album folder itself.
Error folderError(int err, const fs::path& folder) {
    if (isPermissionError(err) || isSpaceError(err)) {
        Error error = fileError(err, folder);
        error.message =
            format(tr("The folder %s cannot be made (%s).").c_str(), folder.c_str(), strerror(err));
        return error;
    }
    return albumError(PhotoAlbumError::FolderUnavailable,
                      format(tr("The photo folder %s cannot be made (%s).").c_str(), folder.c_str(),
                             strerror(err)),
                      err);
}

// ---- the Exif block ----

void put16(std::string& out, std::uint16_t v) {
    out.push_back(char(v >> 8));
    out.push_back(char(v & 0xff));
}

void put32(std::string& out, std::uint32_t v) {
    put16(out, std::uint16_t(v >> 16));
    put16(out, std::uint16_t(v & 0xffff));
}

// One entry of an image file directory; value holds the big-endian bytes.
struct IfdEntry {
    enum Type : std::uint16_t { Ascii = 2, Short = 3, Long = 4, Undefined = 7 };
    std::uint16_t tag;
    Type type;
    std::uint32_t count;
    std::string value;
};

IfdEntry shortEntry(std::uint16_t tag, std::uint16_t v) {
    std::string bytes;
    put16(bytes, v);
    return {tag, IfdEntry::Short, 1, bytes};
}

IfdEntry longEntry(std::uint16_t tag, std::uint32_t v) {
    std::string bytes;
    put32(bytes, v);
    return {tag, IfdEntry::Long, 1, bytes};
}

IfdEntry asciiEntry(std::uint16_t tag, const std::string& text) {
    std::string bytes = text + '\0';
    return {tag, IfdEntry::Ascii, std::uint32_t(bytes.size()), bytes};
}

// Bytes a directory takes with its out-of-line values (each kept at an even offset).
std::uint32_t ifdSize(const std::vector<IfdEntry>& entries) {
    std::uint32_t size = 2 + 12 * std::uint32_t(entries.size()) + 4;
    for (const auto& e : entries)
        if (e.value.size() > 4) size += std::uint32_t(e.value.size() + (e.value.size() & 1));
    return size;
}

// Appends a directory (entries sorted by tag) at offset `at` of the TIFF data, with no next
// directory.
void writeIfd(std::string& tiff, const std::vector<IfdEntry>& entries) {
    std::uint32_t at = std::uint32_t(tiff.size());
    std::uint32_t data = at + 2 + 12 * std::uint32_t(entries.size()) + 4;
    std::string values;
    put16(tiff, std::uint16_t(entries.size()));
    for (const auto& e : entries) {
        put16(tiff, e.tag);
        put16(tiff, e.type);
        put32(tiff, e.count);
        if (e.value.size() <= 4) {
            tiff += e.value;
            tiff.append(4 - e.value.size(), '\0');
        } else {
            put32(tiff, data + std::uint32_t(values.size()));
            values += e.value;
            if (values.size() & 1) values.push_back('\0');
        }
    }
    put32(tiff, 0);
    tiff += values;
}

// The APP1 payload: "Exif" and a big-endian TIFF block with the orientation, the program, the
// size, the details given and the local time the photo was taken (with its offset from UTC).
std::string exifBlock(ImageOrientation orientation, std::chrono::system_clock::time_point taken,
                      int width, int height, const PhotoDetails& details) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(taken);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y:%m:%d %H:%M:%S", &local);
    int offset = int(std::labs(local.tm_gmtoff) / 60 % (24 * 60));
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", local.tm_gmtoff < 0 ? '-' : '+', offset / 60,
                  offset % 60);
    const Bundle& bundle = Bundle::main();

    std::vector<IfdEntry> exif = {
        {0x9000, IfdEntry::Undefined, 4, "0232"},  // Exif version
        asciiEntry(0x9003, stamp),                 // taken
        asciiEntry(0x9011, zone),                  // offset of that time from UTC
        longEntry(0xa002, std::uint32_t(width)),   // pixels across
        longEntry(0xa003, std::uint32_t(height)),  // pixels down
    };
    // The texts of the primary directory, in tag order, where they are not empty: the image
    // description, make and model, then what the code adds below.
    std::vector<IfdEntry> primary;
    for (auto [tag, text] : {std::pair{std::uint16_t(0x010e), &details.description},
                             std::pair{std::uint16_t(0x010f), &details.make},
                             std::pair{std::uint16_t(0x0110), &details.model}}) {
        if (!text->empty()) primary.push_back(asciiEntry(tag, *text));
    }
    primary.push_back(shortEntry(0x0112, std::uint16_t(exifOrientation(orientation))));
    primary.push_back(asciiEntry(0x0131, bundle.name() + " " + bundle.version()));
    primary.push_back(asciiEntry(0x0132, stamp));
    primary.push_back(longEntry(0x8769, 0));  // where the Exif directory starts: below
    primary.back() = longEntry(0x8769, 8 + ifdSize(primary));

    std::string tiff = "MM";
    put16(tiff, 42);
    put32(tiff, 8);
    writeIfd(tiff, primary);
    writeIfd(tiff, exif);
    return std::string("Exif\0\0", 6) + tiff;
}

// ---- files ----

}  // namespace

Result<fs::path> publishUnderFreeName(const std::string& temp, const fs::path& folder,
                                      const std::string& base, const std::string& extension) {
    bool canRename = true;
    for (int n = 1; n <= 10000; ++n) {
        fs::path target = folder / (n == 1 ? base + "." + extension
                                           : base + "_" + std::to_string(n) + "." + extension);
        if (canRename) {
            if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
                return target;
            if (errno == EEXIST) continue;
            if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
                return fileError(errno, folder);
            canRename = false;  // a file system without it: a hard link is just as exclusive
        }
        if (link(temp.c_str(), target.c_str()) == 0) {
            unlink(temp.c_str());
            return target;
        }
        if (errno != EEXIST) return fileError(errno, folder);
    }
    return albumError(
        PhotoAlbumError::WriteFailed,
        format(tr("The folder %s has no free name for %s.").c_str(), folder.c_str(), base.c_str()),
        EEXIST);
}

std::string mediaBaseName(const std::string& prefix, std::chrono::system_clock::time_point when) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char name[32];
    std::strftime(name, sizeof name, "_%Y%m%d_%H%M%S", &local);
    return prefix + name;
}

void syncFolder(const fs::path& folder) {
    FileHandle handle(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (handle) fsync(handle.fd());
}

fs::path userMediaFolder(const std::string& kind, const std::string& fallback) {
    fs::path home = homeFolder();
    std::optional<fs::path> folder = folderFromCommand(kind);
    if (!folder) folder = folderFromUserDirs(kind, home);
    // Without a folder of their own the lookup answers the home folder itself.
    if (!folder || folder->lexically_normal() == home.lexically_normal()) folder = home / fallback;
    return *folder / "Flurio";
}

fs::path PhotoAlbum::defaultFolder() {
    if (const char* env = std::getenv("QUORBIT_PICTURES_DIR"); env && *env) return env;
    return userMediaFolder("PICTURES", "Pictures");
}

fs::path defaultVideosFolder() {
    if (const char* env = std::getenv("QUORBIT_VIDEOS_DIR"); env && *env) return env;
    return userMediaFolder("VIDEOS", "Videos");
}

PhotoAlbum::PhotoAlbum(std::optional<fs::path> folder) : _folder(std::move(folder)) {
    RunLoop::main();  // the creating thread's loop receives the completions
}

PhotoAlbum::~PhotoAlbum() {
    {
        std::lock_guard lock(_mutex);
        _stopping = true;
    }
    _wake.notify_all();
    if (_worker.joinable()) _worker.join();
}

void PhotoAlbum::writeImageToSavedPhotosAlbum(Image image, ImageOrientation orientation,
                                              Completion completion, PhotoDetails details) {
    {
        std::lock_guard lock(_mutex);
        _jobs.push_back(Job{std::move(image), orientation, std::move(completion),
                            std::chrono::system_clock::now(), std::move(details)});
        if (!_worker.joinable()) _worker = std::thread([this] { work(); });
    }
    _wake.notify_all();
}

void PhotoAlbum::work() {
    std::unique_lock lock(_mutex);
    for (;;) {
        _wake.wait(lock, [this] { return _stopping || !_jobs.empty(); });
        if (_jobs.empty()) return;  // stopping, and everything handed over is written
        Job job = std::move(_jobs.front());
        _jobs.pop_front();
        lock.unlock();
        auto result = std::make_shared<Result<fs::path>>(store(job));
        if (!result->ok()) Log::warn("photo not saved: " + result->error().localizedDescription());
        if (job.completion)
            RunLoop::main().post(
                [completion = std::move(job.completion), result] { completion(*result); });
        lock.lock();
    }
}

Result<fs::path> PhotoAlbum::store(const Job& job) {
    if (!_folder) _folder = defaultFolder();
    const fs::path& folder = *_folder;

    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return folderError(ec.value(), folder);
    if (!fs::is_directory(folder, ec)) return folderError(ENOTDIR, folder);

    auto jpeg = ImageCodec::encodeJpeg(
        job.image, job.details.jpegQuality,
        exifBlock(job.orientation, job.taken, job.image.width(), job.image.height(), job.details));
    if (!jpeg)
        return albumError(PhotoAlbumError::EncodingFailed,
                          format(tr("The photo could not be encoded (%s).").c_str(),
                                 jpeg.error().localizedDescription().c_str()),
                          0);

    std::string temp = (folder / ".flurio-XXXXXX").string();
    FileHandle file(mkostemp(temp.data(), O_CLOEXEC));
    int fd = file.fd();
    if (!file) return fileError(errno, folder);
    auto fail = [&](int err) {
        file.reset();
        unlink(temp.c_str());
        return fileError(err, folder);
    };
    if (fchmod(fd, 0644) != 0) return fail(errno);
    const char* data = jpeg->data();
    size_t left = jpeg->size();
    while (left > 0) {
        ssize_t n = write(fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(errno);
        data += n;
        left -= size_t(n);
    }
    if (fsync(fd) != 0) return fail(errno);
    if (auto closed = file.close(); !closed) return fail(closed.error().systemError());

    auto published = publishUnderFreeName(temp, folder, mediaBaseName("IMG", job.taken), "jpg");
    if (!published) {
        unlink(temp.c_str());
        return published;
    }
    syncFolder(folder);
    return published;
}

}  // namespace quorbit::platform
