#include "platform/desktop/PhotoFolder.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/core/Text.h"

namespace quorbit::platform::PhotoFolder {
namespace fs = std::filesystem;

namespace {

Error folderError(PhotoFolderError code, const std::string& message, int err = 0) {
    return Error::make(code, message, err);
}

// The folders that may hold the photo's trash: the user's own (where GIO puts what lies on
// the same disk as the home folder) and the two kinds of trash at the top of its disk.
std::vector<fs::path> trashFolders(const fs::path& photo) {
    std::vector<fs::path> folders{fs::path(g_get_user_data_dir()) / "Trash"};
    struct stat st {};
    fs::path top = photo.parent_path();
    if (stat(top.c_str(), &st) != 0) return folders;
    dev_t device = st.st_dev;
    while (top.has_parent_path() && top != top.root_path()) {
        struct stat up {};
        if (stat(top.parent_path().c_str(), &up) != 0 || up.st_dev != device) break;
        top = top.parent_path();
    }
    std::string uid = std::to_string(getuid());
    folders.push_back(top / ".Trash" / uid);
    folders.push_back(top / (".Trash-" + uid));
    return folders;
}

// The Path line of a trash info file, percent-decoded.
std::optional<std::string> trashInfoPath(const fs::path& info) {
    std::ifstream in(info);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Path=", 0) != 0) continue;
        return percentDecode(trim(line.substr(5)));
    }
    return std::nullopt;
}

// The entry the trash holds for photo, the one trashed last where there are several.
std::optional<TrashedPhoto> findTrashed(const fs::path& photo) {
    std::optional<TrashedPhoto> best;
    std::int64_t bestTime = 0;
    for (const fs::path& folder : trashFolders(photo)) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder / "info", ec)) {
            const fs::path& info = entry.path();
            if (info.extension() != ".trashinfo") continue;
            auto recorded = trashInfoPath(info);
            if (!recorded) continue;
            // Absolute in the user's trash, relative to the disk's top in the others.
            bool topTrash = folder.filename().string().rfind(".Trash-", 0) == 0;
            fs::path top = topTrash ? folder.parent_path() : folder.parent_path().parent_path();
            fs::path original =
                fs::path(*recorded).is_absolute() ? fs::path(*recorded) : top / *recorded;
            if (original.lexically_normal() != photo.lexically_normal()) continue;
            struct stat st {};
            if (stat(info.c_str(), &st) != 0) continue;
            std::int64_t when = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
            if (best && when < bestTime) continue;
            bestTime = when;
            best = TrashedPhoto{photo, folder / "files" / info.stem(), info};
        }
    }
    return best;
}

}  // namespace

bool isPhotoName(const fs::path& name) {
    std::string file = name.filename().string();
    if (file.empty() || file.front() == '.') return false;
    std::string extension = lower(name.extension().string());
    return extension == ".jpg" || extension == ".jpeg" || extension == ".png" || isClipName(name);
}

bool isClipName(const fs::path& name) {
    std::string file = name.filename().string();
    if (file.empty() || file.front() == '.') return false;
    std::string extension = lower(name.extension().string());
    return extension == ".mp4" || extension == ".webm" || extension == ".mkv" ||
           extension == ".mov" || extension == ".m4v";
}

std::vector<PhotoItem> list(const fs::path& folder) {
    return list(std::vector<fs::path>{folder});
}

std::vector<PhotoItem> list(const std::vector<fs::path>& folders) {
    std::vector<PhotoItem> items;
    std::error_code ec;
    std::vector<fs::path> seen;
    for (const fs::path& folder : folders) {
        // The same folder given twice (videos kept with the photos) is read once.
        fs::path same = fs::weakly_canonical(folder, ec);
        if (std::find(seen.begin(), seen.end(), same) != seen.end()) continue;
        seen.push_back(same);
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            if (!isPhotoName(entry.path())) continue;
            struct stat st {};
            // A link to a picture counts; a link to a folder or a device does not.
            if (stat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            items.push_back(
                {entry.path(), std::int64_t(st.st_mtim.tv_sec), std::uint64_t(st.st_size)});
        }
    }
    std::sort(items.begin(), items.end(), [](const PhotoItem& a, const PhotoItem& b) {
        if (a.mtime != b.mtime) return a.mtime > b.mtime;
        return a.path.filename() > b.path.filename();
    });
    return items;
}

Result<TrashedPhoto> trash(const fs::path& photo) {
    fs::path absolute = fs::absolute(photo).lexically_normal();
    GFile* file = g_file_new_for_path(absolute.c_str());
    GError* error = nullptr;
    gboolean done = g_file_trash(file, nullptr, &error);
    g_object_unref(file);
    if (!done) {
        bool unsupported = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED);
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        return folderError(
            unsupported ? PhotoFolderError::TrashNotSupported : PhotoFolderError::Failed,
            absolute.string() + " could not be put in the trash: " + message);
    }
    if (auto found = findTrashed(absolute)) return *found;
    // In the trash, but where GIO put it is not known: it can be restored from the file
    // manager only.
    return folderError(PhotoFolderError::NotInTrash,
                       absolute.string() + " is in the trash, but its entry was not found");
}

Result<void> restore(const TrashedPhoto& trashed) {
    if (renameat2(AT_FDCWD, trashed.trashed.c_str(), AT_FDCWD, trashed.original.c_str(),
                  RENAME_NOREPLACE) != 0) {
        int err = errno;
        if (err == ENOENT)
            return folderError(PhotoFolderError::NotInTrash,
                               trashed.trashed.string() + " is no longer in the trash", err);
        return folderError(
            PhotoFolderError::Failed,
            trashed.original.string() + " could not be restored (" + std::strerror(err) + ")", err);
    }
    unlink(trashed.info.c_str());
    return {};
}

Result<void> remove(const fs::path& photo) {
    if (unlink(photo.c_str()) != 0) {
        int err = errno;
        return folderError(PhotoFolderError::Failed,
                           photo.string() + " could not be deleted (" + std::strerror(err) + ")",
                           err);
    }
    return {};
}

}  // namespace quorbit::platform::PhotoFolder
