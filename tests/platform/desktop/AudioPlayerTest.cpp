#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include "platform/core/Bundle.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/AudioPlayer.h"
#include "support/LogCapture.h"
#include "support/Scratch.h"

namespace quorbit::platform {
namespace {

// A mono 16-bit PCM WAV file of the given number of samples at 8 kHz: a square wave.
std::string wavOf(std::uint32_t samples) {
    auto le = [](std::size_t v, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i)
            out.push_back(char((v >> (8 * i)) & 0xff));
        return out;
    };
    std::string data;
    for (std::uint32_t i = 0; i < samples; ++i)
        data += le((i % 20) < 10 ? 8000 : 0xffff - 8000, 2);
    // PCM, mono, the rate, bytes a second, a block and bits a sample.
    return "RIFF" + le(36 + data.size(), 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) +
           le(8000, 4) + le(16000, 4) + le(2, 2) + le(16, 2) + "data" + le(data.size(), 4) + data;
}

TEST(AudioPlayer, MissingOrBrokenFilesGiveNoPlayerAndSayWhy) {
    testing::LogCapture capture;
    testing::ScratchDir dir("quorbit-audio");
    auto junk = dir.write("quorbit-not-a.wav", "RIFF but not really");
    EXPECT_EQ(AudioPlayer::createWithContentsOfFile("/nonexistent/click.wav"), nullptr);
    EXPECT_EQ(AudioPlayer::createWithContentsOfFile(junk), nullptr);
    EXPECT_EQ(AudioPlayer::createWithResource("no such sound"), nullptr);
    EXPECT_EQ(capture.lines().size(), 3u);
    for (const char* named : {"/nonexistent/click.wav", "quorbit-not-a.wav", "no such sound"})
        EXPECT_EQ(capture.count(named), 1) << named;
}

TEST(AudioPlayer, PlaysToTheEndAndTellsTheDelegate) {
    testing::ScratchDir dir("quorbit-audio");
    // A tenth of a second; nothing at all.
    for (auto [samples, seconds] : {std::pair(800u, 0.1), std::pair(0u, 0.0)}) {
        auto player = AudioPlayer::createWithContentsOfFile(dir.write("a.wav", wavOf(samples)));
        ASSERT_NE(player, nullptr);
        EXPECT_DOUBLE_EQ(player->duration(), seconds);
        int finished = 0;
        player->setDelegate({[&](AudioPlayer&, bool ok) { finished += ok ? 1 : 100; }});
        player->setVolume(0.5);
        ASSERT_TRUE(player->play());
        EXPECT_TRUE(player->isPlaying());
        EXPECT_TRUE(player->play()) << "playing again while playing carries on";
        RunLoop::main().runUntil([&] { return finished > 0; }, std::chrono::seconds(3));
        EXPECT_EQ(finished, 1) << samples << " samples";
        EXPECT_FALSE(player->isPlaying());

        // Stopped early: silent, and the delegate hears nothing.
        ASSERT_TRUE(player->play());
        player->stop();
        RunLoop::main().runFor(std::chrono::milliseconds(150));
        EXPECT_EQ(finished, 1);
    }
}

// The sounds the application ships: each loads through the player, is short, starts at once (a
// shutter must not lag behind the tap), and is neither near silence nor clipped.
TEST(ShippedSounds, LoadAndSoundRight) {
    for (auto [name, maxSeconds] :
         {std::pair("camera click", 0.3), std::pair("timer tick", 0.15)}) {
        SCOPED_TRACE(name);
        auto player = AudioPlayer::createWithResource(name, "wav");
        ASSERT_NE(player, nullptr);
        EXPECT_GT(player->duration(), 0.03);
        EXPECT_LE(player->duration(), maxSeconds);

        auto path = Bundle::main().pathForResource(name, "wav", "sounds");
        ASSERT_TRUE(path);
        SDL_AudioSpec audio{};
        Uint8* buffer = nullptr;
        Uint32 length = 0;
        ASSERT_NE(SDL_LoadWAV(path->c_str(), &audio, &buffer, &length), nullptr);
        ASSERT_EQ(audio.format, AUDIO_S16LSB);
        ASSERT_EQ(audio.channels, 1);
        std::vector<Sint16> samples(length / 2);
        std::copy_n(reinterpret_cast<Sint16*>(buffer), samples.size(), samples.data());
        SDL_FreeWAV(buffer);
        ASSERT_FALSE(samples.empty());
        auto loudest = std::max_element(samples.begin(), samples.end(), [](Sint16 a, Sint16 b) {
            return std::abs(int(a)) < std::abs(int(b));
        });
        double peak = std::abs(int(*loudest)) / 32768.0;
        EXPECT_GT(peak, 0.3);
        EXPECT_LT(peak, 0.95);
        double peakAt = double(loudest - samples.begin()) / audio.freq;
        EXPECT_LT(peakAt, 0.01) << "seconds before the loudest moment";
        EXPECT_LT(std::abs(int(samples.back())), 100) << "ends quietly, without a click";
    }
}

}  // namespace
}  // namespace quorbit::platform
