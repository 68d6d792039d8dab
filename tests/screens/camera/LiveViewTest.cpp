#include <gtest/gtest.h>

#include <array>

#include "CameraScreenSupport.h"
#include "capture/Camera.h"
#include "gpu/FrameDrawing.h"
#include "screens/camera/quorbitViewController.h"
#include "support/GlTestContext.h"

namespace quorbit::camera_screen {
namespace {

using namespace std::chrono_literals;
using quorbit::testing::sharedGlContext;

struct SwitchableCamera : capture::CameraTypeSource {
    int type = capture::kCameraBack;
    int curCameraType() const override { return type; }
};

struct RecordingPicker : capture::FrameConsumer {
    int frames = 0;
    void cameraUpdated(capture::PixelBuffer& frame) override {
        ++frames;
        EXPECT_FALSE(frame.isLocked());
    }
};

using testing::QuadrantFrame;

class LiveView : public ::testing::Test {
  protected:
    void SetUp() override {
        camera = std::make_shared<SwitchableCamera>();
        screen = std::make_unique<quorbitViewController>(sharedGlContext(), camera);
        screen->setFilter(screen->programArray()[0].get());
    }
    std::uint64_t presents() { return screen->glview()->glLayer()->presentCount(); }

    std::shared_ptr<SwitchableCamera> camera;
    std::unique_ptr<quorbitViewController> screen;
    QuadrantFrame frame;
};

TEST_F(LiveView, ShowsTheFrameUprightAtEveryRotationAndMirroredForTheFrontCamera) {
    const auto& c = QuadrantFrame::kColours;
    constexpr int kBack = capture::kCameraBack, kFront = capture::kCameraFront;
    // Which frame quadrant (top left, top right, bottom left, bottom right) shows in each
    // quadrant of the photo, in the same order: the frame turned clockwise by its rotation,
    // the front camera's picture mirrored left to right as the view shows it.
    struct Case {
        int rotation, cameraType;
        std::array<int, 4> frameQuadrantAt;
    } cases[] = {
        {0, kBack, {0, 1, 2, 3}},   {0, kFront, {1, 0, 3, 2}},   {90, kBack, {2, 0, 3, 1}},
        {90, kFront, {0, 2, 1, 3}}, {180, kBack, {3, 2, 1, 0}},  {180, kFront, {2, 3, 0, 1}},
        {270, kBack, {1, 3, 0, 2}}, {270, kFront, {3, 1, 2, 0}},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(::testing::Message() << tc.rotation << (tc.cameraType ? " front" : " back"));
        camera->type = tc.cameraType;
        auto buffer = frame.buffer(tc.rotation);
        screen->processNewCameraFrame(buffer);
        EXPECT_FALSE(buffer.isLocked());
        // The photo is the live surface read back.
        platform::Image photo = screen->glToCGImageRef();
        const int xs[2] = {photo.width() / 4, photo.width() * 3 / 4};
        const int ys[2] = {photo.height() / 4, photo.height() * 3 / 4};
        for (int q = 0; q < 4; ++q)
            EXPECT_TRUE(quorbit::testing::near(photo.pixel(xs[q % 2], ys[q / 2]),
                                               c[size_t(tc.frameQuadrantAt[size_t(q)])], 1))
                << "quadrant " << q;
    }
}

TEST_F(LiveView, ChildScreensDecideWhereFramesGo) {
    auto picker = std::make_shared<RecordingPicker>();
    screen->setFilterPicker(nullptr, picker.get());
    struct Case {
        bool picker, sharing, settings;
        int pickerFrames;
        bool drawn;
    } cases[] = {
        {false, false, false, 0, true}, {true, false, false, 1, false},
        {false, true, false, 0, false}, {false, false, true, 0, false},
        {true, true, false, 0, false},  {true, false, true, 0, false},
    };
    for (const auto& tc : cases) {
        screen->filterPickerOpen = tc.picker;
        screen->sharingWindowOpen = tc.sharing;
        screen->settingsViewOpen = tc.settings;
        picker->frames = 0;
        std::uint64_t before = presents();
        auto buffer = frame.buffer();
        screen->processNewCameraFrame(buffer);
        EXPECT_EQ(picker->frames, tc.pickerFrames);
        EXPECT_EQ(presents() - before, tc.drawn ? 1u : 0u);
        EXPECT_EQ(screen->camTexture(), 0u) << "no texture outlives its frame";
    }
    screen->setFilterPicker(nullptr, nullptr);
}

TEST_F(LiveView, ASlotWithoutProgramShowsTheYellowClearColour) {
    gpu::ShaderProgram* broken = screen->programArray()[6].get();
    broken->disable();
    broken->setFragShaderSource(std::nullopt);
    screen->setFilter(broken);
    EXPECT_EQ(screen->lastFilterUsed(), 6);
    auto buffer = frame.buffer();
    screen->processNewCameraFrame(buffer);
    EXPECT_TRUE(quorbit::testing::near(gpu::readFramebufferImage(*screen->glview()).pixel(160, 213),
                                       {255, 255, 0}, 0));
}

// The camera's frames reach the live surface on their own, and stop when the camera stops.
TEST(LiveViewFromACamera, SyntheticFramesReachTheLiveSurface) {
    auto camera = std::make_shared<capture::Camera>(capture::CameraSource::synthetic());
    quorbitViewController screen(quorbit::testing::sharedGlContext(), camera);
    screen.setFilter(screen.programArray()[0].get());
    camera->setDelegate(&screen);
    auto presents = [&] { return screen.glview()->glLayer()->presentCount(); };
    auto drawn = [&](std::uint64_t more) {
        auto target = presents() + more;
        return platform::RunLoop::main().runUntil([&] { return presents() >= target; }, 5s);
    };
    auto picture = [&] { return gpu::readFramebufferImage(*screen.glview()).pixels(); };
    ASSERT_TRUE(drawn(2));
    auto first = picture();
    ASSERT_TRUE(drawn(6));
    EXPECT_NE(picture(), first) << "the picture moves";
    camera->stopCamera();
    auto stoppedAt = presents();
    platform::RunLoop::main().runFor(200ms);
    EXPECT_EQ(presents(), stoppedAt);
    camera->setDelegate(nullptr);
}

}  // namespace
}  // namespace quorbit::camera_screen
