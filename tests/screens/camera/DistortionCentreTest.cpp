#include <gtest/gtest.h>

#include "gpu/FrameDrawing.h"
#include "screens/camera/CameraScreenSupport.h"
#include "support/Pixels.h"

// Where the distortions' centre sits, moved by a drag on the live view and put back by a
// double tap.
namespace quorbit::camera_screen {
namespace {

using namespace testing;

TEST(DistortionCentre, ADragPutsTheEffectUnderTheFingerForBothCamerasAndRotations) {
    // Light Tunnel leaves a sharp disc of the plain picture around its centre and shades what
    // lies well outside it: where the plain picture shows through tells where the centre is.
    constexpr int kLightTunnel = 14;
    // The finger's place as fractions of the live view (across, down), and its mirror image.
    const platform::Point finger{250.0 / 320, 110.0 / 427}, mirrored{70.0 / 320, 110.0 / 427};
    for (auto [front, rotation] : {std::pair{true, 90}, {false, 90}, {true, 0}, {false, 270}}) {
        SCOPED_TRACE(::testing::Message() << (front ? "front " : "back ") << rotation);
        TimedScreen f("centre", 0, false, front, rotation);
        platform::Image plain = gpu::readFramebufferImage(*f.screen->glview());
        f.screen->setFilter(f.screen->programArray()[kLightTunnel].get());
        ASSERT_TRUE(f.screen->filterHasCentre());
        // The live view has the picture's shape: landscape at rotation 0.
        platform::Rect live = f.screen->glview()->frame();
        auto inWindow = [&](platform::Point p) {
            return platform::Point{live.minX() + p.x * live.width(),
                                   live.minY() + p.y * live.height()};
        };
        auto inPixels = [&](const platform::Image& image, platform::Point p) {
            return image.pixel(int(p.x * image.width()), int(p.y * image.height()));
        };
        // A drag from the middle of the live view to the finger's place.
        platform::Window::dispatchTouch(platform::TouchPhase::Began, 1, inWindow({0.5, 0.5}));
        platform::Window::dispatchTouch(platform::TouchPhase::Moved, 1, inWindow({0.6, 0.4}));
        platform::Window::dispatchTouch(platform::TouchPhase::Moved, 1, inWindow(finger));
        platform::Window::dispatchTouch(platform::TouchPhase::Ended, 1, inWindow(finger));
        EXPECT_NEAR(f.screen->distortionCentre().x, finger.x, 1e-9);
        EXPECT_NEAR(f.screen->distortionCentre().y, finger.y, 1e-9);
        f.drawFrame();
        platform::Image moved = gpu::readFramebufferImage(*f.screen->glview());
        EXPECT_LE(
            quorbit::testing::colourDistance(inPixels(moved, finger), inPixels(plain, finger)), 6);
        EXPECT_GT(
            quorbit::testing::colourDistance(inPixels(moved, mirrored), inPixels(plain, mirrored)),
            10);
    }
}

TEST(DistortionCentre, DoubleTapRecentresAndOtherFiltersKeepItsPlace) {
    ManualClock clock;
    TimedScreen f("recentre", 0, false);
    auto drag = [&](platform::Point to) {
        platform::Window::dispatchTouch(platform::TouchPhase::Began, 1, {160, 213});
        platform::Window::dispatchTouch(platform::TouchPhase::Moved, 1, to);
        platform::Window::dispatchTouch(platform::TouchPhase::Ended, 1, to);
    };
    // Sepia has no centre: a drag leaves it where it is.
    f.screen->setFilter(f.screen->programArray()[5].get());
    EXPECT_FALSE(f.screen->filterHasCentre());
    drag({40, 40});
    EXPECT_EQ(f.screen->distortionCentre().x, 0.5);
    // Bulge (3), Stretch (10), Squish (11) and Light Tunnel (14) do; a drag past the edge stops
    // at it.
    for (int slot : {3, 10, 11, 14}) {
        f.screen->setFilter(f.screen->programArray()[size_t(slot)].get());
        EXPECT_TRUE(f.screen->filterHasCentre()) << slot;
    }
    drag({400, -50});
    EXPECT_EQ(f.screen->distortionCentre().x, 1.0);
    EXPECT_EQ(f.screen->distortionCentre().y, 0.0);
    // Two taps far apart in time are no double tap; two close together are.
    f.tap(controls::kLiveView);
    clock.advance(std::chrono::milliseconds(400));
    f.tap(controls::kLiveView);
    EXPECT_EQ(f.screen->distortionCentre().x, 1.0);
    clock.advance(std::chrono::milliseconds(200));
    f.tap(controls::kLiveView);
    EXPECT_EQ(f.screen->distortionCentre().x, 0.5);
    EXPECT_EQ(f.screen->distortionCentre().y, 0.5);
}

}  // namespace
}  // namespace quorbit::camera_screen
