// The frame path's drawing (CameraTexture, drawFrameQuad) into real GL views.
#include <gtest/gtest.h>

#include <vector>

#include "gpu/FrameDrawing.h"
#include "support/GlTestContext.h"

namespace quorbit::gpu {
namespace {

using testing::sharedGlContext;

// A 640 x 480 BGRA frame: dark grey with a bright disc of 120 texels' radius in the middle.
std::vector<std::uint8_t> discFrame() {
    std::vector<std::uint8_t> bgra(640 * 480 * 4, 255);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            bool disc = (x - 320) * (x - 320) + (y - 240) * (y - 240) < 120 * 120;
            for (int c = 0; c < 3; ++c)
                bgra[(std::size_t(y) * 640 + std::size_t(x)) * 4 + std::size_t(c)] =
                    disc ? 240 : 40;
        }
    return bgra;
}

// How far the bright pixels reach from the middle of the picture, across and down.
std::pair<int, int> brightExtent(const platform::Image& image) {
    auto bright = [&](int x, int y) { return image.pixel(x, y)[1] > 140; };
    int cx = image.width() / 2, cy = image.height() / 2, across = 0, down = 0;
    for (int x = 0; x < image.width(); ++x)
        across += bright(x, cy);
    for (int y = 0; y < image.height(); ++y)
        down += bright(cx, y);
    return {across, down};
}

TEST(FrameDrawing, DistortionsStayRoundOnLandscapeAndPortraitSurfaces) {
    auto context = sharedGlContext();
    std::vector<std::uint8_t> pixels = discFrame();
    // A webcam's upright frame on a landscape surface, a phone's sideways one on a portrait
    // surface: both show the frame at the same scale across and down.
    struct Case {
        int rotation, width, height;
    } cases[] = {{0, 427, 320}, {90, 320, 427}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rotation);
        GLView view(platform::Rect(0, 0, c.width, c.height));
        view.setContext(context);
        capture::PixelBuffer frame(pixels.data(), 640, 480, c.rotation);
        frame.lockBaseAddress();
        CameraTexture texture;
        ASSERT_TRUE(texture.upload(frame, context));
        ShaderProgram normal("Normal", "Normal"), bulge("Bulge", "Bulge");
        drawFrameQuad(view, normal, texture.name(), capture::kCameraBack, {1, 1, 0, 1});
        auto [plainAcross, plainDown] = brightExtent(readFramebufferImage(view));
        drawFrameQuad(view, bulge, texture.name(), capture::kCameraBack, {1, 1, 0, 1});
        auto [across, down] = brightExtent(readFramebufferImage(view));
        EXPECT_NEAR(plainAcross, 160, 3);
        EXPECT_NEAR(plainDown, 160, 3);
        EXPECT_GT(across, plainAcross * 1.15) << "magnified";
        EXPECT_NEAR(across, down, 4) << "round";
        glUseProgram(0);  // the programs go with this turn
    }
}

}  // namespace
}  // namespace quorbit::gpu
