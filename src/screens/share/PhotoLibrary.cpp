#include "screens/share/PhotoLibrary.h"

namespace quorbit::share {

std::shared_ptr<PhotoLibrary> PhotoLibrary::create(std::optional<std::filesystem::path> folder) {
    return std::shared_ptr<PhotoLibrary>(new PhotoLibrary(std::move(folder)));
}

PhotoLibrary::PhotoLibrary(std::optional<std::filesystem::path> folder)
    : PhotoAlbum(std::move(folder)) {}

bool PhotoLibrary::savePhoto(platform::Image image, platform::ImageOrientation orientation,
                             platform::PhotoDetails details) {
    if (!_isReady) return false;
    // The completion holds the writer weakly: a writer gone with its camera screen has nobody
    // left to tell, and the album finishes the write on its own.
    std::weak_ptr<PhotoLibrary> weak = weak_from_this();
    writeImageToSavedPhotosAlbum(
        std::move(image), orientation,
        [weak](const platform::Result<std::filesystem::path>& result) {
            if (auto self = weak.lock()) self->writeEnded(result);
        },
        std::move(details));
    _isReady = false;
    return true;
}

void PhotoLibrary::writeEnded(const platform::Result<std::filesystem::path>& result) {
    // Ready again either way: a failed write must not keep the camera from taking photos.
    _isReady = true;
    if (!_baseViewController) return;
    if (result.ok())
        _baseViewController->photoFinishedSaving();
    else
        _baseViewController->photoFailedSaving(result.error());
}

}  // namespace quorbit::share
