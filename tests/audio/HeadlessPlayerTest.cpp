#include "audio/KivMusicPlayer.h"
#include "audio/KivMusicSource.h"
#include "audio/PlayItems.h"

#include "project/ShowProjectSupport.h"
#include "support/LogCapture.h"

#include "audio/MusicPlayerSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

namespace kiv {
namespace {

using test::Comment;
using test::HasThread;
using test::Item;
using test::Music;
using test::TDeviceCall;
using test::TRecordingDevice;

const std::string kThreeSlides = test::TimesText({5000, 9000, 15000});
const std::string kVoice = "    FileName=voice.mp3\n    Duration=8000\n    Pause=500\n    StartTime=100\n";

// A headless player on the show text, its clock that of `device` when there is one; stopped when
// the holder goes.
class THeadlessPlayer {
public:
    explicit THeadlessPlayer(const std::string& project, TRef<TRecordingDevice> device = {},
                             TRef<TVirtualClock> clock = {})
        : player_(TKivMusicPlayer::CreateHeadless(test::MakeSource(project), false,
                                                  device ? device->clock : std::move(clock), device)) {}
    ~THeadlessPlayer() { player_->Stop(); }
    TKivMusicPlayer& operator*() { return *player_; }
    TKivMusicPlayer* operator->() { return player_.Get(); }

private:
    TRef<TKivMusicPlayer> player_;
};

TEST(MusicPlayerHeadless, RunsNoThreadAndStepsAtEveryFiveMillisecondsOfVirtualTime) {
    const auto clock = MakeRef<TVirtualClock>(1000);
    THeadlessPlayer player("[Main]\n" + kThreeSlides, {}, clock);
    ASSERT_TRUE(player->Headless());
    EXPECT_EQ(player->VirtualClock(), clock.Get());
    player->Start();
    EXPECT_FALSE(HasThread("kivMusicPlayer"));
    EXPECT_FALSE(HasThread("kivMusicLoader"));
    EXPECT_EQ(player->StepCount(), 0u);

    // Steps fall on the grid of the clock's reading at creation, whatever the advances are.
    player->AdvanceClock(12);
    EXPECT_EQ(clock->NowMs(), 1012);
    EXPECT_EQ(player->StepCount(), 2u); // 1005, 1010
    player->AdvanceClock(3);
    EXPECT_EQ(player->StepCount(), 3u); // 1015 exactly
    for (int frame = 0; frame < 25; ++frame)
        player->AdvanceClock(40);
    EXPECT_EQ(clock->NowMs(), 2015);
    EXPECT_EQ(player->StepCount(), 203u);

    // Nothing moves for an advance that is not forward, and nobody else steps.
    player->AdvanceClock(0);
    player->AdvanceClock(-40);
    player->AdvanceClock(std::nan(""));
    player->AdvanceClock(INFINITY);
    EXPECT_EQ(clock->NowMs(), 2015);
    EXPECT_EQ(player->StepCount(), 203u);
    EXPECT_FALSE(player->WaitForSteps(1, 10000));

    // A huge advance runs only the steps of its last stretch and lands exactly.
    player->AdvanceClock(1e12);
    EXPECT_EQ(clock->NowMs(), 2015 + 1e12);
    const std::uint64_t caughtUp = player->StepCount() - 203u;
    EXPECT_GE(caughtUp, TKivMusicPlayer::kHeadlessMaxCatchUpMs / 5 - 1);
    EXPECT_LE(caughtUp, TKivMusicPlayer::kHeadlessMaxCatchUpMs / 5 + 1);
    // Moving the clock by other means skips the steps it passes; the grid stays.
    clock->Advance(1002);
    player->AdvanceClock(4);
    EXPECT_EQ(player->StepCount() - 203u - caughtUp, 1u); // 2015 + 1e12 + 1005
}

TEST(MusicPlayerHeadless, AStepThatFailsACheckIsAbandonedWithOneLogLineAndTheClockMovesOn) {
    const auto clock = MakeRef<TVirtualClock>(0);
    THeadlessPlayer player("[Main]\n" + kThreeSlides, {}, clock);
    player->Start(); // the queues now belong to this thread
    const std::string log = test::LoggedWhile([&] {
        // Advancing from another thread breaks the rule; every step fails its queue's check.
        std::thread other([&] {
            ::pthread_setname_np(::pthread_self(), "kivTestRender");
            player->AdvanceClock(20);
        });
        other.join();
    });
    EXPECT_EQ(clock->NowMs(), 20);
    EXPECT_EQ(player->StepCount(), 0u);
    const std::string abandoned = "operation abandoned";
    const std::size_t first = log.find(abandoned);
    EXPECT_NE(first, std::string::npos);
    EXPECT_EQ(log.find(abandoned, first + 1), std::string::npos);
}

TEST(MusicPlayerHeadless, AnInteractivePlayerIgnoresTheHeadlessAdvance) {
    const auto clock = MakeRef<TVirtualClock>(0);
    auto player =
        MakeRef<TKivMusicPlayer>(test::MakeSource("[Main]\n" + kThreeSlides), false, nullptr, clock);
    EXPECT_FALSE(player->Headless());
    EXPECT_EQ(player->VirtualClock(), nullptr);
    player->AdvanceClock(100);
    EXPECT_EQ(clock->NowMs(), 0);
    EXPECT_EQ(player->StepCount(), 0u);
}

TEST(MusicPlayerHeadless, FollowsTheEngineThroughPauseSeekAndBarrier) {
    const auto clock = MakeRef<TVirtualClock>(100000);
    THeadlessPlayer player("[Main]\n" + kThreeSlides, {}, clock);
    player->Start();
    EXPECT_EQ(player->GetTime(), 0);
    ASSERT_TRUE(player->IsReady());
    // Every call takes effect at once, at the clock's reading: no step has to pass in between.
    player->SetRunning(true);
    player->AdvanceClock(1500);
    EXPECT_EQ(player->GetTime(), 1500);
    player->SetRunning(false);
    player->AdvanceClock(1000);
    EXPECT_EQ(player->GetTime(), 1500);
    player->SetRunning(true);
    player->AdvanceClock(500);
    EXPECT_EQ(player->GetTime(), 2000);

    player->Seek(3000, 2500);
    EXPECT_EQ(player->EngineBarrier(), 3000);
    EXPECT_TRUE(player->IsReady());
    player->AdvanceClock(100);
    EXPECT_EQ(player->GetTime(), 2500);
    player->SetRunning(true);
    player->AdvanceClock(400);
    EXPECT_EQ(player->GetTime(), 2900);
    player->AdvanceClock(400);
    EXPECT_EQ(player->GetTime(), 3000);
    player->AdvanceClock(10000);
    EXPECT_EQ(player->GetTime(), 3000);
    player->SetBarrier(TKivMusicPlayer::kNoBarrier);
    EXPECT_EQ(player->GetTime(), 2500 + 400 + 400 + 10000);
    EXPECT_TRUE(player->IsReady());

    // A stopped player leaves the clock alone.
    player->Stop();
    player->AdvanceClock(100);
    EXPECT_EQ(clock->NowMs(), 100000 + 1500 + 1000 + 500 + 100 + 400 + 400 + 10000);
    player->Seek(-1, 50);
    EXPECT_EQ(player->GetTime(), 2500 + 400 + 400 + 10000);
}

TEST(MusicPlayerHeadless, StartAndSeekReturnWithTheMusicLoadedAndPlayOnTheStepGrid) {
    const auto device = MakeRef<TRecordingDevice>();
    THeadlessPlayer player(
        "[Main]\n" + Music(Item("I", "      FileName=m.mp3\n      Duration=20000\n")) + kThreeSlides, device);
    // The music has to load first.
    EXPECT_FALSE(player->IsReady());
    player->Start();
    EXPECT_TRUE(player->IsReady());
    EXPECT_EQ(device->Calls("create", "m.mp3").size(), 1u);
    EXPECT_LE(player->StepCount(), static_cast<std::uint64_t>(TKivMusicPlayer::kHeadlessSettleSteps));
    EXPECT_EQ(device->clock->NowMs(), 0); // settling stands the clock
    EXPECT_TRUE(device->Calls("play", "").empty());

    player->SetRunning(true);
    player->AdvanceClock(1000.0 / 30);
    // The first step after the start plays it.
    ASSERT_EQ(device->Calls("play", "m.mp3").size(), 1u);
    EXPECT_EQ(device->Calls("play", "m.mp3").front().at, 5);
    EXPECT_EQ(player->GetTime(), 1000.0 / 30);
}

// Repeating music of a few milliseconds: below 10 ms it plays once; at 20 ms every pass plays, but
// a sequence holds at most its channel limit at a time (250 passes fall within the look-ahead).
TEST(MusicPlayerHeadless, TinyRepeatingMusicHoldsBoundedChannels) {
    for (const int length : {5, 20}) {
        SCOPED_TRACE(length);
        const auto device = MakeRef<TRecordingDevice>();
        device->soundLength = length;
        THeadlessPlayer player("[Main]\n" +
                                   Music(Item("I", "      FileName=m.mp3\n      Duration=" + std::to_string(length) + "\n"),
                                         true) +
                                   kThreeSlides,
                               device);
        player->Start();
        std::size_t most = 0;
        player->SetRunning(true);
        for (int frame = 0; frame < 75; ++frame) {
            player->AdvanceClock(40);
            for (const auto& item : player->Items())
                if (const auto* sequence = dynamic_cast<const TPlaySequence*>(item.get()))
                    most = std::max(most, sequence->Channels().size());
        }
        const std::size_t plays = device->Calls("play", "").size();
        if (length < kMinRepeatMs) {
            EXPECT_EQ(device->Calls("create", "").size(), 1u) << "one pass, never repeated";
            EXPECT_LE(plays, 1u);
        } else {
            EXPECT_LE(most, kMaxSequenceChannels);
            EXPECT_GE(plays, 3000u / length - 2) << "every pass of 3 s plays";
        }
    }
}

TEST(MusicPlayerHeadless, ACommentStopsExactlyOnTheStepBeforeItsEnd) {
    const auto stopTime = [](bool fullyPlay) {
        const auto device = MakeRef<TRecordingDevice>();
        THeadlessPlayer player("[Main]\n" + std::string(fullyPlay ? "opt_fullyplaysound=1\n" : "") +
                                   kThreeSlides + Comment(1, kVoice) + "[Slide2]\n[Slide3]\n",
                               device);
        player->Start();
        EXPECT_TRUE(player->IsReady());
        player->SetRunning(true);
        for (int frame = 0; frame < 300 && device->Calls("stop", "voice.mp3").empty(); ++frame)
            player->AdvanceClock(40);
        EXPECT_EQ(device->Calls("play", "voice.mp3").size(), 1u);
        const std::vector<TDeviceCall> stops = device->Calls("stop", "voice.mp3");
        return stops.empty() ? -1.0 : stops.front().at;
    };
    // Cut at slide 1's end (5000), 10 ms early; with opt_fullyplaysound at its own end (8500).
    EXPECT_EQ(stopTime(false), 4990);
    EXPECT_EQ(stopTime(true), 8490);
}

TEST(MusicPlayerHeadless, PausingStopsACommentAndASeekReloadsItAtTheMatchingOffset) {
    const auto device = MakeRef<TRecordingDevice>();
    THeadlessPlayer player("[Main]\nopt_fullyplaysound=1\n" + kThreeSlides + Comment(1, kVoice) +
                               "[Slide2]\n[Slide3]\n",
                           device);
    player->Start();
    player->SetRunning(true);
    player->AdvanceClock(100);
    ASSERT_EQ(device->Calls("play", "voice.mp3").size(), 1u);
    player->SetRunning(false);
    player->AdvanceClock(5);
    ASSERT_EQ(device->Calls("stop", "voice.mp3").size(), 1u);
    EXPECT_EQ(device->Calls("stop", "voice.mp3").front().at, 105);
    player->SetRunning(true);
    player->AdvanceClock(5);
    ASSERT_EQ(device->Calls("play", "voice.mp3").size(), 2u);
    EXPECT_EQ(device->Calls("play", "voice.mp3").back().at, 110);

    // Slide 2 has no comment; slide 1's still sounds there, 6000 in. The seek returns loaded.
    player->Seek(TKivMusicPlayer::kNoBarrier, 6000);
    EXPECT_TRUE(player->IsReady());
    ASSERT_EQ(device->Calls("create", "voice.mp3").size(), 2u);
    EXPECT_EQ(device->Calls("create", "voice.mp3").back().offset, 6000);
    player->SetRunning(true);
    player->AdvanceClock(5);
    EXPECT_EQ(device->Calls("play", "voice.mp3").size(), 3u);
    // Past the comment's end nothing is loaded and nothing is awaited.
    player->Seek(TKivMusicPlayer::kNoBarrier, 8600);
    EXPECT_TRUE(player->IsReady());
    player->AdvanceClock(100);
    EXPECT_EQ(device->Calls("create", "voice.mp3").size(), 2u);
}

// A show without music, or with its music disabled, is ready before any step in both modes, and
// again at once after a seek or a barrier; nothing is loaded for it.
TEST(MusicPlayerReadiness, AShowWithoutMusicIsReadyAtOnceInBothModes) {
    std::string disabled = Music(Item("I", "      FileName=m.mp3\n      Duration=20000\n"));
    disabled.insert(disabled.find('\n') + 1, "  music_disable=1\n");
    const std::vector<std::string> shows{
        "[Main]\n" + kThreeSlides,
        "[Main]\n" + disabled + kThreeSlides + Comment(1, kVoice) + "[Slide2]\n[Slide3]\n",
    };
    for (const std::string& show : shows) {
        for (const bool headless : {false, true}) {
            SCOPED_TRACE(show + (headless ? " headless" : " interactive"));
            const auto device = MakeRef<TRecordingDevice>();
            const TRef<TKivMusicPlayer> player =
                headless
                    ? TKivMusicPlayer::CreateHeadless(test::MakeSource(show), false, device->clock, device)
                    : MakeRef<TKivMusicPlayer>(test::MakeSource(show), false, device);
            EXPECT_TRUE(player->IsReady());
            player->Start();
            EXPECT_TRUE(player->IsReady());
            player->Seek(TKivMusicPlayer::kNoBarrier, 7000);
            EXPECT_TRUE(player->IsReady());
            player->SetBarrier(8000);
            EXPECT_TRUE(player->IsReady());
            if (headless) {
                EXPECT_EQ(player->StepCount(), 0u);
            }
            player->Stop();
            EXPECT_TRUE(device->AllCalls().empty());
        }
    }
}

// What one run of a show gives: every device call, the show time after every frame, the steps.
struct TRun {
    std::vector<TDeviceCall> calls;
    std::vector<double> times;
    std::uint64_t steps = 0;
};

// A scripted engine: it plays 3 s, seeks to 6000 with a barrier at 9000, pauses 1 s, then plays
// across the barrier, lifts it and plays on over the end of the repeating 15 s show.
TRun RunShow(double frameMs) {
    const std::string show =
        "[Main]\nopt_syncmode=1\n" +
        Music(Item("A", "      FileName=a.mp3\n      Duration=7000\n      CrossMode=2\n") +
              Item("B", "      FileName=b.mp3\n      Duration=6000\n      CrossMode=2\n")) +
        kThreeSlides + Comment(1, kVoice) + "[Slide2]\n" +
        Comment(3, "    FileName=end.mp3\n    Duration=3000\n");
    const auto device = MakeRef<TRecordingDevice>();
    TRun run;
    {
        THeadlessPlayer player(show, device);
        const auto play = [&](double ms) {
            for (double done = 0; done < ms; done += frameMs) {
                player->AdvanceClock(frameMs);
                run.times.push_back(player->GetTime());
            }
        };
        player->Start();
        player->SetRunning(true);
        play(3000);
        player->Seek(9000, 6000);
        player->SetRunning(true);
        play(2000);
        player->SetRunning(false);
        play(1000);
        player->SetRunning(true);
        play(2000);
        player->SetBarrier(TKivMusicPlayer::kNoBarrier);
        play(12000);
        run.steps = player->StepCount();
    }
    run.calls = device->AllCalls();
    return run;
}

TEST(MusicPlayerHeadless, TheSameShowGivesTheSameScheduleAndClockInEveryRun) {
    const TRun first = RunShow(1000.0 / 30);
    const TRun second = RunShow(1000.0 / 30);
    ASSERT_FALSE(first.calls.empty());
    EXPECT_EQ(first.calls, second.calls);
    EXPECT_EQ(first.times, second.times);
    EXPECT_EQ(first.steps, second.steps);
    // Channels start only in steps, so only on the 5 ms grid.
    for (const TDeviceCall& call : first.calls)
        if (call.what == "play") {
            EXPECT_EQ(std::fmod(call.at, 5.0), 0) << call.name << " at " << call.at;
        }
    // The barrier held the clock at 9000 until it was lifted; the second pass began at 15000.
    EXPECT_NE(std::find(first.times.begin(), first.times.end(), 9000.0), first.times.end());
    EXPECT_GT(first.times.back(), 15000);
    const auto plays = [&](const std::string& name) {
        return std::count_if(first.calls.begin(), first.calls.end(), [&](const TDeviceCall& call) {
            return call.what == "play" && call.name.find(name) != std::string::npos;
        });
    };
    EXPECT_GE(plays("voice.mp3"), 1);
    EXPECT_GE(plays("end.mp3"), 1);
}

TEST(MusicPlayerHeadless, TheScheduleDoesNotDependOnTheFrameLength) {
    // The engine's calls fall at the same virtual times with either frame; the steps do anyway.
    const TRun slow = RunShow(40);
    const TRun fast = RunShow(25);
    ASSERT_FALSE(slow.calls.empty());
    EXPECT_EQ(slow.calls, fast.calls);
    EXPECT_EQ(slow.steps, fast.steps);
    EXPECT_EQ(slow.times.back(), fast.times.back());
}

} // namespace
} // namespace kiv
