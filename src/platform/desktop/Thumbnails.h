#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/core/Error.h"
#include "platform/desktop/PhotoFolder.h"
#include "platform/gfx/Image.h"

namespace quorbit::platform {

// The desktop's shared thumbnail cache, as file managers and image viewers keep it: PNGs of
// at most 128 x 128 pixels in $XDG_CACHE_HOME/thumbnails/normal, or 256 x 256 in .../large for
// larger cells (~/.cache when the variable
// is unset), each named by the MD5 (lower-case hex) of its picture's file URI and carrying
// that URI and the picture's modification time (seconds) in its Thumb::URI and Thumb::MTime
// text chunks. A thumbnail whose time is not the picture's is out of date and made again.
// Thumbnails are written through a temporary file and a rename, readable by the user alone.
// A picture that cannot be decoded gets a mark in thumbnails/fail/flurio, with the same name
// and chunks, and is not decoded again until its time changes.
namespace Thumbnails {

inline constexpr int kNormalSize = 128;
// Thumbnails for larger cells (a dense screen): at most 256 x 256, in thumbnails/large.
inline constexpr int kLargeSize = 256;
// The size of the cache's folders that serves cells of side pixels.
inline int sizeFor(double side) {
    return side > kNormalSize ? kLargeSize : kNormalSize;
}
inline constexpr const char* kFailureFolder = "flurio";

// The cache folder, from the environment as it is now.
// The cache folder of a size (kNormalSize: "normal", kLargeSize: "large").
std::filesystem::path cacheFolder(int size = kNormalSize);
// "file://" and the absolute path, percent-encoded as GLib writes file URIs.
std::string fileUri(const std::filesystem::path& path);
// The MD5 of bytes as 32 lower-case hex digits.
std::string md5Hex(std::string_view bytes);
// Where the thumbnail of the picture at path lies in the cache.
std::filesystem::path cachePath(const std::filesystem::path& path, int size = kNormalSize);
// Where the mark of a picture that could not be decoded lies.
std::filesystem::path failurePath(const std::filesystem::path& path);

// How a clip's first picture is read (GStreamer, which the layer that records clips brings):
// clip, and the size its shorter side is scaled down to (0: whole). Without one, clips have
// no thumbnail.
using ClipFrameReader =
    std::function<Result<Image>(const std::filesystem::path& clip, int minSide)>;
void setClipFrameReader(ClipFrameReader reader);
// A picture for showing: a photo read at a reduced scale (ImageCodec::readFileScaled), or a
// clip's first picture.
Result<Image> readPicture(const std::filesystem::path& path, int minSide);

// The cached thumbnail of the picture, when there is one for this modification time.
std::optional<Image> cached(const std::filesystem::path& path, std::int64_t mtime,
                            int size = kNormalSize);
// Decodes the picture (a JPEG at a reduced scale, never whole where that is larger) into a
// thumbnail and stores it in the cache; an error for a picture that cannot be read (its
// thumbnail still comes when only storing it failed).
Result<Image> make(const std::filesystem::path& path, std::int64_t mtime, int size = kNormalSize);
// The cached thumbnail, else a new one; an error without decoding for a picture marked as
// failed at this modification time.
Result<Image> load(const std::filesystem::path& path, std::int64_t mtime, int size = kNormalSize);
// How many pictures make() has decoded since the program started.
std::uint64_t decodeCount();

}  // namespace Thumbnails

// Loads thumbnails (Thumbnails::load) on worker threads of its own (two where there are two
// cores), started in the order asked,
// and hands each to its completion on the main thread's run loop: the thumbnail, or null
// for a picture that could not be read (a damaged or empty file). No completion runs once
// the loader is gone, nor for a request cancelled before its answer ran.
class ThumbnailLoader {
  public:
    using Completion = std::function<void(std::shared_ptr<const Image> thumbnail)>;

    ThumbnailLoader();
    // Stops after the picture being read now; requests still waiting are dropped.
    ~ThumbnailLoader();
    ThumbnailLoader(const ThumbnailLoader&) = delete;
    ThumbnailLoader& operator=(const ThumbnailLoader&) = delete;

    // size: Thumbnails::kNormalSize or kLargeSize.
    void request(const PhotoItem& item, Completion completion, int size = Thumbnails::kNormalSize);
    // Makes the picture's thumbnail in the cache where it is missing, once no request waits:
    // the rest of an album, ready before it is scrolled to. Nothing comes back.
    void prepare(const PhotoItem& item, int size = Thumbnails::kNormalSize);
    // Drops every request and preparation asked so far, answered or not.
    void cancelAll();

  private:
    struct Job {
        PhotoItem item;
        Completion completion;
        std::uint64_t generation;
        int size;
    };
    void work();
    void startWorkers();  // with _mutex held

    std::mutex _mutex;
    std::condition_variable _wake;
    std::deque<Job> _jobs;
    std::deque<std::pair<PhotoItem, int>> _background;
    bool _stopping = false;
    std::vector<std::thread> _workers;
    // Answers check it on the main thread: a newer generation, or a loader gone, drops them.
    std::shared_ptr<std::uint64_t> _generation = std::make_shared<std::uint64_t>(0);
};

}  // namespace quorbit::platform
