// Export to video: the writer's pictures and sound line up in every container as players decode
// them (a cut to white and a tone both start at 1 s, measured by FFmpeg's own detectors), and
// `kivviewer SHOW -render OUT.mp4` exports a hand-made show whole (frame count, duration, progress
// line), refuses bad switch values, and leaves nothing under either name when SIGINT ends it.
#include "app/VideoExport.h"

#include "../engine/EngineTestSupport.h"
#include "support/ChildProcess.h"
#include "support/HermeticFolders.h"
#include "support/RunProgram.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

extern char** environ;

namespace kiv {
namespace {

namespace fs = std::filesystem;

const auto* const kHermetic = ::testing::AddGlobalTestEnvironment(new test::THermeticFolders);

fs::path Scratch() {
    const fs::path dir =
        test::THermeticFolders::Top() / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(dir);
    return dir;
}

// Standard output and error of a shell command.
std::string Capture(const std::string& command) {
    std::string text;
    if (std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
            text.append(buffer, got);
        ::pclose(pipe);
    }
    return text;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The first number after `key` in `text`; NaN when there is none.
double NumberAfter(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key);
    return at == std::string::npos ? NAN : std::strtod(text.c_str() + at + key.size(), nullptr);
}

struct TProbe {
    int videoFrames = -1;
    double duration = NAN;
    double videoStart = NAN;
    double audioStart = NAN;
    std::string codecs;
};

TProbe Probe(const fs::path& file) {
    const std::string text =
        Capture("ffprobe -v error -count_frames -show_entries stream=codec_type,codec_name,nb_read_frames,"
                "start_time:format=duration -of flat " +
                test::ShellQuote(file.string()));
    TProbe probe;
    const std::regex entry(R"(streams\.stream\.(\d)\.(\w+)=\"?([^\"\n]*)\"?)");
    std::string types[2];
    for (std::sregex_iterator it(text.begin(), text.end(), entry), end; it != end; ++it) {
        const int index = std::stoi((*it)[1]);
        if (index < 2 && (*it)[2] == "codec_type") types[index] = (*it)[3];
    }
    for (std::sregex_iterator it(text.begin(), text.end(), entry), end; it != end; ++it) {
        const int index = std::stoi((*it)[1]);
        if (index >= 2) continue;
        const std::string key = (*it)[2], value = (*it)[3];
        const bool video = types[index] == "video";
        if (key == "codec_name") probe.codecs += (probe.codecs.empty() ? "" : "+") + value;
        if (key == "nb_read_frames" && video) probe.videoFrames = std::stoi(value);
        if (key == "start_time")
            (video ? probe.videoStart : probe.audioStart) = std::strtod(value.c_str(), nullptr);
    }
    probe.duration = NumberAfter(text, "format.duration=\"");
    return probe;
}

TEST(VideoWriter, PicturesAndSoundStartTogetherInEveryContainer) {
    // The picture turns white and a 1 kHz tone starts at frame `fps`, i.e. at 1 s, whatever the
    // frame rate: at 24 fps a frame holds 1837.5 samples, so the frame starts are rounded.
    struct TCase {
        const char* name;
        double fps;
        const char* codecs;
    };
    for (const TCase& c : {TCase{"cut.mp4", 25, "h264+aac"}, TCase{"cut.mkv", 30, "h264+aac"},
                           TCase{"cut.webm", 24, "vp9+opus"}}) {
        SCOPED_TRACE(c.name);
        const fs::path file = Scratch() / c.name;
        const int frames = static_cast<int>(3 * c.fps);
        const int cut = static_cast<int>(c.fps);
        {
            TVideoWriter writer(file.string(), file.string(), TVideoSettings{64, 36, c.fps, 20});
            TBitmap picture(64, 36, TPixelFormat::Bgra32);
            for (int k = 0; k < frames; ++k) {
                std::fill(picture.Pixels(), picture.Pixels() + 64 * 36 * 4, k < cut ? 0 : 255);
                const std::int64_t first = FrameFirstSample(k, c.fps);
                const int count = static_cast<int>(FrameFirstSample(k + 1, c.fps) - first);
                std::vector<std::int16_t> sound(static_cast<std::size_t>(count) * 2, 0);
                for (int i = 0; i < count && k >= cut; ++i) {
                    const double t = static_cast<double>(first + i) / kExportSampleRate;
                    sound[2 * i] = sound[2 * i + 1] =
                        static_cast<std::int16_t>(16000 * std::sin(2 * M_PI * 1000 * t));
                }
                writer.AddFrame(picture, sound.data(), count);
            }
            writer.Finish();
        }
        const TProbe probe = Probe(file);
        EXPECT_EQ(probe.codecs, c.codecs);
        EXPECT_EQ(probe.videoFrames, frames);
        const std::string found =
            Capture("ffmpeg -hide_banner -nostats -i " + test::ShellQuote(file.string()) +
                    " -vf blackdetect=d=0.01:pix_th=0.1 -af silencedetect=n=-30dB:d=0.01"
                    " -f null -");
        const double pictureCut = NumberAfter(found, "black_end:");
        const double soundCut = NumberAfter(found, "silence_end: ");
        // The picture cut lies on its frame's time, 1 s after the first frame; the tone's onset
        // within a few samples of it (lossy codecs spread an onset by a millisecond or two).
        EXPECT_NEAR(NumberAfter(found, "black_duration:"), 1.0, 0.001) << found;
        EXPECT_NEAR(soundCut - pictureCut, 0.0, 0.004) << found;
    }
}

#ifdef KIVVIEWER_PATH
TEST(VideoExport, ExportsTheShowWholeAndRefusesBadSwitches) {
    const fs::path dir = Scratch();
    std::ofstream(dir / "Show.kiv") << test::EngineShowText();
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"-filename", (dir / "Show.kiv").string()});
        return test::RunProgram(KIVVIEWER_PATH, args, dir, "SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy");
    };
    const fs::path out = dir / "show.mp4";
    const test::TRunResult exported =
        run({"-render", out.string(), "-to", "3000", "-size", "64x36", "-crf", "30"});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_NE(exported.err.find("frame 75 / 75"), std::string::npos) << exported.err;
    EXPECT_NE(exported.err.find("left"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "show.mp4.part"));
    const TProbe probe = Probe(out);
    EXPECT_EQ(probe.codecs, "h264+aac");
    EXPECT_EQ(probe.videoFrames, 75);
    EXPECT_NEAR(probe.duration, 3.0, 0.001);
    EXPECT_NEAR(probe.videoStart, probe.audioStart, 1e-6);

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"-render", out.string(), "-crf", "64"},
          {"-render", out.string(), "-crf", "2.5"},
          {"-render", out.string(), "-size", "63x36"},
          {"-render", (dir / "frames").string(), "-crf", "20"}}) {
        const test::TRunResult refused = run(bad);
        EXPECT_EQ(refused.exitCode, 2) << bad.back() << refused.err;
        EXPECT_NE(refused.err.find("usage:"), std::string::npos);
    }
    // An empty stretch is a failure, and leaves no file behind.
    const test::TRunResult empty = run({"-render", out.string(), "-from", "3000", "-to", "3000", "-size", "64x36"});
    EXPECT_EQ(empty.exitCode, 1) << empty.err;
    EXPECT_NE(empty.err.find("no frame"), std::string::npos) << empty.err;
    EXPECT_TRUE(fs::exists(out)) << "the earlier export stays";
    EXPECT_FALSE(fs::exists(dir / "show.mp4.part"));
    EXPECT_FALSE(fs::exists(dir / "frames"));
}

#if defined(KIVTOOL_PATH) && defined(KIV_DEMO_PROJECT)
std::vector<std::int16_t> Samples(const std::string& bytes) {
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

TEST(VideoExport, TheSoundIsTheShowsMixToTheSample) {
    // The demo's music and clicks, exported and decoded again, against kivtool's mix of the same
    // stretch: the same sound at the same place (no lag), up to the codec's small error.
    const fs::path dir = Scratch();
    const test::TRunResult exported =
        test::RunProgram(KIVVIEWER_PATH,
                         {"-filename", KIV_DEMO_PROJECT, "-render", (dir / "demo.mp4").string(), "-from",
                          "1000", "-to", "3000", "-size", "64x36", "-fps", "24"},
                         dir, "SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy");
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    const test::TRunResult mixed = test::RunProgram(
        KIVTOOL_PATH,
        {"mix", KIV_DEMO_PROJECT, "-o", (dir / "mix.wav").string(), "--from", "1000", "--to", "3000"}, dir);
    ASSERT_EQ(mixed.exitCode, 0) << mixed.err;
    Capture("ffmpeg -v error -y -i " + test::ShellQuote((dir / "demo.mp4").string()) +
            " -f s16le -ac 2 -ar 44100 " + test::ShellQuote((dir / "demo.raw").string()));
    const std::vector<std::int16_t> got = Samples(ReadFile(dir / "demo.raw"));
    const std::vector<std::int16_t> want = Samples(ReadFile(dir / "mix.wav").substr(44));
    ASSERT_EQ(want.size(), 2u * 88200);
    ASSERT_GE(got.size(), want.size());
    const auto correlation = [&](int lag) {
        double sum = 0;
        for (std::size_t i = 4000; i + 4000 < want.size(); ++i)
            sum += static_cast<double>(want[i]) * got[i + 2 * lag];
        return sum;
    };
    int best = 0;
    for (int lag = -100; lag <= 100; ++lag)
        if (correlation(lag) > correlation(best)) best = lag;
    EXPECT_EQ(best, 0);
    // The export's last 10 ms fade out (the demo's music plays on at 3 s); the mix goes on there.
    const std::size_t faded = want.size() - 2 * 441;
    double power = 0, error = 0;
    for (std::size_t i = 0; i < faded; ++i) {
        power += static_cast<double>(want[i]) * want[i];
        error += (static_cast<double>(got[i]) - want[i]) * (static_cast<double>(got[i]) - want[i]);
    }
    ASSERT_GT(power / faded, 1e5) << "the demo is silent there";
    EXPECT_LT(std::sqrt(error / power), 0.05);
    // Its last 40 frames are at most 9 % of what the mix holds there.
    double tail = 0, mixTail = 0;
    for (std::size_t i = want.size() - 80; i < want.size(); ++i) {
        tail += static_cast<double>(got[i]) * got[i];
        mixTail += static_cast<double>(want[i]) * want[i];
    }
    ASSERT_GT(mixTail / 80, 1e4) << "the demo is quiet at 3 s";
    EXPECT_LT(std::sqrt(tail / mixTail), 0.3) << "the export ends on its fade";
}
#endif

TEST(VideoExport, InterruptedExportLeavesNoFile) {
    const fs::path dir = Scratch();
    test::TTestShowSpec repeating;
    repeating.repeat = "repeat";
    std::ofstream(dir / "Show.kiv") << test::EngineShowText(repeating);
    const fs::path out = dir / "long.webm", errors = dir / "stderr";
    const std::string show = (dir / "Show.kiv").string(), target = out.string();
    std::vector<std::string> args{KIVVIEWER_PATH, "-filename", show,    "-render", target,
                                  "-to",          "3600000",   "-size", "320x180"};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    ::setenv("SDL_VIDEODRIVER", "offscreen", 1);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    // Interrupted once a few frames are in the unfinished file.
    std::string err;
    char buffer[512];
    while (err.find("frame 5 /") == std::string::npos) {
        const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
        if (got <= 0) break;
        err.append(buffer, static_cast<std::size_t>(got));
    }
    EXPECT_TRUE(fs::exists(dir / "long.webm.part")) << err;
    ::kill(pid, SIGINT);
    const std::optional<int> status = test::WaitForChild(pid, std::chrono::seconds(60));
    ::close(pipeFds[0]);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGINT) << err;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(dir / "long.webm.part"));
}
#endif

} // namespace
} // namespace kiv
