#include "screens/album/PhotoPageViewController.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "platform/core/Log.h"
#include "platform/core/Translate.h"
#include "platform/desktop/Thumbnails.h"
#include "platform/desktop/UrlOpener.h"
#include "platform/gfx/ImageCodec.h"
#include "platform/ui/ControlNames.h"
#include "screens/camera/ControlArt.h"

namespace quorbit::album {

namespace {

constexpr platform::Color kBar{0.13, 0.13, 0.15, 1};
constexpr platform::Color kAccent{1.0, 0.80, 0.16, 1};
constexpr platform::Color kText{0.96, 0.96, 0.97, 1};

// The photo, which also hears the swipes across it and the taps that play a clip.
class PhotoPane : public platform::ImageView {
  public:
    PhotoPane(platform::Rect frame, PhotoPageViewController& screen)
        : ImageView(frame), _screen(screen) {
        // Unlike a plain image view, this one answers touches.
        setUserInteractionEnabled(true);
    }
    void setClip(bool clip) {
        _clip = clip;
        setNeedsDisplay();
    }
    void draw(platform::Canvas& canvas) override {
        ImageView::draw(canvas);
        if (_clip && image())
            camera_screen::ControlArt::drawPlayMark(
                canvas, {bounds().midX(), bounds().midY()},
                std::min(bounds().width(), bounds().height()) * 0.12);
    }
    void touchesBegan(const std::vector<platform::Touch>&) override {}
    void touchesMoved(const std::vector<platform::Touch>&) override {}
    void touchesCancelled(const std::vector<platform::Touch>&) override {}
    void touchesEnded(const std::vector<platform::Touch>& touches) override {
        if (touches.empty()) return;
        const platform::Touch& touch = touches.front();
        double dx = touch.windowLocation.x - touch.initialWindowLocation.x;
        double dy = touch.windowLocation.y - touch.initialWindowLocation.y;
        if (_clip && std::hypot(dx, dy) < PhotoPageViewController::kSwipeDistance / 4)
            _screen.playClip();
        else
            _screen.swiped(dx, dy);
    }

  private:
    PhotoPageViewController& _screen;
    bool _clip = false;
};

}  // namespace

PhotoPageViewController::PhotoPageViewController(std::vector<platform::PhotoItem> items,
                                                 std::size_t index, std::filesystem::path folder)
    : ChildScreen(platform::trc("one photo of the album", "Photo"), controls::kAlbumPhotoBack),
      _items(std::move(items)),
      _index(index),
      _folder(std::move(folder)) {
    _confirmDelegate.clickedButtonAtIndex = [this](platform::AlertView&, int button) {
        auto path = std::move(_confirming);
        _confirming.reset();
        if (button == 1 && path) deleteForGood(*path);
    };
}

PhotoPageViewController::~PhotoPageViewController() {
    if (auto* alert = platform::AlertView::visibleAlert();
        alert && alert->delegate() == &_confirmDelegate)
        alert->setDelegate(nullptr);
}

void PhotoPageViewController::loadContent(platform::View& root, platform::Rect area) {
    platform::Rect photoArea(area.minX(), area.minY(), area.width(),
                             area.height() - kActionBarHeight);
    _photoView = std::make_shared<PhotoPane>(photoArea, *this);
    _photoView->setContentMode(platform::ImageView::ContentMode::ScaleAspectFit);
    _photoView->setBackgroundColor(platform::Color::black());
    _photoView->setControlName(controls::kAlbumPhoto);
    _photoView->setAutoresizingMask(platform::View::FlexibleWidth | platform::View::FlexibleHeight);
    root.addSubview(_photoView);

    _brokenNote = std::make_shared<platform::Label>(
        platform::Rect(photoArea.minX() + 20, photoArea.midY() - 30, photoArea.width() - 40, 60));
    _brokenNote->setText(platform::tr("This photo cannot be shown."));
    _brokenNote->setTextColor(kText);
    _brokenNote->setTextAlignment(platform::TextAlignment::Center);
    _brokenNote->setNumberOfLines(0);
    _brokenNote->setBackgroundColor(std::nullopt);
    _brokenNote->setOpaque(false);
    _brokenNote->setUserInteractionEnabled(false);
    _brokenNote->setAutoresizingMask(platform::View::FlexibleWidth |
                                     platform::View::FlexibleTopMargin |
                                     platform::View::FlexibleBottomMargin);
    _brokenNote->setHidden(true);
    root.addSubview(_brokenNote);

    auto bar = std::make_shared<platform::View>(platform::Rect(
        area.minX(), area.maxY() - kActionBarHeight, area.width(), kActionBarHeight));
    bar->setBackgroundColor(kBar);
    bar->setAutoresizingMask(platform::View::FlexibleWidth | platform::View::FlexibleTopMargin);
    root.addSubview(bar);
    const std::pair<std::string, const char*> actions[] = {
        {platform::trc("share a photo", "Share"), controls::kAlbumShare},
        {platform::trc("delete a photo", "Delete"), controls::kAlbumDelete},
        {platform::tr("Open Folder"), controls::kAlbumOpenFolder}};
    double width = area.width() / std::size(actions);
    _actions.clear();
    for (std::size_t i = 0; i < std::size(actions); ++i) {
        auto button = platform::Button::create(
            platform::Button::Type::Custom,
            platform::Rect(std::floor(i * width), 4, std::floor(width), kActionBarHeight - 8));
        button->setTitle(actions[i].first);
        button->setTitleColor(kAccent);
        button->setControlName(actions[i].second);
        button->setAutoresizingMask(platform::View::FlexibleWidth |
                                    platform::View::FlexibleLeftMargin |
                                    platform::View::FlexibleRightMargin);
        bar->addSubview(button);
        _actions.push_back(button);
    }
    _actions[0]->addAction([this](platform::Button&) { sharePhoto(); });
    _actions[1]->addAction([this](platform::Button&) { deletePhoto(); });
    _actions[2]->addAction([this](platform::Button&) { openFolder(); });

    // The undo bar lies over the bottom of the photo while a deletion can be undone.
    _undoBar = std::make_shared<platform::View>(
        platform::Rect(area.minX(), photoArea.maxY() - 44, area.width(), 44));
    _undoBar->setBackgroundColor(platform::Color{0, 0, 0, 0.75});
    _undoBar->setAutoresizingMask(platform::View::FlexibleWidth |
                                  platform::View::FlexibleTopMargin);
    _undoBar->setHidden(true);
    root.addSubview(_undoBar);
    _undoLabel = std::make_shared<platform::Label>(platform::Rect(12, 0, area.width() - 112, 44));
    _undoLabel->setText(platform::tr("Photo moved to the trash"));
    _undoLabel->setTextColor(kText);
    _undoLabel->setFont(platform::Font::system(15));
    _undoLabel->setBackgroundColor(std::nullopt);
    _undoLabel->setOpaque(false);
    _undoLabel->setAutoresizingMask(platform::View::FlexibleWidth);
    _undoBar->addSubview(_undoLabel);
    _undoButton = platform::Button::create(platform::Button::Type::Custom,
                                           platform::Rect(area.width() - 96, 4, 88, 36));
    _undoButton->setTitle(platform::tr("Undo"));
    _undoButton->setTitleColor(kAccent);
    _undoButton->setControlName(controls::kAlbumUndo);
    _undoButton->setAutoresizingMask(platform::View::FlexibleLeftMargin);
    _undoButton->addAction([this](platform::Button&) { undoDelete(); });
    _undoBar->addSubview(_undoButton);

    showPhoto(_index);
}

void PhotoPageViewController::showPhoto(std::size_t index) {
    _photo.reset();
    if (!_items.empty()) {
        _index = std::min(index, _items.size() - 1);
        auto decoded = platform::Thumbnails::readPicture(_items[_index].path, kDisplaySide);
        if (decoded)
            _photo = std::make_shared<const platform::Image>(std::move(decoded).value());
        else
            platform::Log::info("cannot show " + _items[_index].path.string() + ": " +
                                decoded.error().localizedDescription());
    } else {
        _index = 0;
    }
    if (!_photoView) return;  // made with the view, which shows the photo then
    _photoView->setImage(_photo);
    static_cast<PhotoPane&>(*_photoView).setClip(!_items.empty() && _items[_index].clip());
    _brokenNote->setHidden(_photo || _items.empty());
    _actions[0]->setEnabled(_photo != nullptr);
    _actions[1]->setEnabled(!_items.empty());
}

bool PhotoPageViewController::turn(int step) {
    long next = long(_index) + step;
    if (_items.empty() || next < 0 || next >= long(_items.size())) return false;
    showPhoto(std::size_t(next));
    return true;
}

bool PhotoPageViewController::handleKey(const platform::KeyEvent& event) {
    using Key = platform::KeyEvent::Key;
    if (event.control || event.alt || event.meta) return false;
    if (event.key == Key::Left || event.key == Key::Right) {
        turn(event.key == Key::Left ? -1 : 1);
        return true;
    }
    return ChildScreen::handleKey(event);
}

void PhotoPageViewController::swiped(double dx, double dy) {
    if (std::abs(dx) < kSwipeDistance || std::abs(dx) < std::abs(dy)) return;
    // The finger drags the photo: leftwards brings the next one in from the right.
    turn(dx < 0 ? 1 : -1);
}

void PhotoPageViewController::sharePhoto() {
    if (_items.empty() || !_photo || !_shareHandler) return;
    // The photo at its full size, upright, not the smaller picture shown, where it can be
    // read whole.
    const platform::PhotoItem& item = _items[_index];
    if (item.clip()) {
        _shareHandler(*this, _photo, item.path);
        return;
    }
    std::shared_ptr<const platform::Image> photo = _photo;
    if (auto whole = platform::ImageCodec::readFileScaled(item.path, 0))
        photo = std::make_shared<const platform::Image>(std::move(whole).value());
    _shareHandler(*this, std::move(photo), {});
}

void PhotoPageViewController::openFolder() {
    // The folder of the picture shown: photos and clips may lie in folders of their own.
    std::filesystem::path folder = _items.empty() ? _folder : _items[_index].path.parent_path();
    std::string url = platform::Thumbnails::fileUri(folder);
    if (!platform::UrlOpener::shared().openURL(url))
        platform::AlertView::inform(platform::tr("Could not open the folder"), folder.string());
}

void PhotoPageViewController::playClip() {
    if (_items.empty() || !_items[_index].clip()) return;
    const std::filesystem::path& clip = _items[_index].path;
    if (!platform::UrlOpener::shared().openURL(platform::Thumbnails::fileUri(clip)))
        platform::AlertView::inform(platform::tr("Could not play the clip"), clip.string());
}

void PhotoPageViewController::removeCurrent() {
    if (_items.empty()) return;
    _items.erase(_items.begin() + long(_index));
    showPhoto(_index < _items.size() ? _index : (_index > 0 ? _index - 1 : 0));
}

void PhotoPageViewController::deletePhoto() {
    if (_items.empty()) return;
    platform::PhotoItem item = _items[_index];
    auto trashed = _trash.trash(item.path);
    if (trashed) {
        _undo = Undo{item, _index, *trashed};
        removeCurrent();
        showUndo();
        return;
    }
    const platform::Error& error = trashed.error();
    platform::Log::warn(error.localizedDescription());
    if (error.is(platform::PhotoFolderError::NotInTrash)) {
        // In the trash, but it cannot be brought back from here: the file manager can.
        removeCurrent();
        return;
    }
    if (error.is(platform::PhotoFolderError::TrashNotSupported)) {
        _confirming = item.path;
        platform::AlertView::create(
            platform::tr("Delete this photo for good?"),
            platform::tr("This folder has no trash: the photo cannot be brought back."),
            &_confirmDelegate, platform::tr("Cancel"), {platform::trc("delete a photo", "Delete")})
            ->show();
        return;
    }
    platform::AlertView::inform(platform::tr("Could not delete the photo"),
                                error.localizedDescription());
}

void PhotoPageViewController::deleteForGood(const std::filesystem::path& path) {
    auto removed = _trash.remove(path);
    if (!removed) {
        platform::AlertView::inform(platform::tr("Could not delete the photo"),
                                    removed.error().localizedDescription());
        return;
    }
    auto at = std::find_if(_items.begin(), _items.end(),
                           [&](const platform::PhotoItem& item) { return item.path == path; });
    if (at == _items.end()) return;
    _index = std::size_t(at - _items.begin());
    removeCurrent();
}

void PhotoPageViewController::showUndo() {
    if (!_undoBar) return;
    _undoBar->setHidden(false);
    _undoTimer = platform::RunLoop::main().timer(kUndoTime, [this] { hideUndo(); });
}

void PhotoPageViewController::hideUndo() {
    _undoTimer.reset();
    _undo.reset();
    if (_undoBar) _undoBar->setHidden(true);
}

void PhotoPageViewController::undoDelete() {
    if (!_undo) return;
    Undo undo = std::move(*_undo);
    hideUndo();
    auto restored = _trash.restore(undo.trashed);
    if (!restored) {
        platform::AlertView::inform(platform::tr("Could not restore the photo"),
                                    restored.error().localizedDescription());
        return;
    }
    std::size_t at = std::min(undo.index, _items.size());
    _items.insert(_items.begin() + long(at), undo.item);
    showPhoto(at);
}

}  // namespace quorbit::album
