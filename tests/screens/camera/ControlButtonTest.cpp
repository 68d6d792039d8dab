#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "platform/gfx/Canvas.h"
#include "screens/camera/ControlArt.h"
#include "screens/camera/ControlButton.h"

namespace quorbit::camera_screen {
namespace {

using ControlArt::ControlState;
using ControlArt::Glyph;
using platform::Canvas;
using platform::Rect;

// How each glyph looks in each state is the control art's test; the button draws its glyph
// in the middle of its bounds, in the state it is in.
TEST(ControlButton, DrawsItsGlyphInTheMiddleInTheStateItIsIn) {
    ControlButton button(Glyph::Settings, Rect(0, 0, 60, 44), 24);
    EXPECT_EQ(button.glyphRect(), Rect(18, 10, 24, 24));
    auto picture = [](const std::function<void(Canvas&)>& draw) {
        Canvas canvas(120, 88, 2);
        canvas.clear();
        draw(canvas);
        return canvas.toImage().pixels();
    };
    // clang-format off
    const std::tuple<Glyph, bool, bool, ControlState> cases[] = {
        {Glyph::Settings, false, true, ControlState::Normal},
        {Glyph::Settings, true, true, ControlState::Pressed},
        {Glyph::Settings, true, false, ControlState::Disabled},
        {Glyph::Filters, false, true, ControlState::Normal},
    };
    // clang-format on
    for (auto [glyph, highlighted, enabled, state] : cases) {
        SCOPED_TRACE(::testing::Message() << int(glyph) << " " << int(state));
        button.setGlyph(glyph);
        button.setHighlighted(highlighted);
        button.setEnabled(enabled);
        EXPECT_EQ(picture([&](Canvas& c) { button.draw(c); }), picture([&](Canvas& c) {
                      ControlArt::drawGlyph(c, glyph, Rect(18, 10, 24, 24), state);
                  }));
    }
}

}  // namespace
}  // namespace quorbit::camera_screen
