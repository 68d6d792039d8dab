#pragma once

#include "platform/ui/ActivityIndicator.h"

#include <chrono>
#include <filesystem>
#include <memory>

#include "platform/core/RunLoop.h"
#include "platform/gfx/Image.h"
#include "platform/ui/Button.h"

namespace quorbit::camera_screen {

// Told when the last-photo thumbnail is touched.
class LastPictureButtonDelegate {
  public:
    virtual ~LastPictureButtonDelegate() = default;
    virtual void showSharingWindow() = 0;
    // A long press or a right click: the album.
    virtual void showAlbum() = 0;
};

// The last-photo thumbnail in the control bar: the last photo taken, cropped into a rounded
// square (a picture-frame glyph before the first photo). A touch that ends on it, after
// beginning on it, sends showSharingWindow to the delegate; one held still on it for
// kLongPress, or a right click, sends showAlbum instead.
class LastPictureButtonViewController : public platform::Button {
  public:
    static constexpr std::chrono::milliseconds kLongPress{500};

    explicit LastPictureButtonViewController(platform::Rect frame = {});

    // Not owned.
    LastPictureButtonDelegate* delegate() const { return _delegate; }
    void setDelegate(LastPictureButtonDelegate* delegate) { _delegate = delegate; }

    // The photo shown; null before the first one.
    const std::shared_ptr<const platform::Image>& image() const { return _image; }
    void setImage(std::shared_ptr<const platform::Image> image);
    // The last thing taken is a clip at this path (image its first frame, shown with a play
    // mark); empty for a photo. Set after setImage, which forgets it.
    const std::filesystem::path& clip() const { return _clip; }
    void setClip(std::filesystem::path clip);
    // A spinning indicator over the thumbnail ("saving") while its photo is being written.
    void setSaving(bool saving);
    bool isSaving() const { return _saving && _saving->isAnimating(); }
    void layoutSubviews() override;

    void touchesBegan(const std::vector<platform::Touch>& touches) override;
    void touchesMoved(const std::vector<platform::Touch>& touches) override;
    void touchesEnded(const std::vector<platform::Touch>& touches) override;
    void touchesCancelled(const std::vector<platform::Touch>& touches) override;
    bool secondaryClick(platform::Point windowLocation) override;
    void draw(platform::Canvas& canvas) override;

  private:
    void longPressed();

    platform::RunLoopHandle _longPressTimer;
    bool _longPressDone = false;  // the touch down now has opened the album
    LastPictureButtonDelegate* _delegate = nullptr;
    std::shared_ptr<const platform::Image> _image;
    std::filesystem::path _clip;
    std::shared_ptr<platform::ActivityIndicator> _saving;  // made on first use
};

}  // namespace quorbit::camera_screen
