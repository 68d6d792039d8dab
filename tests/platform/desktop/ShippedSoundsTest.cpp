#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/core/Bundle.h"
#include "platform/desktop/AudioPlayer.h"

namespace quorbit::platform {
namespace {

// The sounds the application ships: each loads through the player, is short, starts at once (a
// shutter must not lag behind the tap), and is neither near silence nor clipped.
TEST(ShippedSounds, LoadAndSoundRight) {
    struct Case {
        const char* name;
        double maxSeconds;
    } cases[] = {{"camera click", 0.3}, {"timer tick", 0.15}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto player = AudioPlayer::createWithResource(c.name, "wav");
        ASSERT_NE(player, nullptr);
        EXPECT_GT(player->duration(), 0.03);
        EXPECT_LE(player->duration(), c.maxSeconds);

        auto path = Bundle::main().pathForResource(c.name, "wav", "sounds");
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
