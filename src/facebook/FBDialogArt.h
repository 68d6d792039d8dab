#pragma once

#include "platform/gfx/Image.h"

namespace quorbit::facebook {

// The two pictures of the web dialog's frame, drawn here rather than borrowed: a neutral
// sign-in glyph (a person in a rounded square) for the title bar, and a close cross. The
// resources "FBDialog.bundle/images/fbicon.png" and "close.png" are these, rendered by
// quorbit-dialog-images.
namespace FBDialogArt {

inline constexpr int kIconSize = 16;
inline constexpr int kCloseSize = 20;

platform::Image renderIcon(int size = kIconSize);
platform::Image renderClose(int size = kCloseSize);

}  // namespace FBDialogArt
}  // namespace quorbit::facebook
