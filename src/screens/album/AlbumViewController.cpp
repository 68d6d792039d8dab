#include "screens/album/AlbumViewController.h"

#include <algorithm>
#include <cmath>

#include "platform/core/Translate.h"
#include "platform/desktop/PhotoAlbum.h"
#include "platform/ui/ControlNames.h"
#include "platform/ui/Window.h"
#include "recording/ClipFrames.h"
#include "screens/album/PhotoPageViewController.h"
#include "screens/camera/ControlArt.h"

namespace quorbit::album {

namespace {

constexpr platform::Color kCellBackground{0.16, 0.16, 0.18, 1};
constexpr platform::Color kMark{0.55, 0.55, 0.58, 1};

// The grid's scroll view, laying its cells out again whenever its size changes and telling
// when it has scrolled.
class GridView : public platform::ScrollView {
  public:
    GridView(platform::Rect frame, std::function<void()> layout, std::function<void()> scrolled)
        : ScrollView(frame), _layout(std::move(layout)), _scrolled(std::move(scrolled)) {}
    void layoutSubviews() override {
        ScrollView::layoutSubviews();
        if (_layout) _layout();
    }

  protected:
    void offsetDidChange() override {
        if (_scrolled) _scrolled();
    }

  private:
    std::function<void()> _layout, _scrolled;
};

}  // namespace

AlbumCell::AlbumCell(platform::Rect frame) : Button(frame, Type::Custom) {
    setOpaque(true);
}

void AlbumCell::setThumbnail(std::shared_ptr<const platform::Image> thumbnail) {
    _thumbnail = std::move(thumbnail);
    _state = _thumbnail && !_thumbnail->empty() ? State::Shown : State::Broken;
    setNeedsDisplay();
}

void AlbumCell::draw(platform::Canvas& canvas) {
    platform::Rect square = bounds();
    canvas.save();
    canvas.clipToRect(square);
    canvas.fillRect(square, kCellBackground);
    if (_state == State::Shown) {
        // Cropped to fill the square about the picture's centre.
        double k = square.width() / std::min(_thumbnail->width(), _thumbnail->height());
        double w = _thumbnail->width() * k, h = _thumbnail->height() * k;
        canvas.drawImage(*_thumbnail,
                         platform::Rect(square.midX() - w / 2, square.midY() - h / 2, w, h));
    } else if (_state == State::Broken) {
        // A picture frame crossed out.
        platform::Rect mark = square.insetBy(square.width() * 0.3, square.height() * 0.3);
        canvas.setLineWidth(std::max(1.5, square.width() / 50));
        canvas.strokeRect(mark, kMark);
        canvas.beginPath();
        canvas.moveTo({mark.minX(), mark.maxY()});
        canvas.lineTo({mark.maxX(), mark.minY()});
        canvas.stroke(kMark);
    }
    if (_clip && _state == State::Shown)
        camera_screen::ControlArt::drawPlayMark(canvas, {square.midX(), square.midY()},
                                                square.width() * 0.18);
    if (isHighlighted()) canvas.fillRect(square, platform::Color{0, 0, 0, 0.35});
    canvas.restore();
}

AlbumViewController::AlbumViewController(std::optional<std::filesystem::path> folder)
    : ChildScreen(platform::trc("album screen title", "Album"), controls::kAlbumBack),
      _folder(std::move(folder)) {
    // Clips get their thumbnails and pictures from their first frame.
    platform::Thumbnails::setClipFrameReader(recording::readFirstFrame);
}

AlbumViewController::~AlbumViewController() {
    // No thumbnail answer reaches the cells once the screen goes.
    _loader.reset();
    if (_page) _page->setBaseViewController(nullptr);
}

const std::filesystem::path& AlbumViewController::folder() {
    if (!_folder) _folder = platform::PhotoAlbum::defaultFolder();
    return *_folder;
}

const std::filesystem::path& AlbumViewController::clipFolder() {
    if (!_clipFolder) _clipFolder = platform::defaultVideosFolder();
    return *_clipFolder;
}

int AlbumViewController::columnsForWidth(double width) {
    // Three columns on a phone-sized window (up to 480 points), one more for every
    // kCellTarget points beyond: the cells stay about that size on wide windows.
    return std::max(kMinColumns, int(std::floor(width / kCellTarget)));
}

void AlbumViewController::loadContent(platform::View& root, platform::Rect area) {
    _grid = std::make_shared<GridView>(
        area, [this] { layoutGrid(); }, [this] { loadVisibleThumbnails(); });
    _grid->setControlName(controls::kAlbum);
    _grid->setBackgroundColor(platform::Color{0.08, 0.08, 0.09, 1});
    _grid->setAlwaysBounceVertical(true);
    _grid->setClipsToBounds(true);
    _grid->setAutoresizingMask(platform::View::FlexibleWidth | platform::View::FlexibleHeight);
    root.addSubview(_grid);

    _empty = std::make_shared<platform::Label>(
        platform::Rect(area.minX() + 20, area.minY() + 40, area.width() - 40, 60));
    _empty->setControlName(controls::kAlbumEmpty);
    _empty->setText(platform::tr("No photos yet"));
    _empty->setFont(platform::Font::system(18));
    _empty->setTextColor(platform::Color{0.75, 0.75, 0.78, 1});
    _empty->setTextAlignment(platform::TextAlignment::Center);
    _empty->setBackgroundColor(std::nullopt);
    _empty->setOpaque(false);
    _empty->setUserInteractionEnabled(false);
    _empty->setAutoresizingMask(platform::View::FlexibleWidth);
    _empty->setHidden(true);
    root.addSubview(_empty);
}

void AlbumViewController::viewWillAppear(bool animated) {
    ChildScreen::viewWillAppear(animated);
    reload();
}

void AlbumViewController::viewDidAppear(bool animated) {
    ChildScreen::viewDidAppear(animated);
    // Back from the photo screen: its photo (up to a few dozen megabytes) goes with it.
    if (!modalViewController()) _page.reset();
}

void AlbumViewController::viewDidDisappear(bool animated) {
    // Covered by the photo screen the grid stays; closed, its loading stops.
    if (!modalViewController() && _loader) _loader->cancelAll();
    ChildScreen::viewDidDisappear(animated);
}

void AlbumViewController::reload() {
    view();
    _items = platform::PhotoFolder::list({folder(), clipFolder()});
    if (_loader) _loader->cancelAll();
    for (const auto& cell : _cells)
        cell->removeFromSuperview();
    _cells.clear();
    // Thumbnails of photos no longer in the folder are let go.
    std::map<std::filesystem::path, Known> kept;
    for (const auto& item : _items)
        if (auto found = _known.find(item.path);
            found != _known.end() && found->second.mtime == item.mtime)
            kept.insert(*found);
    _known = std::move(kept);

    _requested.assign(_items.size(), false);
    for (std::size_t i = 0; i < _items.size(); ++i) {
        auto cell = std::make_shared<AlbumCell>();
        cell->setControlName(controls::albumItem(int(i)));
        cell->setClip(_items[i].clip());
        cell->addAction([this, i](platform::Button&) { openPhoto(i); });
        _grid->addSubview(cell);
        _cells.push_back(cell);
    }
    _empty->setHidden(!_items.empty());
    _laidOutWidth = -1;
    layoutGrid();
    // The rest of the album's thumbnails are made behind those in view, newest first, so
    // that scrolling finds them in the cache.
    if (!_loader) _loader = std::make_unique<platform::ThumbnailLoader>();
    for (std::size_t i = 0; i < _items.size(); ++i)
        if (!_requested[i] && !_known.count(_items[i].path))
            _loader->prepare(_items[i], _thumbnailSize);
}

void AlbumViewController::loadVisibleThumbnails() {
    if (!_grid || _laidOutWidth < 0) return;
    // What is in view and a window's height either side: scrolling finds them ready, and a
    // long album is never read all at once.
    double height = _grid->bounds().height();
    double top = _grid->contentOffset().y - height, bottom = _grid->contentOffset().y + 2 * height;
    for (std::size_t i = 0; i < std::min(_cells.size(), _requested.size()); ++i) {
        platform::Rect frame = _cells[i]->frame();
        if (_requested[i] || frame.maxY() < top || frame.minY() > bottom) continue;
        _requested[i] = true;
        loadThumbnail(i);
    }
}

void AlbumViewController::loadThumbnail(std::size_t index) {
    const platform::PhotoItem& item = _items[index];
    if (auto found = _known.find(item.path); found != _known.end()) {
        _cells[index]->setThumbnail(found->second.thumbnail);
        return;
    }
    if (!_loader) _loader = std::make_unique<platform::ThumbnailLoader>();
    std::weak_ptr<AlbumCell> cell = _cells[index];
    _loader->request(
        item,
        [this, cell, path = item.path,
         mtime = item.mtime](std::shared_ptr<const platform::Image> thumbnail) {
            _known[path] = Known{mtime, thumbnail};
            if (auto shown = cell.lock()) shown->setThumbnail(std::move(thumbnail));
        },
        _thumbnailSize);
}

void AlbumViewController::layoutGrid() {
    if (!_grid) return;
    double width = _grid->bounds().width();
    if (width == _laidOutWidth) return;
    _laidOutWidth = width;
    _columns = columnsForWidth(width);
    double side = std::floor((width - kSpacing * (_columns - 1)) / _columns);
    // Cells more than 128 pixels wide (wide windows, dense screens) get the large thumbnails.
    _thumbnailSize = platform::Thumbnails::sizeFor(side * platform::Window::screenScale());
    for (std::size_t i = 0; i < _cells.size(); ++i) {
        int row = int(i) / _columns, column = int(i) % _columns;
        _cells[i]->setFrame(
            platform::Rect(column * (side + kSpacing), row * (side + kSpacing), side, side));
    }
    int rows = (int(_cells.size()) + _columns - 1) / _columns;
    _grid->setContentSize({width, std::max(0.0, rows * (side + kSpacing) - kSpacing)});
    // A narrower or shorter grid keeps its offset inside the content.
    platform::Point offset = _grid->contentOffset();
    _grid->setContentOffset({0, std::min(offset.y, _grid->maximumContentOffset().y)});
    loadVisibleThumbnails();
}

bool AlbumViewController::handleWheel(int right, int down) {
    (void)right;
    if (!_grid || down == 0) return false;
    double y = _grid->contentOffset().y + down * kWheelStep;
    _grid->setContentOffset({0, std::clamp(y, 0.0, _grid->maximumContentOffset().y)});
    loadVisibleThumbnails();
    return true;
}

void AlbumViewController::openPhoto(std::size_t index) {
    if (index >= _items.size() || modalViewController() || isTransitioning()) return;
    _page = std::make_shared<PhotoPageViewController>(_items, index, folder());
    _page->setBaseViewController(this);
    _page->setShareHandler(_shareHandler);
    presentModalViewController(_page, false);
}

}  // namespace quorbit::album
