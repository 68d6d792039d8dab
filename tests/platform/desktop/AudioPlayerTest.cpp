#include <gtest/gtest.h>

#include <cstdint>

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
    auto& lines = capture.lines();
    testing::ScratchDir dir("quorbit-audio");
    auto junk = dir.write("quorbit-not-a.wav", "RIFF but not really");
    EXPECT_EQ(AudioPlayer::createWithContentsOfFile("/nonexistent/click.wav"), nullptr);
    EXPECT_EQ(AudioPlayer::createWithContentsOfFile(junk), nullptr);
    EXPECT_EQ(AudioPlayer::createWithResource("no such sound"), nullptr);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("/nonexistent/click.wav"), std::string::npos);
    EXPECT_NE(lines[1].find("quorbit-not-a.wav"), std::string::npos);
    EXPECT_NE(lines[2].find("no such sound"), std::string::npos);
}

TEST(AudioPlayer, PlaysToTheEndAndTellsTheDelegate) {
    struct Case {
        std::uint32_t samples;
        double seconds;
    } cases[] = {{800, 0.1}, {0, 0.0}};  // a tenth of a second; nothing at all
    testing::ScratchDir dir("quorbit-audio");
    for (const auto& c : cases) {
        auto path = dir.write("quorbit-test.wav", wavOf(c.samples));
        auto player = AudioPlayer::createWithContentsOfFile(path);
        ASSERT_NE(player, nullptr);
        EXPECT_DOUBLE_EQ(player->duration(), c.seconds);
        int finished = 0;
        player->setDelegate({[&](AudioPlayer&, bool ok) { finished += ok ? 1 : 100; }});
        player->setVolume(0.5);
        ASSERT_TRUE(player->play());
        EXPECT_TRUE(player->isPlaying());
        EXPECT_TRUE(player->play()) << "playing again while playing carries on";
        RunLoop::main().runUntil([&] { return finished > 0; }, std::chrono::seconds(3));
        EXPECT_EQ(finished, 1) << c.samples << " samples";
        EXPECT_FALSE(player->isPlaying());

        // Stopped early: silent, and the delegate hears nothing.
        ASSERT_TRUE(player->play());
        player->stop();
        RunLoop::main().runFor(std::chrono::milliseconds(150));
        EXPECT_EQ(finished, 1);
    }
}

}  // namespace
}  // namespace quorbit::platform
