#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "platform/core/Error.h"
#include "platform/desktop/PhotoAlbum.h"
#include "platform/gfx/Image.h"

namespace quorbit::share {

// What the photo library writer tells the camera screen, on the main thread, once for each
// photo it accepted. The writer takes photos again before either call.
class PhotoLibraryDelegate {
  public:
    virtual ~PhotoLibraryDelegate() = default;
    // The photo is safely in the album.
    virtual void photoFinishedSaving() = 0;
    // The photo could not be saved; error's description says why, in words for the user.
    virtual void photoFailedSaving(const platform::Error& error) = 0;
};

// Writes finished photos into the photo album, one at a time: while a photo is being written
// further photos are refused. When the write ends the writer is ready again and tells its
// baseViewController whether the photo landed.
class PhotoLibrary : public platform::PhotoAlbum,
                     public std::enable_shared_from_this<PhotoLibrary> {
  public:
    // A writer on the album in folder (the default album folder without one).
    static std::shared_ptr<PhotoLibrary> create(
        std::optional<std::filesystem::path> folder = std::nullopt);

    // True while none of this writer's photos is being written.
    bool isReady() const { return _isReady; }

    // Starts writing image with orientation (and details for its Exif block and encoding) and
    // returns true; returns false and writes nothing while an earlier photo is still being
    // written.
    bool savePhoto(platform::Image image, platform::ImageOrientation orientation,
                   platform::PhotoDetails details = {});

    // Told how each write ended; not owned. A writer that is destroyed first tells nobody,
    // though the photos it accepted are still written.
    PhotoLibraryDelegate* baseViewController() const { return _baseViewController; }
    void setBaseViewController(PhotoLibraryDelegate* controller) {
        _baseViewController = controller;
    }

    // Kept for callers of the album's interface; it does nothing.
    void grabLastPhoto() {}

  private:
    explicit PhotoLibrary(std::optional<std::filesystem::path> folder);
    void writeEnded(const platform::Result<std::filesystem::path>& result);

    bool _isReady = true;
    PhotoLibraryDelegate* _baseViewController = nullptr;
};

}  // namespace quorbit::share
