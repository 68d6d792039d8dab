#include "CameraScreenSupport.h"

namespace quorbit::camera_screen {
namespace {

using testing::QuadrantFrame;

struct RecordingPicker : capture::FrameConsumer {
    int frames = 0;
    void cameraUpdated(capture::PixelBuffer& frame) override {
        ++frames;
        EXPECT_FALSE(frame.isLocked());
    }
};

class LiveView : public ::testing::Test {
  protected:
    void SetUp() override { screen->setFilter(screen->programArray()[0].get()); }
    void deliver(int rotation = 90) {
        auto buffer = frame.buffer(rotation);
        screen->processNewCameraFrame(buffer);
        EXPECT_FALSE(buffer.isLocked());
    }

    std::shared_ptr<testing::SwitchableCamera> camera =
        std::make_shared<testing::SwitchableCamera>();
    std::unique_ptr<quorbitViewController> screen =
        std::make_unique<quorbitViewController>(quorbit::testing::sharedGlContext(), camera);
    QuadrantFrame frame;
};

TEST_F(LiveView, ShowsTheFrameUprightAtEveryRotationAndMirroredForTheFrontCamera) {
    constexpr int kBack = capture::kCameraBack, kFront = capture::kCameraFront;
    // Which frame quadrant (top left, top right, bottom left, bottom right) shows in each
    // quadrant of the photo, in the same order: the frame turned clockwise by its rotation,
    // the front camera's picture mirrored left to right as the view shows it.
    // clang-format off
    const struct { int rotation, cameraType; std::array<int, 4> frameQuadrantAt; } cases[] = {
        {0, kBack, {0, 1, 2, 3}},   {0, kFront, {1, 0, 3, 2}},   {90, kBack, {2, 0, 3, 1}},
        {90, kFront, {0, 2, 1, 3}}, {180, kBack, {3, 2, 1, 0}},  {180, kFront, {2, 3, 0, 1}},
        {270, kBack, {1, 3, 0, 2}}, {270, kFront, {3, 1, 2, 0}},
    };
    // clang-format on
    for (const auto& tc : cases) {
        SCOPED_TRACE(::testing::Message()
                     << tc.rotation << (tc.cameraType == kFront ? " front" : " back"));
        camera->type = tc.cameraType;
        deliver(tc.rotation);
        platform::Image photo = screen->glToCGImageRef();
        for (size_t q = 0; q < 4; ++q)
            EXPECT_TRUE(
                quorbit::testing::near(photo.pixel(photo.width() * int(1 + q % 2 * 2) / 4,
                                                   photo.height() * int(1 + q / 2 * 2) / 4),
                                       QuadrantFrame::kColours[size_t(tc.frameQuadrantAt[q])], 1))
                << "quadrant " << q;
    }
}

TEST_F(LiveView, ChildScreensDecideWhereFramesGo) {
    RecordingPicker picker;
    screen->setFilterPicker(nullptr, &picker);
    // The picker, the share screen, the settings up -> frames to the picker, frames drawn.
    // clang-format off
    const std::tuple<bool, bool, bool, int, std::uint64_t> cases[] = {
        {false, false, false, 0, 1}, {true, false, false, 1, 0}, {false, true, false, 0, 0},
        {false, false, true, 0, 0}, {true, true, false, 0, 0}, {true, false, true, 0, 0}};
    // clang-format on
    for (auto [pickerUp, sharing, settings, pickerFrames, drawn] : cases) {
        screen->filterPickerOpen = pickerUp;
        screen->sharingWindowOpen = sharing;
        screen->settingsViewOpen = settings;
        picker.frames = 0;
        std::uint64_t before = screen->glview()->glLayer()->presentCount();
        deliver();
        EXPECT_EQ(picker.frames, pickerFrames);
        EXPECT_EQ(screen->glview()->glLayer()->presentCount() - before, drawn);
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
    deliver();
    EXPECT_TRUE(quorbit::testing::near(gpu::readFramebufferImage(*screen->glview()).pixel(160, 213),
                                       {255, 255, 0}, 0));
}

}  // namespace
}  // namespace quorbit::camera_screen
