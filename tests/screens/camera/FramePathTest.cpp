#include <gtest/gtest.h>

#include <set>

#include "screens/camera/quorbitViewController.h"
#include "capture/Camera.h"
#include "gpu/FrameDrawing.h"
#include "support/GlTestContext.h"

namespace quorbit::capture {
namespace {

using namespace std::chrono_literals;

TEST(FramePath, SyntheticFramesReachTheLiveSurface) {
    auto camera = std::make_shared<Camera>(CameraSource::synthetic());
    camera_screen::quorbitViewController screen(quorbit::testing::sharedGlContext(), camera);
    screen.setFilter(screen.programArray()[0].get());
    camera->setDelegate(&screen);
    auto presents = [&] { return screen.glview()->glLayer()->presentCount(); };
    auto drawn = [&](std::uint64_t more) {
        auto target = presents() + more;
        return platform::RunLoop::main().runUntil([&] { return presents() >= target; }, 5s);
    };
    // A colourful picture (many coarse colour classes) that moves.
    auto picture = [&] {
        platform::Image image = gpu::readFramebufferImage(*screen.glview());
        std::set<int> classes;
        for (std::size_t i = 0; i < image.pixels().size(); i += 4 * 7)
            classes.insert(image.data()[i] / 64 * 16 + image.data()[i + 1] / 64 * 4 +
                           image.data()[i + 2] / 64);
        EXPECT_GE(classes.size(), 10u);
        return image.pixels();
    };

    ASSERT_TRUE(drawn(2));
    auto first = picture();
    ASSERT_TRUE(drawn(6));
    EXPECT_NE(picture(), first);
    camera->swapCamera();
    EXPECT_EQ(camera->curCameraType(), kCameraBack);
    ASSERT_TRUE(drawn(2));
    EXPECT_NE(picture(), first);

    camera->stopCamera();
    auto stoppedAt = presents();
    platform::RunLoop::main().runFor(200ms);
    EXPECT_EQ(presents(), stoppedAt);
    camera->setDelegate(nullptr);
}

}  // namespace
}  // namespace quorbit::capture
