#include "screens/camera/CameraScreenLayout.h"

#include <algorithm>
#include <cmath>

namespace quorbit::camera_screen {

namespace {

// Each control's centre, from the shutter's along the bar, and its side. Controls are 44
// points apart, the shutter a little wider than the rest.
constexpr double kOffsets[CameraScreenLayout::kControlCount] = {-134, -90, -46, 0, 46, 90, 134};
constexpr double kSides[CameraScreenLayout::kControlCount] = {
    CameraScreenLayout::kThumbnailSide, CameraScreenLayout::kButtonSide,
    CameraScreenLayout::kButtonSide,    CameraScreenLayout::kShutterSide,
    CameraScreenLayout::kButtonSide,    CameraScreenLayout::kButtonSide,
    CameraScreenLayout::kButtonSide};

}  // namespace

platform::Rect fitCentred(platform::Size aspect, platform::Rect area) {
    if (aspect.width <= 0 || aspect.height <= 0 || area.isEmpty()) return {area.origin, {}};
    double scale = std::min(area.width() / aspect.width, area.height() / aspect.height);
    double w = aspect.width * scale, h = aspect.height * scale;
    return {area.minX() + (area.width() - w) / 2, area.minY() + (area.height() - h) / 2, w, h};
}

CameraScreenLayout CameraScreenLayout::make(platform::Size screen, platform::Size picture) {
    if (picture.width <= 0 || picture.height <= 0) picture = {3, 4};
    CameraScreenLayout layout;
    layout.portrait = screen.width < screen.height;
    double bar = std::min(kBarThickness, layout.portrait ? screen.height : screen.width);
    platform::Rect rest;
    platform::Point shutter;
    if (layout.portrait) {
        rest = {0, 0, screen.width, screen.height - bar};
        layout.controlBar = {0, screen.height - bar, screen.width, bar};
        shutter = {screen.width / 2, screen.height - bar / 2};
    } else {
        rest = {0, 0, screen.width - bar, screen.height};
        layout.controlBar = {screen.width - bar, 0, bar, screen.height};
        shutter = {screen.width - bar / 2, screen.height / 2};
    }
    // Whole points: a 320 x 480 window keeps its 320 x 427 live view at the top left.
    platform::Rect live = fitCentred(picture, rest);
    double x = std::round(live.minX()), y = std::round(live.minY());
    layout.liveView = {x, y, std::round(live.maxX()) - x, std::round(live.maxY()) - y};
    for (int i = 0; i < kControlCount; ++i) {
        platform::Point c = shutter;
        (layout.portrait ? c.x : c.y) += kOffsets[i];
        double side = kSides[i];
        layout.controls[size_t(i)] = {c.x - side / 2, c.y - side / 2, side, side};
    }
    return layout;
}

}  // namespace quorbit::camera_screen
