#pragma once

#include <array>

#include "platform/core/Geometry.h"

namespace quorbit::camera_screen {

// Where the camera screen's parts go in a window of any size, in points. In a portrait window
// (narrower than tall) the control bar runs along the bottom; in a landscape one it is a column
// on the right-hand side. The live view is the largest rectangle of the picture's aspect ratio
// that leaves the bar its room, centred in the rest of the window. The controls keep their
// order (left to right along a bar, top to bottom down a column) around the shutter in the
// middle of the bar.
struct CameraScreenLayout {
    // The controls of the bar, in their order.
    enum Control {
        kLastPhoto,
        kFilters,
        kTimer,
        kShutter,
        kFlash,
        kSwapCamera,
        kSettings,
        kControlCount
    };
    // The bar's thickness: the height of the bar under the 320 x 427 live view of a 320 x 480
    // window, and the width of the column.
    static constexpr double kBarThickness = 53;
    static constexpr double kShutterSide = 48;
    static constexpr double kButtonSide = 44;
    static constexpr double kThumbnailSide = 40;

    platform::Rect liveView;
    platform::Rect controlBar;
    std::array<platform::Rect, kControlCount> controls;
    bool portrait = true;

    // screen: the window in points; picture: the camera picture's size as shown (any unit,
    // only its aspect ratio counts; an empty one counts as 3:4).
    static CameraScreenLayout make(platform::Size screen, platform::Size picture);
};

// The largest rectangle of aspect's ratio inside area, centred in it.
platform::Rect fitCentred(platform::Size aspect, platform::Rect area);

}  // namespace quorbit::camera_screen
