// `kivviewer SHOW -render DIR` writes the show's sound beside the frames as DIR/sound.wav, from the
// same FROM to the same TO: a show whose music clicks at each slide start must show every slide change
// in the PNG frames within one frame of its click in the WAV file.
#include "support/HermeticFolders.h"
#include "support/RunProgram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kiv {
namespace {

namespace fs = std::filesystem;

const auto* const kHermetic = ::testing::AddGlobalTestEnvironment(new test::THermeticFolders);

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string StereoWav(const std::vector<std::int16_t>& samples) {
    std::string out = "RIFF";
    const auto put = [&out](std::uint32_t v, int width) {
        for (int i = 0; i < width; ++i)
            out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    put(36 + static_cast<std::uint32_t>(samples.size() * 2), 4);
    out += "WAVEfmt ";
    for (const auto& [value, width] :
         {std::pair{16u, 4}, {1u, 2}, {2u, 2}, {44100u, 4}, {176400u, 4}, {4u, 2}, {16u, 2}})
        put(value, width);
    out += "data";
    put(static_cast<std::uint32_t>(samples.size() * 2), 4);
    out.append(reinterpret_cast<const char*>(samples.data()), samples.size() * 2);
    return out;
}

TEST(RenderSound, EverySlideChangeInTheFramesIsWithinOneFrameOfItsClick) {
    if (std::system("ffmpeg -hide_banner -version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "the ffmpeg program is not installed (scripts/install-deps.sh installs it)";
    const fs::path dir = test::THermeticFolders::Top() / "render_sound";
    fs::create_directories(dir);
    // Slides start at 0, 1.5, 3 and 4.5 s; the music clicks (5 ms at high level) at each start.
    const int starts[] = {0, 1500, 3000, 4500};
    std::vector<std::int16_t> music(44100 * 2 * 6, 0);
    for (const int ms : starts)
        for (int f = ms * 441 / 10; f < ms * 441 / 10 + 220; ++f)
            music[2 * f] = music[2 * f + 1] = 24000;
    std::ofstream(dir / "click.wav", std::ios::binary) << StereoWav(music);
    std::string show = "[Main]\nopt_scr_width=1280\nopt_scr_height=720\nopt_repeat=stop\nopt_syncmode=1\n"
                       "object Music:Music\n  object T:TMusicTrack\n    object S:TMusicItem\n"
                       "      FileName=click.wav\n      Duration=6000\n    end\n  end\n"
                       "  object O:TMusicOptions\n    IsRepeat=0\n  end\nend\n"
                       "[Times]\nopt_slidescount=4\nopt_synchpos1=1500\nopt_synchpos2=3000\n"
                       "opt_synchpos3=4500\nopt_synchpos4=6000\n";
    // Black, white, black, white (colours 0x00BBGGRR), cut without transition.
    for (int k = 1; k <= 4; ++k)
        show += "[Slide" + std::to_string(k) + "]\nbstyle=1\nbcolor=" + (k % 2 ? "0" : "16777215") +
                "\nPers_EndAction=timer\nobject Container:Root\n  GUID=root" + std::to_string(k) + "\nend\n";
    std::ofstream(dir / "Show.kiv") << show;

    const double from = 700, fps = 25;
    const fs::path frames = dir / "frames";
    const test::TRunResult run =
        test::RunProgram(KIVVIEWER_PATH,
                         {"-filename", (dir / "Show.kiv").string(), "-render", frames.string(), "-size",
                          "32x18", "-fps", "25", "-from", "700", "-to", "5500"},
                         dir, "SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy");
    ASSERT_EQ(run.exitCode, 0) << run.err;

    // The middle pixel of every frame, and the frames whose brightness flips against the one before.
    const fs::path raw = dir / "frames.raw";
    const std::string command = "ffmpeg -v error -y -i " +
                                test::ShellQuote((frames / "frame-%06d.png").string()) +
                                " -vf crop=2:2 -f rawvideo -pix_fmt gray " + test::ShellQuote(raw.string());
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::string pixels = ReadFile(raw);
    ASSERT_EQ(pixels.size(), 4u * 120) << "frames 700 … 5500 ms at 25 fps";
    std::vector<double> changes; // ms of the first frame of each new slide
    for (std::size_t k = 4; k < pixels.size(); k += 4)
        if ((static_cast<std::uint8_t>(pixels[k]) > 128) != (static_cast<std::uint8_t>(pixels[k - 4]) > 128))
            changes.push_back(from + static_cast<double>(k / 4) * 1000 / fps);

    // The clicks in sound.wav: where the level rises above half after a quiet stretch.
    const std::string wav = ReadFile(frames / "sound.wav");
    ASSERT_EQ(wav.size(), 44u + 4 * std::llround((5500 - from) * 44.1));
    std::vector<std::int16_t> sound((wav.size() - 44) / 2);
    std::memcpy(sound.data(), wav.data() + 44, sound.size() * 2);
    std::vector<double> clicks;
    for (std::size_t f = 1; f < sound.size() / 2; ++f)
        if (sound[2 * f] > 12000 && sound[2 * f - 2] <= 12000)
            clicks.push_back(from + static_cast<double>(f) / 44.1);

    ASSERT_EQ(changes.size(), 3u) << "slides 2, 3 and 4 start inside the stretch";
    ASSERT_EQ(clicks.size(), changes.size());
    for (std::size_t i = 0; i < clicks.size(); ++i) {
        EXPECT_NEAR(clicks[i], starts[i + 1], 1) << "the music is where it belongs";
        // A slide starting between two frames shows from the later one.
        EXPECT_NEAR(changes[i], clicks[i], 1000 / fps) << i;
    }
}

// A GIF clip of 1 x 1 pictures on a 1000 x 1000 screen, drawn far below its size: the slide loader
// prepares the clip's stand-in picture at a reduced level, and the show renders to its end.
TEST(RenderSound, AGifClipOnAHugeScreenRendersAtAnyLevel) {
    const fs::path dir = test::THermeticFolders::Top() / "render_gif";
    fs::create_directories(dir);
    std::string gif = "GIF89a";
    const auto u16 = [&gif](int v) { gif += static_cast<char>(v & 0xFF), gif += static_cast<char>(v >> 8); };
    u16(1000), u16(1000);
    gif += std::string("\x80\x00\x00\xff\x00\x00\x00\x00\xff", 9); // two colours, red and blue
    for (int k = 0; k < 30; ++k) {
        gif += std::string("\x21\xf9\x04\x00\x01\x00\x00\x00\x2c", 9);
        u16(k * 30), u16(k * 30), u16(1), u16(1);
        gif += std::string("\x00\x02\x02\x44\x01\x00", 6); // one pixel of colour 0
    }
    gif += ';';
    std::ofstream(dir / "dots.gif", std::ios::binary) << gif;
    std::ofstream(dir / "Show.kiv") << "[Main]\nopt_scr_width=800\nopt_scr_height=600\n[Times]\n"
                                       "opt_slidescount=1\nopt_synchpos1=3000\n[Slide1]\n"
                                       "object Container:Root\nGUID=root\nobject v:Video\nGUID=v\n"
                                       "FileName=dots.gif\nDuration=3000\nobject k:KeyPoint\nTime=0\n"
                                       "ScaleX=10\nScaleY=10\nend\nend\nend\n";
    const fs::path frames = dir / "frames";
    const test::TRunResult run = test::RunProgram(
        KIVVIEWER_PATH,
        {"-filename", (dir / "Show.kiv").string(), "-render", frames.string(), "-size", "160x120", "-to", "400"},
        dir, "SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::exists(frames / "frame-000010.png")) << run.err;
}

} // namespace
} // namespace kiv
