#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <optional>

#include "CameraScreenSupport.h"
#include "camera_screen/quorbitViewController.h"
#include "gpu/FrameDrawing.h"
#include "support/GlTestContext.h"

namespace quorbit::camera_screen {
namespace {

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
    std::array<int, 3> pixelAt(int x, int y) {
        platform::Image image = gpu::readFramebufferImage(*screen->glview());
        const auto* p = image.pixel(x, y);
        return {p[0], p[1], p[2]};
    }
    std::uint64_t presents() { return screen->glview()->glLayer()->presentCount(); }

    std::shared_ptr<SwitchableCamera> camera;
    std::unique_ptr<quorbitViewController> screen;
    QuadrantFrame frame;
};

TEST_F(LiveView, BothCameraTablesTurnTheFrameAndKeepTheChannelOrder) {
    const auto& c = QuadrantFrame::kColours;
    // Screen quadrant centres (x, y) in the 320 x 427 surface, and which frame quadrant shows
    // there. Back: a quarter turn clockwise. Front: the same, mirrored left to right.
    struct Case {
        int cameraType;
        std::array<int, 4>
            frameQuadrantAt;  // screen top left, top right, bottom left, bottom right
    } cases[] = {
        {capture::kCameraBack, {2, 0, 3, 1}},
        {capture::kCameraFront, {0, 2, 1, 3}},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.cameraType);
        camera->type = tc.cameraType;
        auto buffer = frame.buffer();
        screen->processNewCameraFrame(buffer);
        const int xs[2] = {80, 240}, ys[2] = {100, 320};
        for (int q = 0; q < 4; ++q) {
            auto expected = c[size_t(tc.frameQuadrantAt[size_t(q)])];
            auto got = pixelAt(xs[q % 2], ys[q / 2]);
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(got[size_t(k)], expected[size_t(k)], 1) << q;
        }
    }
    EXPECT_FALSE(frame.buffer().isLocked());
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
        GLuint probe = 0;
        glGenTextures(1, &probe);
        glDeleteTextures(1, &probe);
        auto buffer = frame.buffer();
        screen->processNewCameraFrame(buffer);
        EXPECT_EQ(picker->frames, tc.pickerFrames);
        EXPECT_EQ(presents() - before, tc.drawn ? 1u : 0u);
        // Texture names are handed out in increasing order here: a drawn frame takes one,
        // a dropped frame none, and no texture outlives its frame.
        GLuint next = 0;
        glGenTextures(1, &next);
        glDeleteTextures(1, &next);
        EXPECT_EQ(next - probe - 1, tc.drawn ? 1u : 0u);
        if (tc.drawn) {
            EXPECT_FALSE(glIsTexture(probe + 1));
        }
        EXPECT_EQ(screen->camTexture(), 0u);
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
    EXPECT_EQ(pixelAt(160, 213), (std::array<int, 3>{255, 255, 0}));
}

}  // namespace
}  // namespace quorbit::camera_screen
