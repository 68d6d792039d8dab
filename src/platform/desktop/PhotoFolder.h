#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Error.h"

namespace quorbit::platform {

// One picture of the photo folder as it was when the folder was read.
struct PhotoItem {
    std::filesystem::path path;
    std::int64_t mtime = 0;  // last modification, seconds since the epoch
    std::uint64_t size = 0;  // bytes; 0 for an empty file (shown as a placeholder)
};

// Why a photo could not be put in the trash, brought back or deleted; the codes of
// PhotoFolder::kErrorDomain.
enum class PhotoFolderError : long {
    TrashNotSupported = 1,  // the file system has no trash: the photo can only be deleted
    Failed = 2,             // any other failure (the message says which)
    NotInTrash = 3,         // the trashed file is gone from the trash
};

// The photos of a folder, as the album shows them: every JPEG and PNG in it (by name:
// .jpg, .jpeg, .png in any case, whoever wrote them), newest first by modification time,
// equal times by name, the newer name first. Hidden files (the album's own temporary files)
// and anything but regular files are left out. Damaged or empty files are listed like the
// others: telling them apart is the reader's work.
//
// Deleting is done the desktop's way: the photo goes to the user's trash (GIO's g_file_trash,
// the trash the file manager shows and restores from), and can be brought back from there.
namespace PhotoFolder {

inline constexpr const char* kErrorDomain = "quorbit.photo-folder";

// The folder's photos; none when it is missing or unreadable.
std::vector<PhotoItem> list(const std::filesystem::path& folder);
// Whether name is that of a picture the album shows.
bool isPhotoName(const std::filesystem::path& name);

// A photo in the trash: where it lies there, and its trash info file.
struct TrashedPhoto {
    std::filesystem::path original;
    std::filesystem::path trashed;
    std::filesystem::path info;
};
// Moves the photo to the trash; TrashNotSupported where its file system has none.
Result<TrashedPhoto> trash(const std::filesystem::path& photo);
// Puts a trashed photo back where it was (never over a file that took its name meanwhile)
// and takes its entry out of the trash.
Result<void> restore(const TrashedPhoto& trashed);
// Deletes the photo for good.
Result<void> remove(const std::filesystem::path& photo);

}  // namespace PhotoFolder

constexpr const char* errorDomain(PhotoFolderError) {
    return PhotoFolder::kErrorDomain;
}

}  // namespace quorbit::platform
