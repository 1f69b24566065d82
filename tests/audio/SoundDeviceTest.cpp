#include "audio/SoundDevice.h"

#include "audio/KivMusicPlayer.h"
#include "audio/MusicLoader.h"
#include "base/Clock.h"
#include "package/FileAccessor.h"
#include "package/RealFileSource.h"
#include "project/ShowProjectSupport.h"
#include "support/LogCapture.h"

#include "SoundTestFiles.h"
#include "audio/MusicPlayerSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <pthread.h>
#include <unistd.h>

namespace kiv {
namespace {

using test::Constant;
using test::Sine;
using test::WavBytes;

// A device without SDL and without threads: the test refills, mixes, polls and runs the killer,
// and owns the millisecond timer.
class SoundDeviceTest : public testing::Test {
protected:
    void SetUp() override {
        TSoundDevice::TOptions options;
        options.openOutput = false;
        options.threaded = false;
        options.now = [this] { return now_; };
        device_ = TSoundDevice::Create(options);
        device_->SetOpenStreamCallback(files_.Opener());
    }

    TRef<TSoundChannel> Channel(const std::string& name, std::int32_t offset = -1) {
        TRef<TDeviceChannel> channel = device_->CreateChannel(name, offset);
        return channel ? ShareRef(static_cast<TSoundChannel*>(channel.Get())) : TRef<TSoundChannel>();
    }

    // `frames` device frames, refilling the buffers before each device period of 1024 frames.
    std::vector<std::int16_t> Mix(int frames) {
        std::vector<std::int16_t> out(static_cast<std::size_t>(frames) * 2);
        for (int done = 0; done < frames;) {
            const int part = std::min(1024, frames - done);
            device_->Mixer().RefillAll();
            device_->Mixer().Mix(out.data() + static_cast<std::size_t>(done) * 2, part);
            done += part;
        }
        return out;
    }

    double now_ = 1000;
    test::TMemoryFiles files_;
    TRef<TSoundDevice> device_;
};

TEST_F(SoundDeviceTest, SineMixedAtAKnownVolumeIsWithinOneLsb) {
    const auto sine = Sine(44100, 44100, 2, 441, 30000);
    files_.files["sine.wav"] = WavBytes(sine, 44100, 2);
    auto channel = Channel("sine.wav", 0);
    ASSERT_TRUE(channel);
    EXPECT_NEAR(channel->LengthMs(), 1000, 1);
    channel->SetVolume(0.5f); // 600 x log2 0.5 = -600 mB
    channel->Play(0);
    const auto out = Mix(20000);
    const double gain = std::pow(10.0, -600 / 2000.0);
    EXPECT_EQ(out[0], 0); // a fade-in of one frame starts at 0
    for (int f = 1; f < 20000; ++f) {
        const double expected = std::round(sine[static_cast<std::size_t>(f) * 2] * gain);
        ASSERT_NEAR(out[static_cast<std::size_t>(f) * 2], expected, 1) << f;
        ASSERT_NEAR(out[static_cast<std::size_t>(f) * 2 + 1], expected, 1) << f;
    }
}

TEST_F(SoundDeviceTest, MasterVolumeReachesPlayingAndNewChannels) {
    files_.files["dc.wav"] = WavBytes(Constant(44100, 2, 10000), 44100, 2);
    auto first = Channel("dc.wav", 0);
    first->Play(0);
    device_->SetMasterVolume(0.25f); // -1200 mB
    EXPECT_FLOAT_EQ(device_->GetMasterVolume(), 0.25f);
    auto out = Mix(100);
    EXPECT_NEAR(out[100], 10000 * std::pow(10.0, -1200 / 2000.0), 1);
    auto second = Channel("dc.wav", 0);
    second->Play(0);
    out = Mix(100);
    EXPECT_NEAR(out[100], 2 * 10000 * std::pow(10.0, -1200 / 2000.0), 2);
    device_->SetMasterVolume(0);
    out = Mix(10);
    EXPECT_EQ(out[10], 0);
}

TEST_F(SoundDeviceTest, TwoLoudChannelsClampAtFullScale) {
    files_.files["up.wav"] = WavBytes(Constant(44100, 2, 30000), 44100, 2);
    files_.files["down.wav"] = WavBytes(Constant(44100, 2, -30000), 44100, 2);
    auto a = Channel("up.wav", 0);
    auto b = Channel("up.wav", 0);
    a->Play(0);
    b->Play(0);
    auto out = Mix(50);
    EXPECT_EQ(out[20], 32767);
    EXPECT_EQ(out[21], 32767);
    a->Stop(0);
    b->Stop(0);
    auto c = Channel("down.wav", 0);
    auto d = Channel("down.wav", 0);
    c->Play(0);
    d->Play(0);
    Mix(44100 / 10); // the stopped ones' queue has faded by now
    out = Mix(50);
    EXPECT_EQ(out[20], -32768);
}

TEST_F(SoundDeviceTest, FadeInRampsAndStopFadesQueuedAudioThenTheKillerFreesIt) {
    files_.files["dc.wav"] = WavBytes(Constant(44100 * 3, 2, 10000), 44100, 2);
    auto channel = Channel("dc.wav", 0);
    channel->Play(10); // 441 frames up
    auto out = Mix(1000);
    EXPECT_EQ(out[0], 0);
    EXPECT_NEAR(out[2 * 220], 10000.0 * 220 / 441, 1);
    EXPECT_EQ(out[2 * 600], 10000);
    EXPECT_TRUE(channel->IsPlaying());
    channel->Play(10); // playing already: nothing new
    EXPECT_EQ(channel->InstanceCount(), 1u);

    channel->Stop(10);
    EXPECT_FALSE(channel->IsPlaying());
    channel->Stop(10); // not playing: nothing
    // The fade reaches the queue 25 ms (1102 frames) after the play cursor, not after the queue.
    out = Mix(1102 + 441 + 100);
    EXPECT_EQ(out[2 * 1000], 10000);
    EXPECT_NEAR(out[2 * (1102 + 220)], 10000.0 * (441 - 220) / 441, 2);
    EXPECT_EQ(out[2 * (1102 + 441 + 50)], 0);
    // Finished: the killer frees it once the mixer has played it past its fade (+ 20 ms), however
    // the millisecond timer stands.
    EXPECT_EQ(device_->RunKiller(), 1u);
    Mix(1000);
    EXPECT_EQ(device_->RunKiller(), 0u);
    EXPECT_EQ(channel->InstanceCount(), 0u);
    // Play again continues from the saved position with a new instance.
    channel->Play(0);
    EXPECT_EQ(channel->InstanceCount(), 1u);
    out = Mix(10);
    EXPECT_EQ(out[10], 10000);
}

TEST_F(SoundDeviceTest, SeekWhilePlayingCrossFadesToTheNewPosition) {
    std::vector<std::int16_t> steps;
    for (int f = 0; f < 44100 * 2; ++f) {
        const auto v = static_cast<std::int16_t>(f < 44100 ? 4000 : 12000);
        steps.push_back(v);
        steps.push_back(v);
    }
    files_.files["steps.wav"] = WavBytes(steps, 44100, 2);
    auto channel = Channel("steps.wav", 0);
    channel->Play(0);
    Mix(2000);
    channel->Seek(1500);
    EXPECT_EQ(channel->InstanceCount(), 2u);
    const auto out = Mix(4000);
    EXPECT_EQ(out[2 * 3000], 12000); // only the new position sounds after the cross-fade
    EXPECT_TRUE(channel->IsPlaying());
}

TEST_F(SoundDeviceTest, AResampledSourceKeepsItsLevelAndItsPosition) {
    files_.files["low.wav"] = WavBytes(Constant(22050, 1, 6000), 22050, 1);
    auto channel = Channel("low.wav", 0);
    channel->Play(0);
    const auto out = Mix(22050);
    for (int f = 2000; f < 20000; f += 1001)
        EXPECT_NEAR(out[static_cast<std::size_t>(f) * 2 + 1], 6000, 2) << f;
    EXPECT_NEAR(channel->GetPosition(), 500, 5);
}

TEST_F(SoundDeviceTest, MissingOrBrokenSoundsMakeNoChannelAndALogLine) {
    files_.files["text.mp3"] = "this is not a sound file at all";
    TRef<TDeviceChannel> missing;
    TRef<TDeviceChannel> broken;
    const std::string log = test::LoggedWhile([&] {
        missing = device_->CreateChannel("gone.wav", 0);
        broken = device_->CreateChannel("text.mp3", 0);
    });
    EXPECT_FALSE(missing);
    EXPECT_FALSE(broken);
    EXPECT_NE(log.find("Sound file not found: gone.wav"), std::string::npos) << log;
    EXPECT_NE(log.find("Sound file cannot be decoded: text.mp3"), std::string::npos) << log;
    EXPECT_EQ(Mix(100), Constant(100, 2, 0)); // silence, and the mix goes on
}

// A buffer mixed alone sums to its own frames: at its volume, after its delay, silent once it runs
// dry, whatever the output block held before.
TEST(OutputBufferTest, ABufferMixedAloneGivesItsFramesAtItsVolumeAndSilenceWhenDry) {
    struct TCase {
        float volume;
        std::int64_t delay;
    };
    for (const TCase& c : {TCase{1.0f, 0}, TCase{0.5f, 0}, TCase{1.0f, 300}}) {
        SCOPED_TRACE(testing::Message() << "volume " << c.volume << ", delay " << c.delay);
        int next = 0;
        TOutputBuffer::TCallbacks callbacks;
        callbacks.firstFill = callbacks.fill = [&](std::int16_t* data, int frames) {
            for (int f = 0; f < frames; ++f, ++next)
                data[2 * f] = data[2 * f + 1] =
                    static_cast<std::int16_t>(1 + next % 20000 - (next % 2) * 25000);
        };
        TOutputBuffer buffer(44100, 2, callbacks, false);
        buffer.SetVolume(c.volume);
        buffer.Start(c.delay);
        TSoundMixer mixer;
        mixer.Add(buffer);
        const double gain = TOutputBuffer::MbToGain(TOutputBuffer::VolumeToMb(c.volume));
        std::vector<std::int16_t> out(44100 * 2);
        for (int block = 0; block < 2; ++block) { // no refill: the second block runs dry
            std::fill(out.begin(), out.end(), std::int16_t{1234});
            mixer.Mix(out.data(), 44100);
            for (int f = 0; f < 44100; ++f) {
                const std::int64_t n = block * 44100 + f - c.delay; // the buffer's frame
                const int sample = n >= 0 && n < buffer.InitialFillSize()
                                       ? 1 + static_cast<int>(n % 20000) - static_cast<int>(n % 2) * 25000
                                       : 0;
                const auto expected = static_cast<std::int16_t>(std::lround(sample * gain));
                ASSERT_EQ(out[2 * static_cast<std::size_t>(f)], expected)
                    << "block " << block << ", frame " << f;
                ASSERT_EQ(out[2 * static_cast<std::size_t>(f) + 1], expected)
                    << "block " << block << ", frame " << f;
            }
        }
        mixer.Remove(buffer);
    }
}

TEST_F(SoundDeviceTest, ASourceThatEndsFinishesItsInstanceAndRunsTheEndCallbackUnlessStopped) {
    files_.files["short.wav"] = WavBytes(Constant(4410, 2, 5000), 44100, 2);
    auto channel = Channel("short.wav", 0);
    int ends = 0;
    channel->SetEndCallback([&ends] { ++ends; });
    channel->Play(0);
    const auto out = Mix(4500);
    EXPECT_EQ(out[2 * 4000], 5000);
    EXPECT_EQ(out[2 * 4450], 0);
    EXPECT_EQ(device_->RunKiller(), 1u); // 20 ms of margin after its last frame are still to play
    EXPECT_EQ(ends, 0);
    Mix(1000);
    EXPECT_EQ(device_->RunKiller(), 0u);
    EXPECT_EQ(channel->InstanceCount(), 0u);
    EXPECT_EQ(ends, 1);
    // Stopped before its end: no end callback.
    channel->Seek(0);
    channel->Play(0);
    Mix(1000);
    channel->Stop(10);
    Mix(6000);
    EXPECT_EQ(device_->RunKiller(), 0u);
    EXPECT_EQ(channel->InstanceCount(), 0u);
    EXPECT_EQ(ends, 1);
}

// An offline device refills in blocks of a quarter ring; a sound whose end falls inside such a block
// is freed only after that whole block has played, so none of its last frames are lost. The
// millisecond timer runs at the pace of the frames pulled, 10 % ahead of it (a sound card slower
// than the clock) or not at all: the instance goes only once its last frame has been mixed.
TEST_F(SoundDeviceTest, ASoundEndingInsideARefillBlockPlaysToItsLastFrameWhateverTheClock) {
    constexpr int kFrames = 3 * 44100 + 10000; // ends 10000 frames into a block
    files_.files["dc.wav"] = WavBytes(Constant(kFrames, 2, 10000), 44100, 2);
    for (const double clockPerFrame : {1.0, 1.1, 0.0}) {
        SCOPED_TRACE(clockPerFrame);
        auto channel = Channel("dc.wav", 0);
        ASSERT_TRUE(channel);
        channel->Play(0);
        std::vector<std::int16_t> block(221 * 2);
        int loud = 0;
        for (int period = 0; period < 1000; ++period) { // 5 s in the player's 5 ms steps
            device_->Pull(block.data(), 221);
            now_ += 221 / 44.1 * clockPerFrame;
            for (std::size_t i = 0; i < block.size(); i += 2)
                loud += block[i] == 10000 ? 1 : 0;
        }
        EXPECT_EQ(loud, kFrames - 1); // all but the first frame, where the shortest fade-in starts at 0
        EXPECT_EQ(channel->InstanceCount(), 0u);
    }
}

// The play clock, driven by a fake timer and a fake cursor.
class PlayClockTest : public testing::Test {
protected:
    TRef<TPlayClock> clock_ = MakeRef<TPlayClock>([this] { return now_; }, [this] { return cursor_; });
    double now_ = 5000;
    std::int64_t cursor_ = 0;
};

TEST_F(PlayClockTest, WaitsForTheCursorThenRunsOnTheTimer) {
    clock_->Play(false);
    EXPECT_TRUE(clock_->IsRunning());
    now_ += 30;
    clock_->Poll();
    EXPECT_EQ(clock_->NowMs(), 0); // the device has not played yet
    cursor_ = 441;
    clock_->Poll();
    EXPECT_EQ(clock_->NowMs(), 0);
    now_ += 7;
    EXPECT_EQ(clock_->NowMs(), 7);
}

TEST_F(PlayClockTest, FollowsACursorThatLagsByAtMostOneMsPerPoll) {
    clock_->Play(false);
    cursor_ = 1;
    clock_->Poll();
    // The device plays 5 % slow: after ten seconds the clock has followed it, in 1 ms steps.
    double previous = clock_->NowMs();
    for (int i = 0; i < 1000; ++i) {
        now_ += 10;
        cursor_ = 1 + static_cast<std::int64_t>((i + 1) * 10 * 0.95 * 44.1);
        clock_->Poll();
        const double reading = clock_->NowMs();
        ASSERT_GE(reading - previous, 9) << i; // never jumps back or stands
        ASSERT_LE(reading - previous, 11) << i;
        previous = reading;
    }
    const double deviceMs = static_cast<double>(cursor_) * 1000 / 44100;
    EXPECT_NEAR(clock_->NowMs(), deviceMs, 110); // within one cursor reading period
}

TEST_F(PlayClockTest, CursorInBurstsStillGivesASmoothClock) {
    clock_->Play(false);
    cursor_ = 1024;
    clock_->Poll();
    double previous = clock_->NowMs();
    for (int i = 1; i <= 2000; ++i) {
        now_ += 10;
        // The callback consumes 1024 frames at a time.
        const auto played = static_cast<std::int64_t>(i * 10 * 44.1);
        cursor_ = 1024 + played / 1024 * 1024;
        clock_->Poll();
        ASSERT_NEAR(clock_->NowMs() - previous, 10, 1) << i;
        previous = clock_->NowMs();
    }
    EXPECT_NEAR(clock_->NowMs(), 20000, 30);
}

TEST_F(SoundDeviceTest, DeviceClockIsTheMixerCursor) {
    IDeviceClock& clock = device_->Clock();
    EXPECT_EQ(clock.NowMs(), 0);
    Mix(1024);
    // Without the poll thread the test polls.
    auto& playClock = static_cast<TPlayClock&>(clock);
    playClock.Poll();
    now_ += 100;
    EXPECT_EQ(clock.NowMs(), 100);
    EXPECT_EQ(&device_->Clock(), &clock);
}

} // namespace
} // namespace kiv

namespace kiv {
namespace {

using test::Constant;
using test::WavBytes;

// A headless music player on a device without threads: every 20 ms frame the player steps, the
// buffers refill and the device mixes the frame's sound.
class SoundDevicePlayerTest : public testing::Test {
protected:
    void SetUp() override {
        file_ = testing::TempDir() + "kiv_sound_music_" + std::to_string(::getpid()) + ".wav";
        std::ofstream out(file_, std::ios::binary);
        out << WavBytes(Constant(44100 * 4, 2, 10000), 44100, 2);
    }
    void TearDown() override {
        if (player_) player_->Stop();
        std::filesystem::remove(file_);
    }

    void Open(const std::string& project) {
        TSoundDevice::TOptions options;
        options.openOutput = false;
        options.threaded = false;
        options.now = [this] { return now_; };
        device_ = TSoundDevice::Create(options);
        TKivSourceSetup setup;
        setup.document = test::ParseIni(project);
        setup.programFileName = "kivviewer";
        setup.random = MakeRef<TTransitionRandom>(1);
        setup.fileAccessor = ProcessFileAccessor();
        player_ = TKivMusicPlayer::CreateHeadless(MakeRef<TKivSource>(std::move(setup)), false,
                                                  MakeRef<TVirtualClock>(0), device_);
        player_->Start();
    }

    // The loudest sample of the next `frames` frames.
    int Loudest(int frames) {
        std::vector<std::int16_t> block(882 * 2);
        int peak = 0;
        for (int i = 0; i < frames; ++i) {
            player_->AdvanceClock(20);
            now_ += 20;
            device_->Pull(block.data(), 882);
            for (std::int16_t s : block)
                peak = std::max(peak, std::abs(static_cast<int>(s)));
        }
        return peak;
    }

    std::string file_;
    double now_ = 0;
    TRef<TSoundDevice> device_;
    TRef<TKivMusicPlayer> player_;
};

TEST_F(SoundDevicePlayerTest, BackgroundMusicReachesTheMixAndPlaysOnWhilePaused) {
    Open("[Main]\n" + test::Music(test::Item("I", "      FileName=" + file_ + "\n      Duration=4000\n")) +
         test::TimesText({5000, 9000, 15000}));
    ASSERT_TRUE(player_->IsReady());
    EXPECT_EQ(Loudest(5), 0); // not running yet
    player_->SetRunning(true);
    Loudest(5);
    EXPECT_EQ(Loudest(10), 10000);
    player_->SetRunning(false);
    EXPECT_EQ(Loudest(10), 10000);
}

TEST_F(SoundDevicePlayerTest, ASlideCommentFallsSilentWhilePausedAndSoundsAgainAfter) {
    Open("[Main]\n" + test::Comment(1, "    FileName=" + file_ + "\n    Duration=4000\n") +
         test::TimesText({5000, 9000, 15000}));
    player_->SetRunning(true);
    Loudest(5);
    EXPECT_EQ(Loudest(10), 10000);
    player_->SetRunning(false);
    Loudest(5); // the fade-out
    EXPECT_EQ(Loudest(10), 0);
    player_->SetRunning(true);
    Loudest(5);
    EXPECT_EQ(Loudest(10), 10000);
}

} // namespace
} // namespace kiv

namespace kiv {
namespace {

TEST(SoundDeviceOutputTest, WithoutASoundCardThePlayerKeepsProcessTime) {
    const char* old = std::getenv("SDL_AUDIODRIVER");
    const std::string saved = old ? old : "";
    ::setenv("SDL_AUDIODRIVER", "no_such_sound_driver", 1);
    TRef<TSoundDevice> device;
    const std::string log = test::LoggedWhile([&] { device = TSoundDevice::Create(); });
    if (old)
        ::setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
    else
        ::unsetenv("SDL_AUDIODRIVER");
    ASSERT_TRUE(device);
    EXPECT_FALSE(device->IsUsable());
    EXPECT_NE(log.find("Sound output cannot be opened"), std::string::npos) << log;
    EXPECT_FALSE(device->CreateChannel("anything.wav", 0));

    TKivSourceSetup setup;
    setup.document = test::ParseIni("[Main]\n" + test::TimesText({5000}));
    setup.programFileName = "kivviewer";
    setup.random = MakeRef<TTransitionRandom>(1);
    auto player = MakeRef<TKivMusicPlayer>(MakeRef<TKivSource>(std::move(setup)), false, device);
    const auto before = static_cast<double>(ProcessMilliseconds());
    const double reading = player->DeviceTime();
    const auto after = static_cast<double>(ProcessMilliseconds());
    EXPECT_GE(reading, before);
    EXPECT_LE(reading, after);
    EXPECT_EQ(player->GetVolume(), 0.0f); // no device behind the player
}

} // namespace
} // namespace kiv

namespace kiv {
namespace {

// A device that only keeps the open callback the music loader gives it.
class TOpenRecorder final : public TMusicDevice {
public:
    bool IsUsable() const override { return true; }
    float GetMasterVolume() const override { return 1; }
    void SetMasterVolume(float) override {}
    IDeviceClock& Clock() override { return *clock_; }
    TRef<TDeviceChannel> CreateChannel(const std::string&, std::int32_t) override { return nullptr; }
    void SetOpenStreamCallback(TOpenStream open) override { open_ = std::move(open); }
    TOpenStream open_;

private:
    ~TOpenRecorder() override = default;
    TRef<TVirtualClock> clock_ = MakeRef<TVirtualClock>(0);
};

TEST(SoundDeviceLoaderTest, SoundsOpenFromTheShowsOwnFilesAndOutliveTheLoader) {
    const std::string folder = testing::TempDir() + "kiv_sound_show_" + std::to_string(::getpid());
    std::filesystem::create_directories(folder + "/music");
    std::ofstream(folder + "/music/theme.wav", std::ios::binary) << WavBytes(Constant(100, 2, 1), 44100, 2);
    auto device = MakeRef<TOpenRecorder>();
    TOpenRecorder::TOpenStream open;
    {
        auto loader = MakeRef<TMusicLoader>(device, MakeRef<TThreadEventList>(),
                                            MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(folder)));
        ASSERT_TRUE(device->open_);
        open = device->open_; // a refill thread still holding the callback
    }
    EXPECT_FALSE(device->open_); // the loader took it back
    // The show's name, relative to the show and written the Windows way, opens through its files.
    TRef<TStream> stream = open("music\\theme.wav");
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->GetSize(), 44 + 400);
    EXPECT_FALSE(open("music\\missing.wav"));
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace kiv

namespace kiv {
namespace {

// Waits until `done` holds or ten seconds passed; the condition decides, not the wait. Only for
// the real (dummy) sound card below, whose periods come in real time and signal nothing.
template <class TDone> bool WaitFor(TDone done) {
    for (int i = 0; i < 10000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

TEST(OutputBufferTest, ItsOwnNamedThreadRefillsWhatTheMixerPlayed) {
    std::mutex fillLock;
    std::condition_variable filled;
    int fills = 0;
    std::atomic<std::int16_t> next{0};
    TOutputBuffer::TCallbacks callbacks;
    auto counting = [&](std::int16_t* data, int frames) {
        for (int i = 0; i < frames * 2; ++i)
            data[i] = next.load();
        next.fetch_add(1);
        {
            std::lock_guard<std::mutex> guard(fillLock);
            ++fills;
        }
        filled.notify_all();
    };
    callbacks.firstFill = counting;
    callbacks.fill = counting;
    {
        TOutputBuffer buffer(44100, 2, callbacks, true);
        EXPECT_EQ(buffer.InitialFillSize(), 66150);
        buffer.Start();
        TSoundMixer mixer;
        mixer.Add(buffer);
        std::vector<std::int16_t> out(44100 * 2);
        mixer.Mix(out.data(), 44100); // one of the 1.5 seconds queued
        EXPECT_EQ(buffer.Position(), 1000);
        // The thread tops the ring up to its 2 seconds in two refills of at most half a ring (the
        // first fill plus two). A refill of our own then waits behind the thread's, which holds the
        // fill lock until its block is in the ring, and finds nothing left to do.
        {
            std::unique_lock<std::mutex> lock(fillLock);
            ASSERT_TRUE(filled.wait_for(lock, std::chrono::seconds(10), [&] { return fills >= 3; }));
        }
        buffer.Refill();
        EXPECT_EQ(buffer.FramesAhead(), 88200);
        {
            std::lock_guard<std::mutex> guard(fillLock);
            EXPECT_EQ(fills, 3); // our refill added nothing
        }
        EXPECT_TRUE(test::HasThread("kivSoundFill")); // it has refilled, so it runs under its name
        mixer.Mix(out.data(), 44100);
        EXPECT_EQ(out[0], 0);         // still the first fill
        EXPECT_EQ(out[2 * 30000], 1); // then the first refill
        mixer.Remove(buffer);
    }
    EXPECT_FALSE(test::HasThread("kivSoundFill")); // joined with its buffer
}

TEST(SoundDeviceOutputTest, TheDummySoundCardPlaysAndDrivesTheClock) {
    const char* old = std::getenv("SDL_AUDIODRIVER");
    const std::string saved = old ? old : "";
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    TRef<TSoundDevice> device = TSoundDevice::Create();
    if (old)
        ::setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
    else
        ::unsetenv("SDL_AUDIODRIVER");
    ASSERT_TRUE(device->IsUsable());
    IDeviceClock& clock = device->Clock();
    // The card's periods move the cursor; the poll thread then lets the clock run.
    EXPECT_TRUE(WaitFor([&] { return device->Mixer().FramesConsumed() > 4096; }));
    EXPECT_TRUE(WaitFor([&] { return clock.NowMs() > 0; }));
    EXPECT_TRUE(test::HasThread("kivPlayClock"));
    EXPECT_TRUE(test::HasThread("kivChanKiller"));
    device = nullptr;
    EXPECT_FALSE(test::HasThread("kivPlayClock"));
    EXPECT_FALSE(test::HasThread("kivChanKiller"));
}

// A channel destroyed while it sounds on a card returns once its 10 ms fade has been played, not
// before (a device closed next would cut it) and not after the second its queue still holds.
TEST(SoundDeviceOutputTest, DestroyingASoundingChannelWaitsForItsFadeOnly) {
    const char* old = std::getenv("SDL_AUDIODRIVER");
    const std::string saved = old ? old : "";
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    TRef<TSoundDevice> device = TSoundDevice::Create();
    if (old)
        ::setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
    else
        ::unsetenv("SDL_AUDIODRIVER");
    ASSERT_TRUE(device->IsUsable());
    test::TMemoryFiles files;
    files.files["dc.wav"] = WavBytes(Constant(44100 * 5, 2, 10000), 44100, 2);
    device->SetOpenStreamCallback(files.Opener());
    TRef<TDeviceChannel> channel = device->CreateChannel("dc.wav", 0);
    ASSERT_TRUE(channel);
    channel->Play(10);
    EXPECT_TRUE(WaitFor([&] { return device->Mixer().FramesConsumed() > 44100 / 5; }));
    const std::int64_t before = device->Mixer().FramesConsumed();
    channel = nullptr;
    const std::int64_t after = device->Mixer().FramesConsumed();
    // The fade begins 25 ms after the play cursor and takes 10 ms; the killer frees the instance
    // 20 ms after that, seen in steps of 10 ms, the card playing 1024 frames a period.
    EXPECT_GE(after - before, (25 + 10 + 20) * 44.1);
    EXPECT_LE(after - before, 44100 / 2); // far less than the 1.5 s it has queued
}

// A refill thread stuck in its decoder (a stream that blocks) holds up nothing: the killer gives
// it up after 1000 ms with a log line, the destroyed channel returns, and the instance it still uses
// is kept, so that the thread may come back later without harm.
TEST(SoundDeviceLoaderTest, AStuckRefillThreadIsLeftBehindAfterASecond) {
    // A WAV file whose reads block beyond its first 1.6 seconds until the test lets them go.
    struct TState {
        std::mutex lock;
        std::condition_variable changed;
        bool blocked = false;
        bool release = false;
    };
    auto state = std::make_shared<TState>();
    class TBlockingStream final : public TMemoryStream {
    public:
        explicit TBlockingStream(std::shared_ptr<TState> state) : state_(std::move(state)) {}
        std::int32_t Read(void* buffer, std::int32_t count) override {
            if (GetPosition() + count > 44 + 44100 * 4 * 16 / 10) {
                std::unique_lock<std::mutex> lock(state_->lock);
                state_->blocked = true;
                state_->changed.notify_all();
                state_->changed.wait(lock, [&] { return state_->release; });
            }
            return TMemoryStream::Read(buffer, count);
        }

    private:
        std::shared_ptr<TState> state_;
    };
    const std::string bytes = WavBytes(Constant(44100 * 4, 2, 10000), 44100, 2);
    std::atomic<double> now{0};
    TSoundDevice::TOptions options;
    options.openOutput = false; // nobody mixes: the instance never drains by itself
    options.now = [&now] { return now.load(); };
    TRef<TSoundDevice> device = TSoundDevice::Create(options);
    device->SetOpenStreamCallback([&](const std::string&) -> TRef<TStream> {
        auto stream = MakeRef<TBlockingStream>(state);
        stream->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        stream->SetPosition(0);
        return stream;
    });
    TRef<TDeviceChannel> channel = device->CreateChannel("slow.wav", 0);
    ASSERT_TRUE(channel);
    channel->Play(10);
    {
        std::unique_lock<std::mutex> lock(state->lock);
        ASSERT_TRUE(state->changed.wait_for(lock, std::chrono::seconds(10), [&] { return state->blocked; }));
    }
    const std::string log = test::LoggedWhile([&] {
        std::atomic<bool> destroyed{false};
        std::thread destroying([&] { // waits for the killer
            ::pthread_setname_np(::pthread_self(), "kivTestDestroy");
            channel = nullptr;
            destroyed = true;
        });
        // The millisecond timer runs on until the killer's longest wait for a drain has passed.
        for (int i = 0; i < 1000 && !destroyed.load(); ++i) {
            now = now.load() + 100;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        destroying.join();
    });
    EXPECT_NE(log.find("Sound fill thread did not stop within 1000 ms"), std::string::npos) << log;
    EXPECT_TRUE(test::HasThread("kivSoundFill"));
    {
        std::lock_guard<std::mutex> lock(state->lock);
        state->release = true;
    }
    state->changed.notify_all();
    EXPECT_TRUE(WaitFor([] { return !test::HasThread("kivSoundFill"); })) << "the thread ends once let go";
    device = nullptr;
}

} // namespace
} // namespace kiv
