#include "screens/camera/ModeSwitch.h"

#include <algorithm>
#include <cmath>

#include "platform/core/Translate.h"
#include "platform/gfx/Canvas.h"
#include "screens/camera/ControlArt.h"

namespace quorbit::camera_screen {

namespace {

constexpr double kFontSize = 14, kPad = 12, kGap = 14;

platform::Font modeFont() {
    return platform::Font::boldSystem(kFontSize);
}

}  // namespace

ModeSwitch::ModeSwitch(platform::Rect frame) : platform::Button(frame) {
    setVideo(false);
}

void ModeSwitch::setVideo(bool video) {
    _video = video;
    setTitle(video ? platform::tr("Video") : platform::tr("Photo"));
    setNeedsDisplay();
}

platform::Size ModeSwitch::preferredSize() const {
    platform::Canvas measure(1, 1);
    platform::Size photo = measure.measureText(platform::tr("Photo"), modeFont());
    platform::Size video = measure.measureText(platform::tr("Video"), modeFont());
    return {std::ceil(photo.width + video.width + kGap + 2 * kPad),
            std::ceil(std::max(photo.height, video.height) + 10)};
}

void ModeSwitch::draw(platform::Canvas& canvas) {
    platform::Rect box = bounds();
    canvas.beginPath();
    canvas.addRoundedRect(box, box.height() / 2);
    canvas.fill(platform::Color{0, 0, 0, isHighlighted() ? 0.7 : 0.45});
    const std::string photo = platform::tr("Photo"), video = platform::tr("Video");
    platform::Font font = modeFont();
    platform::Size photoSize = canvas.measureText(photo, font);
    platform::Size videoSize = canvas.measureText(video, font);
    double width = photoSize.width + kGap + videoSize.width;
    double x = box.midX() - width / 2;
    double alpha = isEnabled() ? 1.0 : 0.4;
    auto colour = [&](bool chosen) {
        return (chosen ? ControlArt::kAccent : ControlArt::kGlyph).withAlpha(alpha);
    };
    canvas.drawText(photo, {x, box.midY() - photoSize.height / 2}, font, colour(!_video));
    canvas.drawText(video, {x + photoSize.width + kGap, box.midY() - videoSize.height / 2}, font,
                    colour(_video));
}

}  // namespace quorbit::camera_screen
