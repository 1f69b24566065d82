// Live playback on a sound card slower than the process clock. The card is SDL's disk driver, which
// writes exactly what the mixer gave it to a file at its own pace (SDL_DISKAUDIODELAY milliseconds
// between periods, about real time). The process clock of the sound device, its play clock and its
// channel killer is injected: it runs 2 % or 10 % ahead of the frames the card has consumed, its
// rate measured again every 200 ms. The music player then plays a show in real time and the file is
// read back: every sound must end on its own fade, never with a jump between two samples.
//
// Each test plays its show in real time (20 to 70 s), so they carry the label "realtime".
#include "audio/KivMusicPlayer.h"
#include "audio/SoundDevice.h"
#include "framework/CommandLine.h"
#include "project/ShowOpen.h"

#include "audio/MusicPlayerSupport.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

namespace kiv {
namespace {

namespace fs = std::filesystem;

using TSteady = std::chrono::steady_clock;

// Process milliseconds that run `1 / (1 - slowness)` times as fast as the card consumes frames.
// Piecewise linear in the steady clock (so never backwards), its slope set anew every 200 ms from
// the card's pace over the last second.
class TPacedClock {
public:
    explicit TPacedClock(double slowness) : factor_(1.0 / (1.0 - slowness)), start_(TSteady::now()) {}
    ~TPacedClock() { Stop(); }

    double Now() {
        std::lock_guard<std::mutex> guard(lock_);
        return At(TSteady::now());
    }
    // Starts following `frames` (the card's consumed frames).
    void Follow(std::function<std::int64_t()> frames) {
        frames_ = std::move(frames);
        thread_ = std::thread([this] {
            ::pthread_setname_np(::pthread_self(), "kivTestPace");
            std::vector<std::pair<TSteady::time_point, std::int64_t>> window;
            std::unique_lock<std::mutex> wait(waitLock_);
            while (!quit_) {
                window.emplace_back(TSteady::now(), frames_());
                if (window.size() > 6) window.erase(window.begin());
                const auto& [t0, f0] = window.front();
                const auto& [t1, f1] = window.back();
                const double wall = std::chrono::duration<double, std::milli>(t1 - t0).count();
                if (wall > 150 && f1 > f0) {
                    std::lock_guard<std::mutex> guard(lock_);
                    const auto now = TSteady::now();
                    base_ = At(now);
                    from_ = now;
                    rate_ = (static_cast<double>(f1 - f0) / 44.1) / wall * factor_;
                }
                stopped_.wait_for(wait, std::chrono::milliseconds(200), [this] { return quit_; });
            }
        });
    }
    void Stop() {
        {
            std::lock_guard<std::mutex> guard(waitLock_);
            quit_ = true;
        }
        stopped_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
private:
    double At(TSteady::time_point t) const {
        return base_ + rate_ * std::chrono::duration<double, std::milli>(t - from_).count();
    }

    const double factor_;
    const TSteady::time_point start_;
    std::mutex lock_;
    double base_ = 0;
    double rate_ = 1;
    TSteady::time_point from_ = start_;
    std::function<std::int64_t()> frames_;
    std::mutex waitLock_;
    std::condition_variable stopped_;
    bool quit_ = false;
    std::thread thread_;
};

struct TCapture {
    std::vector<std::int16_t> samples; // what the card played, interleaved stereo
    double slowness = 0;               // measured: 1 - card milliseconds / process milliseconds
};

// Plays `show` from 0 until the show clock reaches `untilMs` on the disk driver, the card
// `slowness` behind the process clock.
TCapture PlayOnASlowCard(TRef<TKivSource> show, double untilMs, double slowness, const fs::path& dir) {
    const fs::path file = dir / "card.raw";
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    ::setenv("SDL_DISKAUDIODELAY", "20", 1); // a little ahead of real time; the rest is the clock's
    auto clock = std::make_shared<TPacedClock>(slowness);
    TSoundDevice::TOptions options;
    options.now = [clock] { return clock->Now(); };
    TRef<TSoundDevice> device = TSoundDevice::Create(options);
    EXPECT_TRUE(device->IsUsable()) << "SDL's disk driver did not open";
    TCapture capture;
    if (!device->IsUsable()) return capture;
    TSoundMixer& mixer = device->Mixer();
    clock->Follow([&mixer] { return mixer.FramesConsumed(); });
    auto player = MakeRef<TKivMusicPlayer>(show, false, device);
    player->Start();
    player->Seek(-1, 0);
    for (int i = 0; i < 200 && !player->IsReady(); ++i)
        player->WaitForSteps(1, 100);
    EXPECT_TRUE(player->IsReady());
    const double clock0 = clock->Now();
    const std::int64_t frames0 = mixer.FramesConsumed();
    player->SetRunning(true);
    // Real time passes here: the show plays on the card.
    while (player->GetTime() < untilMs && player->WaitForSteps(20, 2000)) {
    }
    capture.slowness =
        1.0 - (static_cast<double>(mixer.FramesConsumed() - frames0) / 44.1) / (clock->Now() - clock0);
    player->SetRunning(false);
    player->Stop();
    player = nullptr;
    clock->Stop();
    device = nullptr; // closes the card: the file is complete
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    capture.samples.resize(bytes.size() / 2);
    std::memcpy(capture.samples.data(), bytes.data(), capture.samples.size() * 2);
    return capture;
}

// Where one sample differs from the one before it by more than 2000 (a sound cut off): frame numbers.
std::vector<std::size_t> Jumps(const std::vector<std::int16_t>& samples) {
    std::vector<std::size_t> jumps;
    for (std::size_t i = 2; i < samples.size(); ++i)
        if (std::abs(samples[i] - samples[i - 2]) > 2000) jumps.push_back(i / 2);
    return jumps;
}

// The stretches of sound, as [first, end) frames, between silences of at least 100 ms.
std::vector<std::pair<std::size_t, std::size_t>> Sounds(const std::vector<std::int16_t>& samples) {
    std::vector<std::pair<std::size_t, std::size_t>> sounds;
    const std::size_t frames = samples.size() / 2;
    std::size_t quiet = 0;
    bool in = false;
    std::size_t first = 0, last = 0;
    for (std::size_t f = 0; f < frames; ++f) {
        const bool loud = std::abs(samples[2 * f]) > 64 || std::abs(samples[2 * f + 1]) > 64;
        if (loud) {
            if (!in) first = f, in = true;
            last = f;
            quiet = 0;
        } else if (in && ++quiet >= 4410) {
            sounds.emplace_back(first, last + 1);
            in = false;
        }
    }
    if (in) sounds.emplace_back(first, last + 1);
    return sounds;
}

class SoundCardPace : public testing::TestWithParam<double> {
protected:
    void SetUp() override {
        std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        dir_ = fs::temp_directory_path() / ("kiv_pace_" + std::to_string(::getpid()) + "_" + name);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir_);
    }
    // The card must be at least as slow as asked (it may lag a little more on a loaded machine).
    void ExpectPace(const TCapture& capture) {
        std::printf("the card played %.2f %% slower than the process clock\n", capture.slowness * 100);
        EXPECT_GE(capture.slowness, GetParam() - 0.006);
        EXPECT_LE(capture.slowness, GetParam() + 0.02);
    }
    fs::path dir_;
};

// Eight sounds of 1.6 to 2.3 s in eight formats made by ffmpeg, one as each slide's comment: long
// enough that each ends in a refill of its buffer, while 1.5 to 2 s of it are queued. Each must keep
// its whole length and end on its 10 ms edge.
TEST_P(SoundCardPace, EightShortSoundsEachEndOnTheirFade) {
    if (std::system("ffmpeg -hide_banner -version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "the ffmpeg program is not installed (scripts/install-deps.sh installs it)";
    const char* const kFiles[8] = {"s1.wav", "s2.flac", "s3.ogg", "s4.mp3", "s5.m4a", "s6.aac", "s7.wma", "s8.wav"};
    const char* const kCodecs[8] = {"pcm_s16le", "flac", "libvorbis", "libmp3lame", "aac", "aac", "wmav2", "pcm_f32le"};
    constexpr int kSlideMs = 2600;
    std::string project = "[Main]\n[Times]\nopt_slidescount=8\n";
    for (int i = 0; i < 8; ++i)
        project += "opt_synchpos" + std::to_string(i + 1) + "=" + std::to_string((i + 1) * kSlideMs) + "\n";
    // What sounds of each comment: its duration, less the encoder's priming that a raw AAC stream
    // keeps (1024 frames, silent, before the sound).
    std::vector<double> durations;
    for (int i = 0; i < 8; ++i) {
        const int length = 1600 + 100 * i;
        // A 220 Hz sine at half scale changes by at most 514 from one sample to the next.
        const std::string command = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i 'aevalsrc="
                                    "0.5*sin(2*PI*220*t)|0.5*sin(2*PI*220*t):s=44100:d=" +
                                    std::to_string(length / 1000.0) + "' -c:a " + kCodecs[i] + " " +
                                    (dir_ / kFiles[i]).string();
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        // The comment ends 100 ms before its file does (codecs pad and trim their ends).
        project += test::Comment(i + 1, "    FileName=" + std::string(kFiles[i]) +
                                            "\n    Duration=" + std::to_string(length - 100) + "\n");
        durations.push_back(length - 100 - (std::string(kFiles[i]).ends_with(".aac") ? 1024 / 44.1 : 0));
    }
    std::ofstream(dir_ / "eight.kiv") << project;
    TOpenShowRequest request;
    request.name = (dir_ / "eight.kiv").string();
    request.asPackage = false;
    request.checkPassword = false;
    const TOpenShowResult opened = OpenShow(request, TCommandLine());
    ASSERT_TRUE(opened.ok) << opened.message;
    TKivSourceSetup setup;
    setup.document = opened.show->ProjectRef();
    setup.fileAccessor = opened.show->AccessorRef();
    setup.programFileName = "kivviewer";
    const TCapture capture = PlayOnASlowCard(MakeRef<TKivSource>(std::move(setup)), 8 * kSlideMs - 200, GetParam(), dir_);
    ExpectPace(capture);
    const auto jumps = Jumps(capture.samples);
    EXPECT_TRUE(jumps.empty()) << jumps.size() << " jumps, the first at frame " << (jumps.empty() ? 0 : jumps[0]);
    const auto sounds = Sounds(capture.samples);
    for (const auto& [first, end] : sounds)
        std::printf("sound from %.1f to %.1f ms\n", first / 44.1, end / 44.1);
    ASSERT_EQ(sounds.size(), 8u);
    for (int i = 0; i < 8; ++i) {
        const double ms = static_cast<double>(sounds[i].second - sounds[i].first) / 44.1;
        std::printf("%s: %.1f ms of %.1f\n", kFiles[i], ms, durations[i]);
        // Measured between the first and the last sample above 64, so a few ms are lost where the
        // sine crosses 0 at the ends of the fades. The show clock may run a little ahead of a card
        // 10 % slow (it is pulled towards the card by at most 1 ms every 10 ms), which ends a
        // comment that much early, on the stop's fade.
        EXPECT_NEAR(ms, durations[i], GetParam() < 0.05 ? 20 : 100) << kFiles[i];
    }
}

// The demo as it plays, once through: its music (with its fade-out at the end of the show) and the
// video clip's sound on slide 11.
TEST_P(SoundCardPace, TheDemosSoundsEndOnTheirFades) {
    TOpenShowRequest request;
    request.name = KIV_TEST_SOURCE_DIR "/examples/demo/Project.kiv";
    request.asPackage = false;
    request.checkPassword = false;
    const TOpenShowResult opened = OpenShow(request, TCommandLine());
    ASSERT_TRUE(opened.ok) << opened.message;
    TKivSourceSetup setup;
    setup.document = opened.show->ProjectRef();
    setup.fileAccessor = opened.show->AccessorRef();
    setup.programFileName = "kivviewer";
    auto show = MakeRef<TKivSource>(std::move(setup));
    const double period = show->Period();
    const TCapture capture = PlayOnASlowCard(show, period + 300, GetParam(), dir_);
    ExpectPace(capture);
    ASSERT_GT(capture.samples.size(), static_cast<std::size_t>(period * 44.1 * 2 * 0.9));
    const auto jumps = Jumps(capture.samples);
    EXPECT_TRUE(jumps.empty()) << jumps.size() << " jumps, the first at frame " << (jumps.empty() ? 0 : jumps[0]);
}

INSTANTIATE_TEST_SUITE_P(Slower, SoundCardPace, testing::Values(0.02, 0.10),
                         [](const testing::TestParamInfo<double>& info) {
                             return std::to_string(std::lround(info.param * 100)) + "Percent";
                         });

} // namespace
} // namespace kiv
