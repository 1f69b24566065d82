// Runs `kivtool mix` on shows written by the test and reads the WAV it writes: a sine as the
// background music must come out frame for frame at its volume, wherever the mix begins, and a click
// as every slide's comment must sound on the first frame of its slide.
#include "../audio/SoundTestFiles.h"

#include "audio/MusicCompiler.h"
#include "support/RunProgram.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace kiv {
namespace {

namespace fs = std::filesystem;

// The channel fade-in every sound starts with: 10 ms, gain 0 at its first frame.
constexpr int kFadeFrames = 441;

class MixCommand : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kivtool_mix_" + std::to_string(::getpid()) + "_" +
                                            testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir_);
    }

    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }

    // A show of slides ending at `syncs`; `slideText` adds keys to every slide, `mainText` to [Main].
    void WriteShow(const std::vector<int>& syncs, const std::string& mainText, const std::string& slideText) {
        std::string text = "[Main]\nMinorVersion=13\n" + mainText +
                           "[Times]\nopt_slidescount=" + std::to_string(syncs.size()) + "\n";
        for (std::size_t i = 0; i < syncs.size(); ++i)
            text += "opt_synchpos" + std::to_string(i + 1) + "=" + std::to_string(syncs[i]) + "\n";
        for (std::size_t i = 0; i < syncs.size(); ++i)
            text += "[Slide" + std::to_string(i + 1) + "]\n" + slideText;
        Write("show.kiv", text);
    }


    // `arguments` split at spaces (the test's paths have none).
    test::TRunResult Run(const std::string& arguments) {
        std::vector<std::string> args;
        std::istringstream words(arguments);
        for (std::string word; words >> word;)
            args.push_back(word);
        return test::RunProgram(KIVTOOL_PATH, args, dir_);
    }

    std::string Show() const { return (dir_ / "show.kiv").string(); }

    // Mixes with `range` (e.g. "--from 10") and reads the samples back; checks the header.
    std::optional<std::vector<std::int16_t>> Mix(const std::string& range) {
        const std::string wav = (dir_ / "out.wav").string();
        fs::remove(wav);
        const test::TRunResult run = Run("mix " + Show() + " -o " + wav + " " + range);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.err.find("x real time"), std::string::npos) << run.err;
        std::ifstream in(wav, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        if (run.exitCode != 0 || bytes.size() < 44) return std::nullopt;
        const auto u32 = [&](std::size_t at) {
            std::uint32_t v = 0;
            for (int i = 3; i >= 0; --i)
                v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
            return v;
        };
        const std::uint32_t data = u32(40);
        EXPECT_EQ(bytes.substr(0, 4), "RIFF");
        EXPECT_EQ(u32(4), 36 + data);
        EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
        EXPECT_EQ(u32(20), 0x00020001u); // PCM, 2 channels
        EXPECT_EQ(u32(24), 44100u);
        EXPECT_EQ(u32(28), 44100u * 4);
        EXPECT_EQ(u32(32), 0x00100004u); // 4 bytes a frame, 16 bits
        EXPECT_EQ(bytes.substr(36, 4), "data");
        EXPECT_EQ(bytes.size(), 44 + data);
        std::vector<std::int16_t> samples(data / 2);
        if (!samples.empty()) std::memcpy(samples.data(), bytes.data() + 44, samples.size() * 2);
        return samples;
    }

    // The slide starts as `kivtool timeline` reports them, and the period.
    std::vector<double> SlideStarts(double& period) {
        const test::TRunResult run = Run("timeline " + Show());
        std::smatch match;
        std::regex_search(run.out, match, std::regex("\"period\":([0-9.]+)"));
        period = match.empty() ? -1 : std::stod(match[1]);
        std::vector<double> starts;
        const std::regex start("\"start\":([0-9.]+)");
        for (auto it = std::sregex_iterator(run.out.begin(), run.out.end(), start);
             it != std::sregex_iterator(); ++it)
            starts.push_back(std::stod((*it)[1]));
        return starts;
    }

    fs::path dir_;
};

TEST_F(MixCommand, ASineMusicComesOutAtItsVolumeFromEveryStartAndBadCallsFail) {
    // 6 s of a different sine on each side, at half volume under two slides of 2 s.
    constexpr int kFrames = 6 * 44100;
    std::vector<std::int16_t> sine;
    for (int f = 0; f < kFrames; ++f) {
        sine.push_back(
            static_cast<std::int16_t>(std::lround(12000 * std::sin(2 * M_PI * 523.25 * f / 44100))));
        sine.push_back(
            static_cast<std::int16_t>(std::lround(-9000 * std::sin(2 * M_PI * 331.0 * f / 44100))));
    }
    Write("sine.wav", test::WavBytes(sine, 44100, 2));
    WriteShow({2000, 4000},
              "opt_syncmode=1\n" + std::string("object Music:Music\n  object T:TMusicTrack\n"
                                               "    object S:TMusicItem\n      FileName=sine.wav\n"
                                               "      Duration=6000\n      Volume=50\n    end\n  end\nend\n"),
              "");
    double period = 0;
    SlideStarts(period);
    ASSERT_EQ(period, 4000);

    struct TCase {
        std::string range;
        double from;
        double to;
    };
    const TCase cases[] = {
        {"", 0, 4000},                         // one pass of the show
        {"--from 1000 --to 3000", 1000, 3000}, // whole steps of the player
        {"--to 2500 --from 1234", 1234, 2500}, // neither on a step nor on a whole frame
        {"--from 3999 --to 3999", 3999, 3999}, // nothing
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.range);
        const auto mix = Mix(c.range);
        ASSERT_TRUE(mix);
        const auto frames = static_cast<std::size_t>(std::llround((c.to - c.from) * 44.1));
        ASSERT_EQ(mix->size(), frames * 2);
        // Frame i is the sine's frame at FROM + i / 44.1 ms, halved, under the channel's fade-in and,
        // in the first 10 ms of the music, under its own edge.
        const auto first = static_cast<std::size_t>(std::llround(c.from * 44.1));
        int wrong = 0;
        for (std::size_t i = 0; i < frames && wrong < 5; ++i) {
            const double ramp = std::min(1.0, static_cast<double>(i) / kFadeFrames) *
                                std::min(1.0, static_cast<double>(first + i) / kFadeFrames);
            for (std::size_t side = 0; side < 2; ++side) {
                const double expected = sine[(first + i) * 2 + side] * 0.5 * ramp;
                if (std::abs((*mix)[i * 2 + side] - expected) > 1.0) {
                    ADD_FAILURE() << "frame " << i << " side " << side << ": " << (*mix)[i * 2 + side]
                                  << " instead of " << expected;
                    ++wrong;
                }
            }
        }
    }

    const std::string wav = (dir_ / "bad.wav").string();
    const struct {
        std::string arguments;
        int code;
    } calls[] = {
        {"mix " + Show(), 2},                                       // no output
        {"mix -o " + wav, 2},                                       // no show
        {"mix " + Show() + " -o " + wav + " --from x", 2},          // not a number
        {"mix " + Show() + " -o " + wav + " --from -5", 2},         // before the show
        {"mix " + Show() + " -o " + wav + " --from 20 --to 10", 2}, // ends before it begins
        {"mix " + Show() + " " + Show() + " -o " + wav, 2},         // two shows
        {"mix " + (dir_ / "none.kiv").string() + " -o " + wav, 1},  // no such show
        {"mix " + Show() + " -o " + dir_.string(), 1},              // a folder as the output
        {"mix " + Show() + " -o " + wav + " --to 100000000000", 1}, // too long for a WAV file
    };
    for (const auto& call : calls) {
        const test::TRunResult run = Run(call.arguments);
        EXPECT_EQ(run.exitCode, call.code) << call.arguments << "\n" << run.err;
        EXPECT_FALSE(run.err.empty()) << call.arguments;
    }
}

TEST_F(MixCommand, EverySlidesCommentClickSoundsOnTheFirstFramesOfItsSlide) {
    // A click: 2 ms at a constant level, then silence, 100 ms in all.
    std::vector<std::int16_t> click = test::Constant(88, 2, 20000);
    click.resize(4410 * 2, 0);
    Write("click.wav", test::WavBytes(click, 44100, 2));
    // Slide starts that lie between the player's 5 ms steps, one on a step.
    WriteShow({1003, 2507, 3911, 5000, 6120}, "",
              "object Music:Music\n  object C:TSoundComment\n    FileName=click.wav\n    Duration=100\n"
              "  end\nend\n");
    double period = 0;
    const std::vector<double> starts = SlideStarts(period);
    ASSERT_EQ(starts.size(), 5u);
    // From the start, and from inside the first slide, whose click has then passed.
    for (const double from : {0.0, 500.0}) {
        SCOPED_TRACE(from);
        const auto mix = Mix("--from " + std::to_string(from));
        ASSERT_TRUE(mix);
        // An onset: the first sound after at least 20 ms of silence.
        std::vector<std::int64_t> onsets;
        std::int64_t lastSound = -100000;
        for (std::size_t i = 0; i < mix->size() / 2; ++i) {
            if ((*mix)[i * 2] == 0 && (*mix)[i * 2 + 1] == 0) continue;
            const auto frame = static_cast<std::int64_t>(i);
            if (frame - lastSound > 882) onsets.push_back(frame);
            lastSound = frame;
        }
        std::vector<std::int64_t> expected;
        for (const double start : starts)
            if (start >= from) expected.push_back(std::llround((start - from) * 44.1));
        ASSERT_EQ(onsets.size(), expected.size());
        for (std::size_t k = 0; k < onsets.size(); ++k)
            EXPECT_NEAR(static_cast<double>(onsets[k]), static_cast<double>(expected[k]), 44.1)
                << "slide " << k;
    }
}

// Background music that runs free of the show clock (no opt_syncmode) starts where the show starts
// playing, on the first frame of the mix wherever it begins: frame i is the music's own frame i
// under the channel's fade-in and the music's edge, to the sample.
TEST_F(MixCommand, FreeRunningMusicStartsOnTheFirstFrameOfTheMix) {
    constexpr int kFrames = 6 * 44100;
    std::vector<std::int16_t> sine;
    for (int f = 0; f < kFrames; ++f) {
        const auto v = static_cast<std::int16_t>(std::lround(12000 * std::sin(2 * M_PI * 523.25 * f / 44100)));
        sine.push_back(v);
        sine.push_back(static_cast<std::int16_t>(-v));
    }
    Write("sine.wav", test::WavBytes(sine, 44100, 2));
    WriteShow({2000, 4000},
              "object Music:Music\n  object T:TMusicTrack\n    object S:TMusicItem\n      FileName=sine.wav\n"
              "      Duration=6000\n    end\n  end\nend\n",
              "");
    for (const std::string range : {"", "--from 1234 --to 2500"}) {
        SCOPED_TRACE(range);
        const auto mix = Mix(range);
        ASSERT_TRUE(mix);
        int wrong = 0;
        for (std::size_t i = 0; i < mix->size() / 2 && wrong < 5; ++i) {
            const double ramp = std::min(1.0, static_cast<double>(i) / kFadeFrames);
            // The mix leaves a gain within 1 % of 1 as it is.
            const double edge = ramp > 0.99 ? 1.0 : ramp;
            for (std::size_t side = 0; side < 2; ++side) {
                const double expected = sine[i * 2 + side] * ramp * edge;
                if (std::abs((*mix)[i * 2 + side] - expected) > 1.0) {
                    ADD_FAILURE() << "frame " << i << " side " << side << ": " << (*mix)[i * 2 + side]
                                  << " instead of " << expected;
                    ++wrong;
                }
            }
        }
    }
}

// Music in AAC, as M4A and as a raw ADTS stream (made by ffmpeg), is recognised as sound and
// heard in the mix at its level.
TEST_F(MixCommand, AacMusicInM4aAndAdtsFilesPlaysInTheMix) {
    if (std::system("ffmpeg -hide_banner -version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "the ffmpeg program is not installed (scripts/install-deps.sh installs it)";
    for (const std::string file : {"music.m4a", "music.aac"}) {
        SCOPED_TRACE(file);
        const std::string command = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i "
                                    "'aevalsrc=0.5*sin(2*PI*440*t)|0.5*sin(2*PI*440*t):s=44100:d=3' -c:a aac -b:a 192k " +
                                    (dir_ / file).string();
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        WriteShow({2000},
                  "opt_syncmode=1\nobject Music:Music\n  object T:TMusicTrack\n    object S:TMusicItem\n"
                  "      FileName=" + file + "\n      Duration=2000\n    end\n  end\nend\n",
                  "");
        const auto mix = Mix("");
        ASSERT_TRUE(mix);
        ASSERT_EQ(mix->size(), 2u * 88200);
        double power = 0;
        for (std::size_t i = 2 * 22050; i < 2 * 66150; ++i)
            power += static_cast<double>((*mix)[i]) * (*mix)[i];
        // A sine at half scale: 11585 as its root mean square.
        EXPECT_NEAR(std::sqrt(power / (2 * 44100)), 32767 * 0.5 / std::sqrt(2.0), 300);
    }
}

// Music a show makes to exhaust the player: hundreds of tracks or loose items sounding at once
// (every one an open file and a decoder), and a 1 ms item that repeats (every pass would be a sound
// of its own, thousands within the look-ahead). Only as many tracks and items sound as the limits
// allow, the level tells how many, and the tiny music mixes to its end.
TEST_F(MixCommand, HostileMusicIsCutToItsLimits) {
    Write("level.wav", test::WavBytes(test::Constant(44100, 2, 100), 44100, 2));
    std::string tracks, loose;
    for (int i = 0; i < 200; ++i) {
        tracks += "  object T" + std::to_string(i) +
                  ":TMusicTrack\n    object S:TMusicItem\n      FileName=level.wav\n      Duration=1000\n"
                  "    end\n  end\n";
        loose += "  object S" + std::to_string(i) + ":TMusicItem\n    FileName=level.wav\n    Duration=1000\n  end\n";
    }
    const struct {
        const char* name;
        std::string music;
        int level; // at 500 ms, both sides
    } crowds[] = {
        {"200 tracks", tracks, static_cast<int>(kMaxMusicTracks) * 100},
        {"200 loose items", loose, static_cast<int>(kMaxSoundingItems) * 100},
    };
    for (const auto& crowd : crowds) {
        SCOPED_TRACE(crowd.name);
        WriteShow({2000}, "object Music:Music\n" + crowd.music + "end\n", "");
        const auto mix = Mix("--to 1000");
        ASSERT_TRUE(mix);
        ASSERT_EQ(mix->size(), 44100u * 2);
        EXPECT_EQ((*mix)[22050 * 2], crowd.level);
        EXPECT_EQ((*mix)[22050 * 2 + 1], crowd.level);
    }

    Write("loud.wav", test::WavBytes(test::Constant(44100, 2, 20000), 44100, 2));
    for (const std::string sync : {"0", "1"}) {
        SCOPED_TRACE("opt_syncmode=" + sync);
        WriteShow({3000, 6000},
                  "opt_syncmode=" + sync +
                      "\nobject Music:Music\n  object T:TMusicTrack\n    object S:TMusicItem\n"
                      "      FileName=loud.wav\n      Duration=1\n    end\n  end\n"
                      "  object O:TMusicOptions\n    IsRepeat=1\n  end\nend\n",
                  "");
        const auto mix = Mix("--to 2000");
        ASSERT_TRUE(mix);
        ASSERT_EQ(mix->size(), 88200u * 2);
        // Its own 10 ms edges leave a 1 ms item silent: every pass adds nothing but cost.
        EXPECT_EQ(std::count(mix->begin(), mix->end(), 0), static_cast<std::ptrdiff_t>(mix->size()));
    }
}

} // namespace
} // namespace kiv
