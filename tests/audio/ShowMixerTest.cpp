// The offline mixer handed out in pieces, as a video export asks for it frame by frame, must give
// the same frames as in one piece: pieces that end between the player's steps must not pull the
// mix ahead of what the player has started.
#include "audio/ShowMixer.h"

#include "package/FileAccessor.h"
#include "project/ShowProjectSupport.h"

#include "SoundTestFiles.h"
#include "audio/MusicPlayerSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace kiv {
namespace {

TEST(ShowMixerTest, MixingFrameByFrameGivesTheFramesOfOneGo) {
    const std::string dir = testing::TempDir() + "kiv_show_mixer_" + std::to_string(::getpid()) + "/";
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "sine.wav", std::ios::binary)
        << test::WavBytes(test::Sine(44100 * 4, 44100, 2, 330, 9000), 44100, 2);
    std::vector<std::int16_t> click = test::Constant(1800, 2, 15000);
    click.resize(4410 * 2, 0);
    std::ofstream(dir + "click.wav", std::ios::binary) << test::WavBytes(click, 44100, 2);
    std::string project =
        "[Main]\nopt_syncmode=1\n" +
        test::Music(test::Item("S", "      FileName=" + dir + "sine.wav\n      Duration=4000\n")) +
        test::TimesText({1003, 2507, 4000});
    for (int slide = 1; slide <= 3; ++slide)
        project += test::Comment(slide, "    FileName=" + dir + "click.wav\n    Duration=100\n");
    const auto show = [&] {
        TKivSourceSetup setup;
        setup.document = test::ParseIni(project);
        setup.programFileName = "kivviewer";
        setup.random = MakeRef<TTransitionRandom>(1);
        setup.fileAccessor = ProcessFileAccessor();
        return MakeRef<TKivSource>(std::move(setup));
    };
    const double from = 250.5, to = 3100;

    std::vector<std::int16_t> whole;
    TShowMixer once(show(), from);
    once.MixTo(to, [&](const std::int16_t* samples, int frames) {
        whole.insert(whole.end(), samples, samples + frames * 2);
    });

    std::vector<std::int16_t> pieces;
    int largest = 0;
    TShowMixer stepped(show(), from);
    for (int k = 1; from + k * 1000.0 / 30 < to; ++k) {
        stepped.MixTo(from + k * 1000.0 / 30, [&](const std::int16_t* samples, int frames) {
            largest = std::max(largest, frames);
            pieces.insert(pieces.end(), samples, samples + frames * 2);
        });
        ASSERT_EQ(stepped.FramesMixed(), stepped.FrameAt(from + k * 1000.0 / 30));
    }
    stepped.MixTo(to, [&](const std::int16_t* samples, int frames) {
        pieces.insert(pieces.end(), samples, samples + frames * 2);
    });
    stepped.MixTo(1000, [&](const std::int16_t*, int) { ADD_FAILURE() << "mixed again"; });

    ASSERT_EQ(whole.size(), static_cast<std::size_t>(std::llround((to - from) * 44.1)) * 2);
    EXPECT_GT(*std::max_element(whole.begin(), whole.end()), 15000 + 8500); // music and click together
    EXPECT_LE(largest, 221);                                                // at most one player step of 5 ms
    EXPECT_TRUE(pieces == whole);
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace kiv
