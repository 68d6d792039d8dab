#include "platform/ui/ImageView.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "platform/core/Bundle.h"
#include "platform/core/Log.h"
#include "platform/gfx/Canvas.h"
#include "platform/gfx/ImageCodec.h"

namespace quorbit::platform {

std::shared_ptr<const Image> imageNamed(const std::string& name) {
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<const Image>> cache;
    static std::set<std::string> reported;
    std::lock_guard<std::mutex> lock(mutex);
    if (auto it = cache.find(name); it != cache.end()) return it->second;

    std::filesystem::path relative(name);
    std::string stem = relative.stem().string();
    std::string type = relative.has_extension() ? relative.extension().string().substr(1) : "png";
    std::string subdir = relative.parent_path().string();
    auto path = Bundle::main().pathForResource(stem, type, subdir);
    std::shared_ptr<const Image> image;
    if (!path) {
        if (reported.insert(name).second) {
            Log::warn(format("image resource \"%s\" not found in %s; drawing nothing", name.c_str(),
                             Bundle::main().resourcesDir().c_str()));
        }
    } else if (auto decoded = ImageCodec::readFile(*path); !decoded) {
        if (reported.insert(name).second) {
            Log::warn(format("image resource \"%s\" is unreadable (%s); drawing nothing",
                             name.c_str(), decoded.error().localizedDescription().c_str()));
        }
    } else {
        image = std::make_shared<const Image>(std::move(decoded.value()));
    }
    if (image) cache[name] = image;
    return image;
}

ImageView::ImageView(Rect frame) : View(frame) {
    setOpaque(false);
    setUserInteractionEnabled(false);
}

ImageView::ImageView(std::shared_ptr<const Image> image)
    : ImageView(image ? Rect(0, 0, image->width(), image->height()) : Rect{}) {
    _image = std::move(image);
}

void ImageView::setImage(std::shared_ptr<const Image> image) {
    if (image == _image) return;
    _image = std::move(image);
    setNeedsDisplay();
}

void ImageView::setContentMode(ContentMode mode) {
    _contentMode = mode;
    setNeedsDisplay();
}

Rect ImageView::imageRect() const {
    Rect b = bounds();
    if (!_image || _image->empty()) return {};
    double iw = _image->width(), ih = _image->height();
    switch (_contentMode) {
        case ContentMode::ScaleToFill:
            return b;
        case ContentMode::ScaleAspectFit:
        case ContentMode::ScaleAspectFill: {
            double sx = b.width() / iw, sy = b.height() / ih;
            double s =
                _contentMode == ContentMode::ScaleAspectFit ? std::min(sx, sy) : std::max(sx, sy);
            double w = iw * s, h = ih * s;
            return {b.midX() - w / 2, b.midY() - h / 2, w, h};
        }
        case ContentMode::Center:
            return {b.midX() - iw / 2, b.midY() - ih / 2, iw, ih};
    }
    return b;
}

void ImageView::draw(Canvas& canvas) {
    if (!_image) return;
    canvas.save();
    canvas.clipToRect(bounds());
    canvas.drawImage(*_image, imageRect());
    canvas.restore();
}

}  // namespace quorbit::platform
