#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/core/Error.h"
#include "platform/gfx/Image.h"

namespace quorbit::platform {

// How a stored picture must be turned to be seen upright; written into the photo as its Exif
// orientation tag, the pixels themselves are stored as given.
enum class ImageOrientation {
    Up = 0,             // as stored (Exif 1)
    Down = 1,           // half a turn (Exif 3)
    Left = 2,           // a quarter turn counter-clockwise (Exif 8)
    Right = 3,          // a quarter turn clockwise (Exif 6)
    UpMirrored = 4,     // mirrored left to right (Exif 2)
    DownMirrored = 5,   // mirrored top to bottom (Exif 4)
    LeftMirrored = 6,   // mirrored about the main diagonal (Exif 5)
    RightMirrored = 7,  // mirrored about the other diagonal (Exif 7)
};

// The Exif orientation value (1 to 8) of an orientation.
int exifOrientation(ImageOrientation orientation);

// Why a photo could not be saved; the codes of PhotoAlbum::kErrorDomain.
enum class PhotoAlbumError : long {
    FolderUnavailable = 1,  // the album folder does not exist and cannot be made
    NotWritable = 2,        // no permission to write there, or a read-only file system
    NoSpace = 3,            // the disk or the user's quota is full, or the file is too large
    EncodingFailed = 4,     // the picture could not be made into a JPEG (an empty image)
    WriteFailed = 5,        // any other failure of the file system
};

// What a photo's Exif block tells besides its orientation, size, program and time, and how
// it is encoded. Empty texts are left out of the block.
struct PhotoDetails {
    std::string make;         // the camera's maker
    std::string model;        // the camera's model (its name where the maker is not known)
    std::string description;  // what the photo is: the look it was taken with, "Thermal"
    int jpegQuality = 95;     // 1..100
};

// The photo album: a folder of JPEG photos (quality 95 unless told otherwise, with an Exif
// block carrying the orientation, the size, the program, the time the photo was taken and the
// details the caller gives).
//
// Photos are written on the album's own worker thread, one at a time, in the order they were
// handed over. Each photo is written to a hidden temporary file in the album folder, flushed
// to the disk and then given its final name in one step that never replaces an existing file,
// so that no reader ever sees half a photo and no photo is ever overwritten. Names follow the
// time the photo was taken ("IMG_20240131_142502.jpg"); a name already taken gets a number
// ("IMG_20240131_142502_2.jpg").
//
// Completions run on the main thread's run loop, with the new file's path or an Error of
// kErrorDomain whose description says why in words fit for the user (its underlying error
// carries the system's errno in the "posix" domain).
class PhotoAlbum {
  public:
    static constexpr const char* kErrorDomain = "quorbit.photo-album";
    using Completion = std::function<void(const Result<std::filesystem::path>&)>;

    // The album in folder, made when the first photo is written; without one, the album is
    // defaultFolder(), looked up then too.
    explicit PhotoAlbum(std::optional<std::filesystem::path> folder = std::nullopt);
    // Finishes writing every photo already handed over (nothing is lost); their completions
    // still reach the main run loop.
    virtual ~PhotoAlbum();
    PhotoAlbum(const PhotoAlbum&) = delete;
    PhotoAlbum& operator=(const PhotoAlbum&) = delete;

    // $QUORBIT_PICTURES_DIR when set; else "Flurio" in the user's pictures folder as
    // `xdg-user-dir PICTURES` gives it (read from the user-dirs.dirs file when that command
    // is missing), or in ~/Pictures when the user has no pictures folder of their own.
    static std::filesystem::path defaultFolder();

    // Hands image over to be written with orientation; returns at once. completion (may be
    // empty) runs on the main thread when the photo is safely on disk or has failed.
    void writeImageToSavedPhotosAlbum(Image image, ImageOrientation orientation,
                                      Completion completion, PhotoDetails details = {});

  private:
    struct Job {
        Image image;
        ImageOrientation orientation;
        Completion completion;
        std::chrono::system_clock::time_point taken;
        PhotoDetails details;
    };

    void work();
    Result<std::filesystem::path> store(const Job& job);

    std::optional<std::filesystem::path> _folder;  // worker thread only once it runs
    std::mutex _mutex;
    std::condition_variable _wake;
    std::deque<Job> _jobs;
    bool _stopping = false;
    std::thread _worker;
};

constexpr const char* errorDomain(PhotoAlbumError) {
    return PhotoAlbum::kErrorDomain;
}

// "Flurio" in the user's folder of a kind ("PICTURES", "VIDEOS") as `xdg-user-dir KIND` gives
// it (read from the user-dirs.dirs file when that command is missing), or in ~/fallback when
// the user has no such folder of their own.
std::filesystem::path userMediaFolder(const std::string& kind, const std::string& fallback);
// $QUORBIT_VIDEOS_DIR when set; else "Flurio" in the user's videos folder (userMediaFolder).
std::filesystem::path defaultVideosFolder();

// PREFIX_YYYYMMDD_HHMMSS in local time: the name a photo ("IMG") or clip ("VID") taken then
// is given.
std::string mediaBaseName(const std::string& prefix, std::chrono::system_clock::time_point when);
// Flushes a folder's entries (a name just given in it) to the disk.
void syncFolder(const std::filesystem::path& folder);

// Gives the finished temporary file temp the first free name of the series base.extension,
// base_2.extension, ... in folder, in one step that never replaces a file. The new path, or
// an error of PhotoAlbum::kErrorDomain that says why.
Result<std::filesystem::path> publishUnderFreeName(const std::string& temp,
                                                   const std::filesystem::path& folder,
                                                   const std::string& base,
                                                   const std::string& extension);

}  // namespace quorbit::platform
