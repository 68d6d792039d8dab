#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>

#include <thread>

#include "platform/core/FileHandle.h"
#include "platform/core/RunLoop.h"
#include "recording/VideoRecorder.h"
#include "support/Scratch.h"
#include "support/VideoProbe.h"

namespace quorbit::recording {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using ::testing::MatchesRegex;

constexpr int kWidth = 320, kHeight = 240;

// A grey picture, dark above and light below: a clip turned upside down, or not grey, shows.
std::vector<std::uint8_t> twoTone() {
    std::vector<std::uint8_t> rgba(std::size_t(kWidth) * kHeight * 4, 255);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            std::fill_n(&rgba[(std::size_t(y) * kWidth + x) * 4], 3, y < kHeight / 2 ? 40 : 200);
    return rgba;
}

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

class Recording : public ::testing::Test {
  protected:
    RecordingOptions options() {
        RecordingOptions o;
        o.width = kWidth;
        o.height = kHeight;
        o.folder = scratch / "clips";
        o.audioSource = "audiotestsrc is-live=true wave=sine";
        return o;
    }
    // Feeds frames at the camera's 24 a second for that long, paced in real time (the sound
    // is live), each stamped with when it was "taken"; stops early once a frame is refused
    // when stopOnRefusal.
    void feed(VideoRecorder& recorder, std::chrono::milliseconds length,
              bool stopOnRefusal = false) {
        auto start = Clock::now();
        for (int n = 0; n < int(length / 1ms) * 24 / 1000; ++n) {
            std::this_thread::sleep_until(start + n * 41667us);
            if (!recorder.addFrame(picture.data(), Clock::now()) && stopOnRefusal) return;
        }
    }
    testing::ScratchDir scratch{"quorbit-recording"};
    std::vector<std::uint8_t> picture = twoTone();
};

TEST_F(Recording, AClipHoldsEveryFrameAtTheCamerasTimesWithSoundAndAsDrawn) {
    auto started = VideoRecorder::start(options());
    ASSERT_TRUE(started) << started.error().localizedDescription();
    VideoRecorder& recorder = **started;
    EXPECT_TRUE(recorder.recordsSound());
    feed(recorder, 3s);
    auto clips = recorder.finish();
    ASSERT_TRUE(clips) << clips.error().localizedDescription();
    ASSERT_EQ(clips->size(), 1u);
    // Its final name, and no temporary left beside it.
    EXPECT_EQ(filesIn(options().folder), std::vector<fs::path>{clips->front().filename()});
    EXPECT_THAT(clips->front().filename().string(), MatchesRegex("VID_[0-9]{8}_[0-9]{6}\\.mp4"));

    testing::ClipInfo clip = testing::probeClip(clips->front());
    ASSERT_EQ(clip.error, "");
    EXPECT_NEAR(clip.seconds, 3.0, 0.3);
    EXPECT_EQ(clip.width, kWidth);
    EXPECT_EQ(clip.height, kHeight);
    // The frames keep the camera's times: 24 a second over the clip, dropped ones included
    // (the container's own rate is left out: a clip of camera times may read as variable).
    EXPECT_NEAR((clip.frames + recorder.framesDropped()) / clip.seconds, 24, 2);
    EXPECT_TRUE(clip.hasAudio);
    EXPECT_EQ(std::uint64_t(clip.frames), recorder.framesAdded());
    EXPECT_EQ(recorder.framesAdded() + recorder.framesDropped(), 72u);
    // Grey (R = G = B within the codec's tolerance), dark above and light below.
    ASSERT_FALSE(clip.middleFrame.empty());
    for (auto [y, grey] : {std::pair{kHeight / 4, 40}, std::pair{3 * kHeight / 4, 200}}) {
        const std::uint8_t* p = clip.middleFrame.pixel(kWidth / 2, y);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(p[c], grey, 12) << "row " << y << " channel " << c;
    }
}

TEST_F(Recording, FramesTheEncoderCannotTakeAreDroppedAndCountedNotQueued) {
    RecordingOptions o = options();
    o.sound = false;
    o.maxQueuedFrames = 2;
    auto started = VideoRecorder::start(o);
    ASSERT_TRUE(started) << started.error().localizedDescription();
    auto at = Clock::now();
    for (int n = 0; n < 60; ++n)
        (*started)->addFrame(picture.data(), at += 1ms);
    EXPECT_GT((*started)->framesDropped(), 0u);
    EXPECT_EQ((*started)->framesAdded() + (*started)->framesDropped(), 60u);
    std::uint64_t added = (*started)->framesAdded();
    auto clips = (*started)->finish();
    ASSERT_TRUE(clips && clips->size() == 1);
    EXPECT_EQ(std::uint64_t(testing::probeClip(clips->front()).frames), added);
}

TEST_F(Recording, WithoutAnH264EncoderClipsAreVp8InWebm) {
    RecordingOptions o = options();
    o.skipEncoders = {"vah264enc", "vaapih264enc", "v4l2h264enc", "openh264enc", "x264enc"};
    auto started = VideoRecorder::start(o);
    ASSERT_TRUE(started) << started.error().localizedDescription();
    EXPECT_EQ((*started)->encoder().encoder, "vp8enc");
    feed(**started, 1s);
    auto clips = (*started)->finish();
    ASSERT_TRUE(clips && clips->size() == 1);
    EXPECT_EQ(clips->front().extension(), ".webm");
    testing::ClipInfo clip = testing::probeClip(clips->front());
    EXPECT_EQ(clip.error, "");
    EXPECT_TRUE(clip.hasAudio);
    EXPECT_EQ(std::uint64_t(clip.frames), (*started)->framesAdded());
}

TEST_F(Recording, ALongRecordingGoesOnInNumberedFilesThatEachPlay) {
    RecordingOptions o = options();
    o.sound = false;
    o.maxFileDuration = 1s;
    auto started = VideoRecorder::start(o);
    ASSERT_TRUE(started) << started.error().localizedDescription();
    feed(**started, 2500ms);
    auto clips = (*started)->finish();
    ASSERT_TRUE(clips);
    ASSERT_EQ(clips->size(), 3u);
    std::string base = clips->at(0).stem().string();
    EXPECT_EQ(clips->at(1).filename(), base + "_part2.mp4");
    EXPECT_EQ(clips->at(2).filename(), base + "_part3.mp4");
    int frames = 0;
    for (const auto& clip : *clips) {
        testing::ClipInfo info = testing::probeClip(clip);
        EXPECT_EQ(info.error, "") << clip;
        EXPECT_LE(info.seconds, 1.1) << clip;
        frames += info.frames;
    }
    EXPECT_EQ(std::uint64_t(frames), (*started)->framesAdded());
}

TEST_F(Recording, AClipWhoseFolderIsRemovedWhileRecordingIsWrittenIntoItAgain) {
    RecordingOptions o = options();
    o.sound = false;
    auto started = VideoRecorder::start(o);
    ASSERT_TRUE(started) << started.error().localizedDescription();
    feed(**started, 500ms);
    fs::remove_all(o.folder);
    feed(**started, 500ms);
    auto clips = (*started)->finish();
    ASSERT_TRUE(clips && clips->size() == 1) << clips.error().localizedDescription();
    EXPECT_EQ(filesIn(o.folder), std::vector<fs::path>{clips->front().filename()});
    EXPECT_EQ(std::uint64_t(testing::probeClip(clips->front()).frames), (*started)->framesAdded());
}

// A disk that fills while recording: the pipeline's failure is told once, further frames are
// refused, and what was written is finished into a clip that plays.
TEST_F(Recording, AFullDiskEndsTheRecordingAndKeepsWhatWasWritten) {
    fs::path small = scratch / "small";
    fs::create_directories(small);
    if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=400k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here: " << strerror(errno);
    struct Unmount {
        fs::path at;
        ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
    } unmount{small};
    RecordingOptions o = options();
    o.folder = small;
    std::vector<std::string> told;
    auto started = VideoRecorder::start(
        o, [&](const platform::Error& error) { told.push_back(error.localizedDescription()); });
    ASSERT_TRUE(started) << started.error().localizedDescription();
    // Noise does not compress: the disk fills within seconds.
    for (auto& byte : picture)
        byte = std::uint8_t(std::rand());
    feed(**started, 20s, true);
    platform::RunLoop::main().runUntil([&] { return !told.empty(); }, 2s);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_THAT(told[0], ::testing::HasSubstr("space"));
    EXPECT_FALSE((*started)->addFrame(picture.data(), Clock::now()));
    auto clips = (*started)->finish();
    ASSERT_TRUE(clips) << clips.error().localizedDescription();
    ASSERT_EQ(clips->size(), 1u);
    testing::ClipInfo clip = testing::probeClip(clips->front());
    EXPECT_EQ(clip.error, "");
    EXPECT_GT(clip.frames, 0);
}

TEST_F(Recording, ClipsLeftByARecordingCutOffAreNamedOnceTheirWriterIsGone) {
    fs::path folder = options().folder;
    fs::create_directories(folder);
    scratch.write("clips/.flurio-rec-aaaaaa.mp4", "a clip cut off");
    scratch.write("clips/.flurio-rec-bbbbbb.mp4", "a clip still being written");
    scratch.write("clips/.flurio-rec-cccccc.mp4", "");
    platform::FileHandle writer(open((folder / ".flurio-rec-bbbbbb.mp4").c_str(), O_RDONLY));
    ASSERT_EQ(flock(writer.fd(), LOCK_EX), 0);
    auto named = VideoRecorder::recoverInterrupted(folder);
    ASSERT_EQ(named.size(), 1u);
    EXPECT_THAT(named[0].filename().string(), MatchesRegex("VID_[0-9]{8}_[0-9]{6}\\.mp4"));
    EXPECT_EQ(scratch.read("clips" / named[0].filename()), "a clip cut off");
    // The one still written stays; the empty one goes.
    EXPECT_EQ(filesIn(folder),
              (std::vector<fs::path>{".flurio-rec-bbbbbb.mp4", named[0].filename()}));
}

}  // namespace
}  // namespace quorbit::recording
