#include <gtest/gtest.h>

#include <memory>

#include "platform/gl/GLContext.h"
#include "platform/gl/GLTextureTarget.h"
#include "platform/ui/Compositor.h"
#include "screens/progress/ProgressHud.h"
#include "screens/progress/RoundProgressView.h"
#include "support/GlTestContext.h"
#include "support/Pixels.h"

namespace quorbit::hud {
namespace {

using platform::Color;
using platform::Image;
using platform::Rect;
using platform::View;
using testing::Rgb;

// The overlay drawn by the compositor on a real GL context and read back.
TEST(ProgressHudDrawing, TranslucentRoundedBoxWithAQuarterPieOnTheDial) {
    testing::sharedGlContext();
    auto context = platform::GLContext::create();
    ASSERT_TRUE(context) << context.error().localizedDescription();
    auto made = platform::Compositor::create(context.value());
    ASSERT_TRUE(made) << made.error().localizedDescription();
    auto compositor = std::move(made.value());
    compositor->context()->makeCurrent();
    platform::GLTextureTarget target(120, 120);

    const Color background{0.2, 0.4, 0.6, 1};
    auto root = std::make_shared<View>(Rect(0, 0, 120, 120));
    root->setBackgroundColor(background);
    auto hud = std::make_shared<ProgressHud>(root.get());
    root->addSubview(hud);
    hud->setMode(ProgressHud::Mode::Determinate);
    hud->setProgress(0.25);
    hud->show(false);

    compositor->draw({root.get()}, 120, 120, target.framebuffer());
    Image image = platform::Compositor::readPixels(120, 120);
    compositor->restoreContext();

    // Outside, the box, a cut-off corner and inside its arc; the pie and disc on either side
    // of twelve and three o'clock, the disc between six and nine, and the rim.
    const Rgb bg{51, 102, 153}, box{10, 20, 31}, disc{35, 44, 53}, white{255, 255, 255};
    // clang-format off
    const struct { int x, y; Rgb want; } cases[] = {
        {10, 59, bg}, {30, 59, box}, {22, 22, bg}, {26, 26, box}, {61, 48, white},
        {57, 48, disc}, {70, 57, white}, {70, 61, disc}, {53, 65, disc}, {43, 59, white}};
    // clang-format on
    for (const auto& c : cases)
        EXPECT_TRUE(testing::near(image.pixel(c.x, c.y), c.want, 4)) << c.x << ", " << c.y;
}

}  // namespace
}  // namespace quorbit::hud
