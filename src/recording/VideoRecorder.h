#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Error.h"
#include "recording/VideoEncoders.h"

namespace quorbit::recording {

// What a recording is made of and where it goes.
struct RecordingOptions {
    int width = 0, height = 0;  // the frames' size in pixels
    int framesPerSecond = 24;   // the stream's nominal rate; frames keep their own times
    std::filesystem::path folder;
    bool sound = true;
    // The sound's source as a GStreamer description; empty: $QUORBIT_AUDIO_SOURCE when set
    // (tests give a test tone there), else the desktop's default source (autoaudiosrc).
    std::string audioSource;
    // A clip longer or larger than these goes on in a new numbered file.
    std::uint64_t maxFileBytes = std::uint64_t(4) << 30;
    std::chrono::nanoseconds maxFileDuration = std::chrono::hours(2);
    // Frames the encoder may have waiting; one more is dropped (and counted), never queued.
    std::size_t maxQueuedFrames = 12;
    // The video encoders not to use (ones known to fail).
    std::vector<std::string> skipEncoders;
};

// Records frames, with the microphone's sound, into a clip in a folder, through GStreamer.
//
// Each frame is copied and handed to the pipeline (appsrc) with the time the camera took it,
// so the clip's timing is the camera's and the sound, timed by the same clock, stays with the
// pictures. The caller never waits for the encoder: while it is behind by maxQueuedFrames,
// further frames are dropped and counted.
//
// The clip is written under a hidden temporary name in the folder (".flurio-rec-…"),
// H.264 in an MP4 written as fragments of a second (or VP8 in WebM where no H.264 encoder is
// installed), and given its final name ("VID_20240131_142502.mp4", never replacing a file)
// when finished. A recording cut off before that (kill -9, a power cut) leaves a playable
// file under the temporary name, which the next recording in that folder gives a name.
// Clips over maxFileBytes or maxFileDuration go on in a new file (_part2, _part3, ...).
//
// Everything but the pipeline's own threads runs on the thread that made the recorder (the
// main thread); failures of the pipeline are told there through the handler, once.
class VideoRecorder {
  public:
    using Clock = std::chrono::steady_clock;
    using FailureHandler = std::function<void(const platform::Error&)>;

    // Starts a recording with the best encoder that starts. failed (may be empty) runs on the
    // main run loop when the pipeline fails while recording; finish() then keeps what was
    // written.
    static platform::Result<std::unique_ptr<VideoRecorder>> start(RecordingOptions options,
                                                                  FailureHandler failed = {});
    // Finishes the recording if finish() was not called.
    ~VideoRecorder();
    VideoRecorder(const VideoRecorder&) = delete;
    VideoRecorder& operator=(const VideoRecorder&) = delete;

    // Hands one frame over: width x height RGBA pixels, top row first, taken by the camera at
    // captured (none: now). False when it was dropped (the encoder is behind, or the recording
    // ended).
    bool addFrame(const std::uint8_t* rgba, Clock::time_point captured);

    // Ends the recording: the encoder is drained, the file finished, synced and given its
    // name. The clips written (more than one where the recording was split), or why the last
    // one could not be kept.
    platform::Result<std::vector<std::filesystem::path>> finish();

    bool isRecording() const { return _part != nullptr; }
    std::uint64_t framesAdded() const { return _added; }
    std::uint64_t framesDropped() const { return _dropped; }
    // How long the recording has run (from its start, over every part).
    Clock::duration elapsed() const;
    // Whether the clip has sound; false with sound off or no microphone.
    bool recordsSound() const { return _withSound; }
    // Set when sound was asked for but no microphone was found.
    bool microphoneMissing() const { return _microphoneMissing; }
    const EncoderChoice& encoder() const { return _encoder; }
    const std::filesystem::path& folder() const { return _options.folder; }

    // Names the clips that recordings cut off in folder left under their temporary names
    // (their writer is gone), after the time they were last written; the clips named.
    static std::vector<std::filesystem::path> recoverInterrupted(
        const std::filesystem::path& folder);

  private:
    struct Part;
    struct BusState;
    explicit VideoRecorder(RecordingOptions options, FailureHandler failed);
    platform::Result<std::unique_ptr<Part>> startPart(const EncoderChoice& encoder, bool sound);
    platform::Result<std::filesystem::path> finishPart(std::unique_ptr<Part> part);
    std::string pipelineDescription(const EncoderChoice& encoder, bool sound, int fd) const;

    RecordingOptions _options;
    FailureHandler _failed;
    EncoderChoice _encoder;
    std::unique_ptr<Part> _part;
    std::vector<std::filesystem::path> _kept;
    std::optional<platform::Error> _keepFailure;
    bool _withSound = false;
    bool _microphoneMissing = false;
    int _partNumber = 1;
    std::string _baseName;  // the first part's name, which later parts extend
    Clock::time_point _started;
    std::uint64_t _added = 0, _dropped = 0;
    std::shared_ptr<bool> _alive = std::make_shared<bool>(true);
};

}  // namespace quorbit::recording
