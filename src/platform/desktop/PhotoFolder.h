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
    // Whether it is a clip rather than a photo.
    bool clip() const;
};

// Why a photo could not be put in the trash, brought back or deleted; the codes of
// PhotoFolder::kErrorDomain.
enum class PhotoFolderError : long {
    TrashNotSupported = 1,  // the file system has no trash: the photo can only be deleted
    Failed = 2,             // any other failure (the message says which)
    NotInTrash = 3,         // the trashed file is gone from the trash
};

// The photos of a folder, as the album shows them: every JPEG and PNG in it (by name:
// .jpg, .jpeg, .png in any case, whoever wrote them) and every clip (.mp4, .webm, .mkv, .mov,
// .m4v), newest first by modification time,
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
// The pictures of several folders (the photos' and the clips'), in one order.
std::vector<PhotoItem> list(const std::vector<std::filesystem::path>& folders);
// Whether name is that of a picture or clip the album shows, and whether of a clip.
bool isPhotoName(const std::filesystem::path& name);
bool isClipName(const std::filesystem::path& name);

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

inline bool PhotoItem::clip() const {
    return PhotoFolder::isClipName(path);
}

constexpr const char* errorDomain(PhotoFolderError) {
    return PhotoFolder::kErrorDomain;
}

}  // namespace quorbit::platform
