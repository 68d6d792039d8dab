#pragma once

#include <memory>

#include "platform/gfx/Image.h"
#include "platform/ui/ImageView.h"
#include "share/ChildScreen.h"

namespace quorbit::share {

// The share screen: the last photo taken, full width under a title bar, and a back control
// ("share-back"). Sharing the photo by e-mail or to Facebook is not offered yet.
class PhotoViewController : public ChildScreen {
  public:
    PhotoViewController();

    // The photo the screen shows and would share.
    const std::shared_ptr<const platform::Image>& currentImage() const { return _currentImage; }
    void changeImage(std::shared_ptr<const platform::Image> image);

    // The view showing the photo; made with the view.
    const std::shared_ptr<platform::ImageView>& photoView() const { return _photoView; }

  protected:
    void loadContent(platform::View& root, platform::Rect area) override;

  private:
    std::shared_ptr<const platform::Image> _currentImage;
    std::shared_ptr<platform::ImageView> _photoView;
};

}  // namespace quorbit::share
