#pragma once

#include <memory>
#include <string>

#include "platform/gfx/Image.h"
#include "platform/ui/View.h"

namespace quorbit::platform {

// Loads a PNG image resource by name ("close", "FBDialog.bundle/images/fbicon.png", ...) from
// the application bundle. A missing or unreadable file logs one clear line (once per name)
// and gives null; drawing null draws nothing.
std::shared_ptr<const Image> imageNamed(const std::string& name);

// Shows one image, scaled to the view's bounds according to its content mode.
class ImageView : public View {
  public:
    enum class ContentMode { ScaleToFill, ScaleAspectFit, ScaleAspectFill, Center };

    explicit ImageView(Rect frame = {});
    explicit ImageView(std::shared_ptr<const Image> image);

    std::shared_ptr<const Image> image() const { return _image; }
    void setImage(std::shared_ptr<const Image> image);
    ContentMode contentMode() const { return _contentMode; }
    void setContentMode(ContentMode mode);
    // The rectangle the image covers in the bounds.
    Rect imageRect() const;

    bool draws() const override { return true; }
    void draw(Canvas& canvas) override;

  private:
    std::shared_ptr<const Image> _image;
    ContentMode _contentMode = ContentMode::ScaleToFill;
};

}  // namespace quorbit::platform
