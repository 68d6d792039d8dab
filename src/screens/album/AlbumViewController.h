#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop/PhotoFolder.h"
#include "platform/desktop/Thumbnails.h"
#include "platform/gfx/Image.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"
#include "screens/album/PhotoPageViewController.h"
#include "screens/share/ChildScreen.h"
#include "screens/share/ScreenHost.h"

namespace quorbit::album {

// One square of the grid: the photo's thumbnail cropped to fill it, a grey square while it
// loads, and a broken-picture mark for a photo that cannot be read.
class AlbumCell : public platform::Button {
  public:
    enum class State { Loading, Shown, Broken };
    explicit AlbumCell(platform::Rect frame = {});
    State cellState() const { return _state; }
    const std::shared_ptr<const platform::Image>& thumbnail() const { return _thumbnail; }
    // A thumbnail, or null for a photo that cannot be read.
    void setThumbnail(std::shared_ptr<const platform::Image> thumbnail);
    // A clip's cell carries a play mark.
    void setClip(bool clip) { _clip = clip; }
    void draw(platform::Canvas& canvas) override;

  private:
    State _state = State::Loading;
    bool _clip = false;
    std::shared_ptr<const platform::Image> _thumbnail;
};

// The album: the photos of the photo folder (platform::PhotoFolder, newest first) as square
// thumbnails in a grid of kMinColumns columns up to 480 points across, a column more for every
// kCellTarget points beyond, scrolled by dragging and by the wheel. The thumbnails come from
// the desktop's thumbnail cache, made on a worker thread where missing, for the cells in view
// and a window's height either side as the grid scrolls. A tap on a photo
// opens it alone (PhotoPageViewController); the grid is read again each time it appears.
// The grid is the control "album", its cells "album-item-N" (N from 0, newest first), the
// note of an empty album "album-empty", the back control "album-back".
class AlbumViewController : public share::ChildScreen, public share::ScreenHost {
  public:
    static constexpr int kMinColumns = 3;
    static constexpr double kCellTarget = 160;
    static constexpr double kSpacing = 2;
    // Points one wheel notch scrolls.
    static constexpr double kWheelStep = 60;
    // The album of folder; without one, PhotoAlbum::defaultFolder(), looked up on first use.
    explicit AlbumViewController(std::optional<std::filesystem::path> folder = std::nullopt);
    ~AlbumViewController() override;

    const std::filesystem::path& folder();
    // Where the clips are, shown with the photos; platform::defaultVideosFolder() unless set.
    const std::filesystem::path& clipFolder();
    void setClipFolder(std::filesystem::path folder) { _clipFolder = std::move(folder); }
    // The columns of a grid this wide (points).
    static int columnsForWidth(double width);
    int columns() const { return _columns; }

    void setShareHandler(ShareHandler handler) { _shareHandler = std::move(handler); }
    const ShareHandler& shareHandler() const { return _shareHandler; }

    // The photos as last read, and the cells showing them.
    const std::vector<platform::PhotoItem>& items() const { return _items; }
    const std::vector<std::shared_ptr<AlbumCell>>& cells() const { return _cells; }
    const std::shared_ptr<platform::ScrollView>& grid() const { return _grid; }
    // Reads the folder again and fills the grid.
    void reload();
    // Opens the photo at index alone.
    void openPhoto(std::size_t index);
    // The photo screen while it is up.
    const std::shared_ptr<PhotoPageViewController>& pageScreen() const { return _page; }

    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    bool handleWheel(int right, int down) override;
    // The photo screen has gone.
    void restart() override {}

  protected:
    void loadContent(platform::View& root, platform::Rect area) override;

  private:
    void layoutGrid();
    // Asks for the thumbnails of the cells in view and near it that have none yet.
    void loadVisibleThumbnails();
    void loadThumbnail(std::size_t index);

    std::optional<std::filesystem::path> _folder, _clipFolder;
    int _thumbnailSize = platform::Thumbnails::kNormalSize;  // for the cells' size in pixels
    ShareHandler _shareHandler;
    std::vector<platform::PhotoItem> _items;
    std::vector<std::shared_ptr<AlbumCell>> _cells;
    std::vector<bool> _requested;  // by cell: its thumbnail has been asked for
    std::shared_ptr<platform::ScrollView> _grid;
    std::shared_ptr<platform::Label> _empty;
    std::shared_ptr<PhotoPageViewController> _page;
    int _columns = kMinColumns;
    double _laidOutWidth = -1;
    std::unique_ptr<platform::ThumbnailLoader> _loader;
    // Thumbnails already had, by path, with the modification time they belong to (a null
    // picture: unreadable).
    struct Known {
        std::int64_t mtime;
        std::shared_ptr<const platform::Image> thumbnail;
    };
    std::map<std::filesystem::path, Known> _known;
};

}  // namespace quorbit::album
