#include <gtest/gtest.h>

#include "platform/ui/AlertView.h"
#include "screens/camera/CameraScreenSupport.h"
#include "support/QuorbitProcess.h"
#include "support/VideoProbe.h"

// Video mode: the shutter records the filtered live view into a clip.
namespace quorbit::camera_screen {
namespace {

using namespace testing;
using quorbit::testing::ClipInfo;
using quorbit::testing::Outcome;
using quorbit::testing::probeClip;
using quorbit::testing::RunOptions;
namespace fs = std::filesystem;

// The camera screen in Grayscale (slot 9), recording without sound.
struct VideoScreen : ScreenFixture {
    explicit VideoScreen(const std::string& name, int timer = 0)
        : ScreenFixture(name, 9, true, std::nullopt, [=](platform::UserDefaults& d) {
              d.setBool(share::SettingsView::kRecordSoundKey, false);
              d.setInteger(quorbitViewController::kSelfTimerKey, timer);
          }) {
        screen->setVideosFolder(folder / "videos");
        show();
        deliver();
    }
    // Frames at the camera's pace for that long.
    void film(std::chrono::milliseconds length) {
        for (auto end = std::chrono::steady_clock::now() + length;
             std::chrono::steady_clock::now() < end;) {
            deliver();
            platform::RunLoop::main().runFor(40ms);
        }
    }
    bool enabled(const char* name) {
        return static_cast<platform::Button*>(control(name))->isEnabled();
    }
};

TEST(VideoMode, TheShutterRecordsWhatTheViewShowsWithTheOtherControlsOff) {
    VideoScreen f("video-record");
    f.tap(controls::kMode);
    ASSERT_TRUE(f.screen->videoMode());
    EXPECT_EQ(f.defaults->stringForKey(quorbitViewController::kCaptureModeKey), "video");
    EXPECT_EQ(f.screen->shutterButton()->glyph(), ControlArt::Glyph::Record);
    platform::Image shown = f.shown();

    f.tap(controls::kShutter);
    ASSERT_TRUE(f.screen->isRecording());
    EXPECT_EQ(f.screen->shutterButton()->glyph(), ControlArt::Glyph::Stop);
    EXPECT_NE(f.control(controls::kRecordingTime), nullptr);
    for (const char* name :
         {controls::kFilters, controls::kSwapCamera, controls::kSettings, controls::kMode})
        EXPECT_FALSE(f.enabled(name)) << name;
    // Keys other than the shutter's do nothing while recording.
    EXPECT_FALSE(f.screen->handleKey({platform::KeyEvent::Key::Character, U'f'}));
    f.film(1500ms);
    EXPECT_TRUE(f.screen->handleKey({platform::KeyEvent::Key::Return}));
    ASSERT_FALSE(f.screen->isRecording());
    EXPECT_TRUE(f.enabled(controls::kFilters));

    ASSERT_EQ(f.screen->lastClips().size(), 1u);
    fs::path clip = f.screen->lastClips()[0];
    EXPECT_EQ(clip.parent_path(), f.folder / "videos");
    ClipInfo info = probeClip(clip);
    ASSERT_EQ(info.error, "");
    EXPECT_NEAR(info.seconds, 1.5, 0.3);
    EXPECT_EQ(std::uint64_t(info.frames), f.screen->lastFramesRecorded());
    // The picture is the view's, upright and grey: each quadrant's middle as the view has it.
    ASSERT_EQ(info.width, 480);
    ASSERT_EQ(info.height, 640);
    for (double x : {0.25, 0.75})
        for (double y : {0.25, 0.75}) {
            const std::uint8_t* a = info.middleFrame.pixel(int(x * 480), int(y * 640));
            const std::uint8_t* b = shown.pixel(int(x * shown.width()), int(y * shown.height()));
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(a[c], b[c], 12) << x << "," << y;
            EXPECT_NEAR(a[0], a[1], 12);
        }

    // The clip is the last picture: its first frame with a play mark, shared as a file.
    EXPECT_EQ(f.screen->photoViewButton()->clip(), clip);
    f.tap(controls::kLastPhoto);
    ASSERT_TRUE(f.screen->sharingWindowOpen);
    auto message = f.screen->getPhotoViewController()->composeMessage({});
    EXPECT_EQ(message.attachmentFile, clip);
    EXPECT_EQ(message.attachmentType, "video/mp4");
}

TEST(VideoMode, TheTimerCountsDownFirstAndALostCameraEndsTheRecordingKeepingIt) {
    ManualClock clock;
    VideoScreen f("video-timer", 3);
    f.screen->setVideoMode(true);
    f.tap(controls::kShutter);
    EXPECT_TRUE(f.screen->isCountingDown());
    EXPECT_FALSE(f.screen->isRecording());
    clock.advance(std::chrono::seconds(3));
    ASSERT_TRUE(f.screen->isRecording());
    for (int n = 0; n < 24; ++n)
        f.deliver();
    f.screen->showCameraAvailability(false, "unplugged");
    EXPECT_FALSE(f.screen->isRecording());
    ASSERT_NE(platform::AlertView::visibleAlert(), nullptr);
    EXPECT_EQ(platform::AlertView::visibleAlert()->title(), "Recording stopped");
    ASSERT_EQ(f.screen->lastClips().size(), 1u);
    EXPECT_GT(probeClip(f.screen->lastClips()[0]).frames, 0);
}

// The application itself: with no encoder at all video mode says what to install and photos
// still work; a recording killed outright leaves a clip that plays up to where it was cut.
TEST(VideoMode, WithoutEncodersPhotosWorkAndAKilledRecordingStillPlays) {
    quorbit::testing::ScratchDir dir("quorbit-video-app");
    fs::create_directories(dir / "no-plugins");
    const std::vector<std::pair<std::string, std::optional<std::string>>> common = {
        {"QUORBIT_CONFIG_DIR", (dir / "config").string()},
        {"QUORBIT_VIDEOS_DIR", (dir / "videos").string()},
        {"QUORBIT_PICTURES_DIR", (dir / "photos").string()},
        {"QUORBIT_AUDIO_SOURCE", "audiotestsrc is-live=true"}};
    auto run = [&](const std::string& script, RunOptions options) {
        dir.write("s.script", "wait-frames 2\ntap-control picker-close\nwait 300\n" + script);
        options.env.insert(options.env.end(), common.begin(), common.end());
        return quorbit::testing::runQuorbit(
            {"--headless", "--camera", "synthetic", "--script", (dir / "s.script")}, dir, options);
    };
    RunOptions hidden;
    hidden.env = {{"GST_PLUGIN_SYSTEM_PATH_1_0", (dir / "no-plugins").string()},
                  {"GST_PLUGIN_PATH_1_0", (dir / "no-plugins").string()},
                  {"GST_REGISTRY_1_0", (dir / "registry.bin").string()}};
    Outcome none =
        run("tap-control mode\nexpect-text still-note Video recording is not available\n"
            "expect-text still-note gstreamer1.0-plugins-ugly\ntap-control shutter\n"
            "tap-control mode\ntap-control shutter\nwait 1500\nquit\n",
            hidden);
    EXPECT_EQ(none.status, 0) << none.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "photos"), {}), 1) << none.err;
    EXPECT_FALSE(fs::exists(dir / "videos"));

    RunOptions kill;
    kill.signal = SIGKILL;
    kill.signalWhen = "screenshot written to";
    Outcome killed =
        run("tap-control mode\ntap-control shutter\nexpect-control recording-time\nwait 2500\n"
            "screenshot " +
                (dir / "shot.png").string() + "\nwait 5000\n",
            kill);
    EXPECT_EQ(killed.status, -1) << killed.err;
    std::vector<fs::path> left;
    for (const auto& entry : fs::directory_iterator(dir / "videos"))
        left.push_back(entry.path());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].filename().string().rfind(".flurio-rec-", 0), 0u);
    ClipInfo info = probeClip(left[0]);
    EXPECT_EQ(info.error, "");
    EXPECT_NEAR(info.seconds, 2.5, 1.0);
    EXPECT_TRUE(info.hasAudio);
}

}  // namespace
}  // namespace quorbit::camera_screen
