#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/RunLoop.h"

namespace quorbit::platform {

class AudioPlayer;

// Optional callbacks of an audio player; an empty member is not implemented.
struct AudioPlayerDelegate {
    std::function<void(AudioPlayer&, bool successfully)> didFinishPlaying;
};

// Plays one short sound (a WAV file) through SDL audio. The sound is decoded when the player
// is made, so a missing or unreadable file gives no player at all. The output device is
// opened for each playback and closed when it ends, so an idle player costs nothing.
// Main thread only.
class AudioPlayer {
  public:
    // Null, with a log line, when the file is missing or is not a WAV file.
    static std::shared_ptr<AudioPlayer> createWithContentsOfFile(const std::filesystem::path& path);
    // The resource "<name>.<type>" of the main bundle, in its "sounds" folder or at its top;
    // null when there is none.
    static std::shared_ptr<AudioPlayer> createWithResource(const std::string& name,
                                                           const std::string& type = "wav");

    ~AudioPlayer();
    AudioPlayer(const AudioPlayer&) = delete;
    AudioPlayer& operator=(const AudioPlayer&) = delete;

    // Starts SDL audio if needed; false when there is no audio output.
    bool prepareToPlay();
    // Plays the sound from its start. A player that is already playing keeps playing. False
    // (and silence) when there is no audio output.
    bool play();
    // Stops at once; the next play() starts from the beginning. The delegate is not told.
    void stop();
    bool isPlaying() const { return _playing; }

    // 0 (silent) to 1 (the file's own level); values outside are clamped.
    double volume() const { return _volume; }
    void setVolume(double volume);
    double duration() const;

    const AudioPlayerDelegate& delegate() const { return _delegate; }
    void setDelegate(AudioPlayerDelegate delegate) { _delegate = std::move(delegate); }

    // Bytes of decoded sound (in the file's own sample format).
    size_t dataSize() const { return _samples.size(); }

  private:
    AudioPlayer() = default;
    void finish();
    void closeDevice();
    void watchPlayback();

    struct Format {
        int frequency = 0;
        std::uint16_t format = 0;
        std::uint8_t channels = 0;
        std::uint8_t silence = 0;
    } _format;
    std::vector<std::uint8_t> _samples;
    double _volume = 1;
    bool _playing = false;
    std::uint32_t _device = 0;
    RunLoopHandle _watchTimer;
    AudioPlayerDelegate _delegate;
};

}  // namespace quorbit::platform
