#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/core/RunLoop.h"
#include "platform/desktop/PhotoFolder.h"
#include "platform/gfx/Image.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "screens/share/ChildScreen.h"

namespace quorbit::album {

// Shares a photo: presents the share screen over presenter with the photo; for a clip, photo
// is its first frame and clip the file.
using ShareHandler =
    std::function<void(platform::ViewController& presenter,
                       std::shared_ptr<const platform::Image> photo, std::filesystem::path clip)>;

// One photo of the album at a time, filling the space above its actions with its aspect
// kept. Left and Right (and a swipe across the photo) go to the neighbours in the album's
// order. The actions: share (the share screen with this photo), delete (into the desktop's
// trash, with an Undo that brings it back for kUndoTime; where the folder has no trash, only
// after the user has confirmed that it is gone for good) and open the folder (in the file
// manager, through the URL opener). A clip shows its first frame with a play mark; a tap on it
// opens the clip in the desktop's video player (through the URL opener).
class PhotoPageViewController : public share::ChildScreen {
  public:
    static constexpr std::chrono::seconds kUndoTime{6};
    static constexpr double kActionBarHeight = 48;
    // Points a swipe must travel across to turn the page.
    static constexpr double kSwipeDistance = 50;
    // Photos are decoded at a reduced scale no smaller than this (pixels, longer side).
    static constexpr int kDisplaySide = 2048;

    // How photos leave the folder and come back; the desktop's trash unless changed.
    struct Trash {
        std::function<platform::Result<platform::PhotoFolder::TrashedPhoto>(
            const std::filesystem::path&)>
            trash = platform::PhotoFolder::trash;
        std::function<platform::Result<void>(const platform::PhotoFolder::TrashedPhoto&)> restore =
            platform::PhotoFolder::restore;
        std::function<platform::Result<void>(const std::filesystem::path&)> remove =
            platform::PhotoFolder::remove;
    };

    PhotoPageViewController(std::vector<platform::PhotoItem> items, std::size_t index,
                            std::filesystem::path folder);
    ~PhotoPageViewController() override;

    void setShareHandler(ShareHandler handler) { _shareHandler = std::move(handler); }
    void setTrash(Trash trash) { _trash = std::move(trash); }

    const std::vector<platform::PhotoItem>& items() const { return _items; }
    std::size_t index() const { return _index; }
    // The photo shown; null when it cannot be read (or none is left).
    const std::shared_ptr<const platform::Image>& currentPhoto() const { return _photo; }
    const std::shared_ptr<platform::ImageView>& photoView() const { return _photoView; }

    // Shows the photo at index (clamped into the album).
    void showPhoto(std::size_t index);
    // Moves by step photos; false at either end.
    bool turn(int step);
    void sharePhoto();
    void deletePhoto();
    // Whether a deletion can still be undone, and its undoing.
    bool canUndo() const { return _undo.has_value(); }
    void undoDelete();
    void openFolder();
    // Opens the clip shown in the desktop's player; nothing for a photo.
    void playClip();

    bool handleKey(const platform::KeyEvent& event) override;
    // A horizontal swipe over the photo, in points.
    void swiped(double dx, double dy);

  protected:
    void loadContent(platform::View& root, platform::Rect area) override;

  private:
    void showUndo();
    void hideUndo();
    // Takes the shown photo out of the list and shows its neighbour.
    void removeCurrent();
    void deleteForGood(const std::filesystem::path& path);

    std::vector<platform::PhotoItem> _items;
    std::size_t _index = 0;
    std::filesystem::path _folder;
    ShareHandler _shareHandler;
    Trash _trash;
    std::shared_ptr<const platform::Image> _photo;

    std::shared_ptr<platform::ImageView> _photoView;
    std::shared_ptr<platform::Label> _brokenNote;
    std::shared_ptr<platform::View> _undoBar;
    std::shared_ptr<platform::Label> _undoLabel;
    std::shared_ptr<platform::Button> _undoButton;
    std::vector<std::shared_ptr<platform::Button>> _actions;

    struct Undo {
        platform::PhotoItem item;
        std::size_t index;
        platform::PhotoFolder::TrashedPhoto trashed;
    };
    std::optional<Undo> _undo;
    platform::RunLoopHandle _undoTimer;
    // The photo waiting for the user's word that it may be deleted for good.
    std::optional<std::filesystem::path> _confirming;
    platform::AlertViewDelegate _confirmDelegate;
};

}  // namespace quorbit::album
