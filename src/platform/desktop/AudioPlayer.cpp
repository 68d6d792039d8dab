#include "platform/desktop/AudioPlayer.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <chrono>

#include "platform/core/Bundle.h"
#include "platform/core/Log.h"

namespace quorbit::platform {
namespace {

// Starts SDL's audio subsystem once; reports the failure once.
bool startAudio() {
    if (SDL_WasInit(SDL_INIT_AUDIO)) return true;
    static bool reported = false;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) return true;
    if (!reported) {
        reported = true;
        Log::warn(std::string("no audio output, sounds stay silent: ") + SDL_GetError());
    }
    return false;
}

}  // namespace

std::shared_ptr<AudioPlayer> AudioPlayer::createWithContentsOfFile(
    const std::filesystem::path& path) {
    auto bytes = readFile(path);
    if (!bytes) {
        Log::warn("no sound file at " + path.string());
        return nullptr;
    }
    SDL_RWops* rw = SDL_RWFromConstMem(bytes->data(), static_cast<int>(bytes->size()));
    if (!rw) return nullptr;
    SDL_AudioSpec wav{};
    Uint8* buffer = nullptr;
    Uint32 length = 0;
    if (!SDL_LoadWAV_RW(rw, 1, &wav, &buffer, &length)) {
        Log::warn("cannot read the sound " + path.string() + ": " + SDL_GetError());
        return nullptr;
    }
    std::shared_ptr<AudioPlayer> player(new AudioPlayer());
    player->_format = Format{wav.freq, wav.format, wav.channels, wav.silence};
    player->_samples.assign(buffer, buffer + length);
    SDL_FreeWAV(buffer);
    return player;
}

std::shared_ptr<AudioPlayer> AudioPlayer::createWithResource(const std::string& name,
                                                             const std::string& type) {
    auto path = Bundle::main().pathForResource(name, type, "sounds");
    if (!path) path = Bundle::main().pathForResource(name, type);
    if (!path) {
        Log::warn("no sound resource \"" + name + "." + type + "\"");
        return nullptr;
    }
    return createWithContentsOfFile(*path);
}

AudioPlayer::~AudioPlayer() {
    _watchTimer.reset();
    closeDevice();
}

void AudioPlayer::setVolume(double volume) {
    _volume = std::clamp(volume, 0.0, 1.0);
}

double AudioPlayer::duration() const {
    int frameBytes = SDL_AUDIO_BITSIZE(_format.format) / 8 * _format.channels;
    if (frameBytes <= 0 || _format.frequency <= 0) return 0;
    return double(_samples.size() / size_t(frameBytes)) / _format.frequency;
}

bool AudioPlayer::prepareToPlay() {
    return startAudio();
}

bool AudioPlayer::play() {
    if (_playing) return true;
    if (!startAudio()) return false;
    if (_samples.empty()) {
        // Nothing to hear: the playback ends at once, on the next turn of the loop.
        _playing = true;
        watchPlayback();
        return true;
    }
    SDL_AudioSpec want{};
    want.freq = _format.frequency;
    want.format = _format.format;
    want.channels = _format.channels;
    want.samples = 1024;
    // No allowed changes: SDL converts from the file's format to the device's.
    _device = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
    if (_device == 0) {
        Log::warn(std::string("cannot open the audio device: ") + SDL_GetError());
        return false;
    }
    int level = static_cast<int>(std::lround(_volume * SDL_MIX_MAXVOLUME));
    int queued;
    if (level >= SDL_MIX_MAXVOLUME) {
        queued = SDL_QueueAudio(_device, _samples.data(), static_cast<Uint32>(_samples.size()));
    } else {
        std::vector<std::uint8_t> scaled(_samples.size(), _format.silence);
        SDL_MixAudioFormat(scaled.data(), _samples.data(), _format.format,
                           static_cast<Uint32>(_samples.size()), level);
        queued = SDL_QueueAudio(_device, scaled.data(), static_cast<Uint32>(scaled.size()));
    }
    if (queued != 0) {
        Log::warn(std::string("cannot queue the sound: ") + SDL_GetError());
        closeDevice();
        return false;
    }
    SDL_PauseAudioDevice(_device, 0);
    _playing = true;
    watchPlayback();
    return true;
}

void AudioPlayer::watchPlayback() {
    using namespace std::chrono_literals;
    _watchTimer = RunLoop::main().timer(
        _device ? 20ms : 0ms,
        [this] {
            if (!_device || SDL_GetQueuedAudioSize(_device) == 0) finish();
        },
        20ms);
}

void AudioPlayer::finish() {
    _watchTimer.reset();
    closeDevice();
    _playing = false;
    if (_delegate.didFinishPlaying) _delegate.didFinishPlaying(*this, true);
}

void AudioPlayer::stop() {
    _watchTimer.reset();
    closeDevice();
    _playing = false;
}

void AudioPlayer::closeDevice() {
    if (_device) SDL_CloseAudioDevice(_device);
    _device = 0;
}

}  // namespace quorbit::platform
