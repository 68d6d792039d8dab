#pragma once

#include <string>

namespace quorbit::controls {

// The stable names of the application's controls, for scripts, tests and assistive
// technology (View::setControlName). Screens and end-to-end scripts use these and no others,
// so that a renamed control breaks the build rather than a script.

// The camera screen.
inline constexpr const char* kShutter = "shutter";
inline constexpr const char* kFilters = "filters";
inline constexpr const char* kSettings = "settings";
inline constexpr const char* kSwapCamera = "swap-camera";
inline constexpr const char* kLastPhoto = "last-photo";
inline constexpr const char* kLiveView = "live-view";
inline constexpr const char* kCameraUnavailable = "camera-unavailable";
// The self-timer (off, 3 s, 10 s), its countdown over the live view, the screen flash of the
// front camera (off, on) and the white overlay it lights the screen with.
inline constexpr const char* kTimer = "timer";
inline constexpr const char* kCountdown = "countdown";
inline constexpr const char* kFlash = "flash";
inline constexpr const char* kScreenFlash = "screen-flash";
// The note that a full-size photo could not be taken, and the indicator on the last-photo
// thumbnail while a photo is being saved.
inline constexpr const char* kStillNote = "still-note";
inline constexpr const char* kSaving = "saving";
// Photo or video mode, and the running time shown while recording.
inline constexpr const char* kMode = "mode";
inline constexpr const char* kRecordingTime = "recording-time";
// The banner over the live view that says what a code in the picture holds.
inline constexpr const char* kCodeBanner = "code-banner";

// The filter picker: one preview per slot, and its close button.
inline constexpr const char* kPreviewPrefix = "preview-";
inline constexpr int kPreviewCount = 16;
inline std::string preview(int slot) {
    return kPreviewPrefix + std::to_string(slot);
}
inline constexpr const char* kPickerClose = "picker-close";

// The share screen and the settings screen.
inline constexpr const char* kShareBack = "share-back";
inline constexpr const char* kSharePhoto = "share-photo";
inline constexpr const char* kSettingsBack = "settings-back";
// The settings screen's camera rows: the photo size, the reading of codes.
inline constexpr const char* kPhotoSize = "photo-size";
inline constexpr const char* kDetectCodes = "detect-codes";
inline constexpr const char* kMirrorPhotos = "mirror-photos";
inline constexpr const char* kRecordSound = "record-sound";
// The Cancel button of the overlay shown while a photo is uploaded.
inline constexpr const char* kUploadCancel = "upload-cancel";

// The album: its grid, the cells of the grid (from 0, newest first), the note of an empty
// album, its back control.
inline constexpr const char* kAlbum = "album";
inline constexpr const char* kAlbumItemPrefix = "album-item-";
inline std::string albumItem(int index) {
    return kAlbumItemPrefix + std::to_string(index);
}
inline constexpr const char* kAlbumEmpty = "album-empty";
inline constexpr const char* kAlbumBack = "album-back";
// One photo of the album: the photo, its actions, the undo of a deletion, its back control.
inline constexpr const char* kAlbumPhoto = "album-photo";
inline constexpr const char* kAlbumShare = "album-share";
inline constexpr const char* kAlbumDelete = "album-delete";
inline constexpr const char* kAlbumOpenFolder = "album-open-folder";
inline constexpr const char* kAlbumUndo = "album-undo";
inline constexpr const char* kAlbumPhotoBack = "album-photo-back";

// The Facebook sign-in dialog's close button and its page.
inline constexpr const char* kFacebookDialogClose = "facebook-dialog-close";
inline constexpr const char* kFacebookDialogPage = "facebook-dialog-page";

}  // namespace quorbit::controls
