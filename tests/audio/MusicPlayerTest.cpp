#include "audio/CompositeDescription.h"
#include "audio/KivMusicPlayer.h"

#include "package/FileAccessor.h"
#include "project/ShowProjectSupport.h"
#include "support/LogCapture.h"

#include "audio/MusicPlayerSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

using test::Comment;
using test::HasThread;
using test::Item;
using test::Music;
using test::TDeviceCall;
using test::TRecordingDevice;

// Steps of the player thread, not wall time, bound every wait; the timeout only catches a hang.
template <class TPredicate> bool WaitUntil(TKivMusicPlayer& player, TPredicate&& done, int maxSteps = 2000) {
    for (int i = 0; i < maxSteps; ++i) {
        if (done()) return true;
        if (!player.WaitForSteps(1, 10000)) return done();
    }
    return done();
}

// Two whole steps: everything posted before the call has been handled and acted on.
void Settle(TKivMusicPlayer& player) {
    ASSERT_TRUE(player.WaitForSteps(2, 10000));
}

class TRunningPlayer {
public:
    TRunningPlayer(const std::string& project, TRef<TMusicDevice> device, TRef<IDeviceClock> clock = {})
        : player_(MakeRef<TKivMusicPlayer>(test::MakeSource(project), false, std::move(device),
                                           std::move(clock))) {
        player_->Start();
    }
    ~TRunningPlayer() { player_->Stop(); }
    TKivMusicPlayer& operator*() { return *player_; }
    TKivMusicPlayer* operator->() { return player_.Get(); }

private:
    TRef<TKivMusicPlayer> player_;
};

const std::string kThreeSlides = test::TimesText({5000, 9000, 15000});

TEST(MusicPlayerClock, FollowsTheVirtualDeviceClockThroughPauseSeekAndBarrier) {
    const auto clock = MakeRef<TVirtualClock>(100000);
    TRunningPlayer player("[Main]\n" + kThreeSlides, nullptr, clock);
    // A show without music still has a clock; it stands at 0 until it is started.
    EXPECT_EQ(player->GetTime(), 0);
    ASSERT_TRUE(WaitUntil(*player, [&] { return player->IsReady(); }));
    player->SetRunning(true);
    Settle(*player);
    clock->Advance(1500);
    EXPECT_EQ(player->GetTime(), 1500);

    // Pausing freezes the time; running again continues from it.
    player->SetRunning(false);
    Settle(*player);
    clock->Advance(1000);
    EXPECT_EQ(player->GetTime(), 1500);
    player->SetRunning(true);
    Settle(*player);
    clock->Advance(500);
    EXPECT_EQ(player->GetTime(), 2000);

    // A seek stands the clock at the new time, whatever the device clock does meanwhile.
    player->Seek(3000, 2500);
    EXPECT_EQ(player->EngineBarrier(), 3000);
    clock->Advance(100);
    EXPECT_EQ(player->GetTime(), 2500);
    player->SetRunning(true); // the seek forgot the earlier request, so this posts again
    Settle(*player);
    clock->Advance(400);
    EXPECT_EQ(player->GetTime(), 2900);
    // The barrier caps the time while the device clock runs on.
    clock->Advance(400);
    EXPECT_EQ(player->GetTime(), 3000);
    clock->Advance(10000);
    EXPECT_EQ(player->GetTime(), 3000);
    // Lifting the barrier shows the time the clock has reached.
    player->SetBarrier(TKivMusicPlayer::kNoBarrier);
    EXPECT_EQ(player->GetTime(), 2500 + 400 + 400 + 10000);
    // Moving the barrier asks for readiness again; the player's next step gives it.
    EXPECT_TRUE(WaitUntil(*player, [&] { return player->IsReady(); }));
}

TEST(MusicPlayerClock, StandsAtTheBarrierWhenSeekingPastIt) {
    const auto clock = MakeRef<TVirtualClock>(0);
    TRunningPlayer player("[Main]\n" + kThreeSlides, nullptr, clock);
    player->Seek(4000, 7000);
    EXPECT_EQ(player->GetTime(), 4000);
    // A far seek neither hangs the player nor loses its steps.
    player->Seek(2e11, 1e11);
    EXPECT_EQ(player->GetTime(), 1e11);
    EXPECT_TRUE(player->WaitForSteps(3, 10000));
}

TEST(MusicPlayerThreads, BothThreadsAreNamedAndEndWithStop) {
    auto player = MakeRef<TKivMusicPlayer>(test::MakeSource("[Main]\n" + kThreeSlides), false);
    player->Start();
    ASSERT_TRUE(player->WaitForSteps(1, 10000));
    EXPECT_TRUE(HasThread("kivMusicPlayer"));
    // The loader names itself when its thread begins, which may come after the player's first step.
    EXPECT_TRUE(WaitUntil(*player, [] { return HasThread("kivMusicLoader"); }));
    player->Stop();
    EXPECT_TRUE(player->Finished());
    // A stopped player answers at once instead of blocking its caller.
    player->Seek(-1, 1000);
    EXPECT_FALSE(player->WaitForSteps(1, 10000));
    // Stop let the loader go; the last reference joins the player's own thread.
    player = nullptr;
    EXPECT_FALSE(HasThread("kivMusicPlayer"));
    EXPECT_FALSE(HasThread("kivMusicLoader"));
}

TEST(MusicPlayerSound, AMissingMusicFileKeepsTheClockRunningInSilence) {
    const auto device = MakeRef<TRecordingDevice>();
    device->missing = "missing.mp3";
    const std::string log = test::LoggedWhile([&] {
        TRunningPlayer player("[Main]\n" +
                                  Music(Item("I", "      FileName=missing.mp3\n      Duration=20000\n")) +
                                  kThreeSlides,
                              device);
        // The failed load still reports back: the player becomes ready and the clock runs.
        ASSERT_TRUE(WaitUntil(*player, [&] { return player->IsReady(); }));
        player->SetRunning(true);
        Settle(*player);
        device->clock->Advance(2000);
        Settle(*player);
        EXPECT_EQ(player->GetTime(), 2000);
        device->clock->Advance(4000);
        EXPECT_EQ(player->GetTime(), 6000);
    });
    EXPECT_NE(log.find("+++++++++++++++++++ Channel Create ERROR"), std::string::npos);
    EXPECT_TRUE(device->Calls("create", "missing.mp3").empty());
    EXPECT_TRUE(device->Calls("play", "").empty());
}

TEST(MusicPlayerSound, AMusicFileMissingFromTheShowsFilesIsLeftSilentBeforeAnyChannel) {
    const auto device = MakeRef<TRecordingDevice>();
    const std::string missing = testing::TempDir() + "kiv_player_no_such_file.mp3";
    TKivSourceSetup setup;
    setup.document = test::ParseIni(
        "[Main]\n" + Music(Item("I", "      FileName=" + missing + "\n      Duration=20000\n")) +
        kThreeSlides);
    setup.programFileName = "kivviewer";
    setup.random = MakeRef<TTransitionRandom>(1);
    setup.fileAccessor = ProcessFileAccessor();
    const std::string log = test::LoggedWhile([&] {
        auto player = MakeRef<TKivMusicPlayer>(MakeRef<TKivSource>(std::move(setup)), false, device);
        player->Start();
        EXPECT_EQ(player->Music().MainPlaylist().Count(), 0);
        EXPECT_TRUE(WaitUntil(*player, [&] { return player->IsReady(); }));
        player->SetRunning(true);
        Settle(*player);
        device->clock->Advance(3000);
        EXPECT_EQ(player->GetTime(), 3000);
        player->Stop();
    });
    EXPECT_NE(log.find("Sound file missing: " + missing), std::string::npos);
    EXPECT_TRUE(device->Calls("create", "").empty());
}

TEST(MusicPlayerSound, ReadinessWaitsForTheMusicToLoad) {
    const auto device = MakeRef<TRecordingDevice>();
    TRunningPlayer player(
        "[Main]\n" + Music(Item("I", "      FileName=m.mp3\n      Duration=20000\n")) + kThreeSlides, device);
    ASSERT_TRUE(WaitUntil(*player, [&] { return player->IsReady(); }));
    // Ready only once the channel exists on the device.
    EXPECT_EQ(device->Calls("create", "m.mp3").size(), 1u);
    EXPECT_TRUE(device->Calls("play", "m.mp3").empty());
    player->SetRunning(true);
    ASSERT_TRUE(WaitUntil(*player, [&] { return !device->Calls("play", "m.mp3").empty(); }));
}

// Moves the device clock by `step` until `done` holds or `limit` is passed; every move is followed
// by two player steps.
template <class TPredicate>
bool RunClockUntil(TKivMusicPlayer& player, TVirtualClock& clock, double step, double limit,
                   TPredicate&& done) {
    while (!done()) {
        if (clock.NowMs() >= limit) return false;
        clock.Advance(step);
        if (!player.WaitForSteps(2, 10000)) return done();
    }
    return true;
}

TEST(MusicPlayerSequences, InSyncModeTheMusicRestartsWithEveryPassOfARepeatingShow) {
    const auto device = MakeRef<TRecordingDevice>();
    // The show lasts 15000 and repeats; the music lasts 3000 and does not.
    TRunningPlayer player("[Main]\nopt_syncmode=1\n" +
                              Music(Item("I", "      FileName=m.mp3\n      Duration=3000\n")) + kThreeSlides,
                          device);
    ASSERT_TRUE(WaitUntil(*player, [&] { return player->IsReady(); }));
    player->SetRunning(true);
    ASSERT_TRUE(WaitUntil(*player, [&] { return device->Calls("play", "m.mp3").size() == 1; }));
    // The music ends after 3000 ms and stays silent for the rest of the pass.
    ASSERT_TRUE(RunClockUntil(*player, *device->clock, 250, 20000,
                              [&] { return !device->Calls("stop", "m.mp3").empty(); }));
    EXPECT_GE(device->Calls("stop", "m.mp3").front().at, 3000);
    EXPECT_LE(device->Calls("stop", "m.mp3").front().at, 3250);
    // Loaded again from its beginning within the look-ahead of the second pass, played at its start.
    ASSERT_TRUE(RunClockUntil(*player, *device->clock, 250, 20000,
                              [&] { return device->Calls("play", "m.mp3").size() == 2; }));
    ASSERT_EQ(device->Calls("create", "m.mp3").size(), 2u);
    EXPECT_EQ(device->Calls("create", "m.mp3").back().offset, 0);
    EXPECT_LE(device->Calls("create", "m.mp3").back().at, 15000 - 4000);
    EXPECT_GE(device->Calls("play", "m.mp3").back().at, 15000);
    EXPECT_LE(device->Calls("play", "m.mp3").back().at, 15250);
}

TEST(MusicPlayerSequences, WithoutSyncModeTheMusicPlaysOnThroughPausesAndSeeks) {
    const auto device = MakeRef<TRecordingDevice>();
    TRunningPlayer player(
        "[Main]\n" + Music(Item("I", "      FileName=m.mp3\n      Duration=60000\n")) + kThreeSlides, device);
    ASSERT_TRUE(WaitUntil(*player, [&] { return player->IsReady(); }));
    player->SetRunning(true);
    ASSERT_TRUE(WaitUntil(*player, [&] { return !device->Calls("play", "m.mp3").empty(); }));
    player->SetRunning(false);
    Settle(*player);
    player->Seek(TKivMusicPlayer::kNoBarrier, 9000);
    Settle(*player);
    device->clock->Advance(1000);
    Settle(*player);
    EXPECT_TRUE(device->Calls("stop", "m.mp3").empty());
    EXPECT_EQ(device->Calls("create", "m.mp3").size(), 1u);
    // It ends on its own clock: 60000 ms after it began, whatever the show did.
    ASSERT_TRUE(RunClockUntil(*player, *device->clock, 1000, 70000,
                              [&] { return !device->Calls("stop", "m.mp3").empty(); }));
    EXPECT_GE(device->Calls("stop", "m.mp3").front().at, 60000);
    EXPECT_LE(device->Calls("stop", "m.mp3").front().at, 61000);
}

TEST(MusicPlayerSequences, ATinyRepeatingItemAfterAHugeClockJumpNeitherHangsNorFloods) {
    const auto device = MakeRef<TRecordingDevice>();
    TRunningPlayer player("[Main]\n" + Music(Item("I", "      FileName=m.mp3\n      Duration=50\n"), true) +
                              kThreeSlides,
                          device);
    ASSERT_TRUE(WaitUntil(*player, [&] { return player->IsReady(); }));
    player->SetRunning(true);
    ASSERT_TRUE(WaitUntil(*player, [&] { return !device->Calls("play", "m.mp3").empty(); }));
    const std::size_t before = device->Calls("create", "m.mp3").size();
    device->clock->Advance(1e12);
    // The channels are created on the music loader's thread, after the player's step asked for
    // them: wait for the first, then give the loader time to create the rest of the look-ahead.
    ASSERT_TRUE(WaitUntil(*player, [&] { return device->Calls("create", "m.mp3").size() > before; }));
    ASSERT_TRUE(player->WaitForSteps(3, 10000));
    // Only the passes within the look-ahead of the new position are loaded.
    const std::size_t loaded = device->Calls("create", "m.mp3").size() - before;
    EXPECT_LE(loaded, 5000u / 50u + 2u);
}

const char* const kFiveSlides = "[Times]\nopt_slidescount=5\nopt_synchpos1=4000\nopt_synchpos2=9000\n"
                                "opt_synchpos3=15000\nopt_synchpos4=20000\nopt_synchpos5=26000\n"
                                "[Slide1]\n[Slide2]\n[Slide3]\nLinkedAudio={LINK}\n[Slide4]\n[Slide5]\n";

TEST(MusicPlayerSound, ALinkedItemStartingWithSlideThreeIsFoundAfterASeekToSlideFive) {
    const auto device = MakeRef<TRecordingDevice>();
    // In sync mode the music follows the show clock; b is linked to slide 3 (starting at 9000).
    TRunningPlayer player(
        "[Main]\nopt_syncmode=1\n" +
            Music(Item("A", "      FileName=a.mp3\n      Duration=30000\n      CrossMode=2\n") +
                  Item("B", "      FileName=b.mp3\n      Duration=20000\n      CrossMode=2\n"
                            "      GUID={link}\n")) +
            kFiveSlides,
        device);
    const std::optional<TCompositeDescription> music =
        ReadCompositeText(player->Music().MainPlaylist().Item(0).file);
    ASSERT_TRUE(music);
    ASSERT_EQ(music->items.size(), 2u);
    EXPECT_EQ(music->items[1].fileName, "b.mp3");
    EXPECT_EQ(music->items[1].timeLine, 9000);

    ASSERT_TRUE(WaitUntil(*player, [&] { return player->IsReady(); }));
    const std::size_t createdBefore = device->Calls("create", "b.mp3").size();
    // Slide 5 starts at 20000: the music is loaded again from 20000 in, inside b (11000 into it).
    player->Seek(TKivMusicPlayer::kNoBarrier, 20000);
    ASSERT_TRUE(WaitUntil(*player, [&] { return device->Calls("create", "b.mp3").size() > createdBefore; }));
    EXPECT_EQ(device->Calls("create", "b.mp3").back().offset, 20000);
    ASSERT_TRUE(WaitUntil(*player, [&] { return player->IsReady(); }));
    player->SetRunning(true);
    ASSERT_TRUE(WaitUntil(*player, [&] { return !device->Calls("play", "b.mp3").empty(); }));
    EXPECT_EQ(player->GetTime(), 20000);
}

const std::string kLongComment =
    "    FileName=voice.mp3\n    Duration=8000\n    Pause=500\n    StartTime=100\n";

// Runs slide 1's long comment (8500 ms with its pause) from the start of the show and returns the
// device time its channel was stopped at.
double CommentStopTime(bool fullyPlay) {
    const auto device = MakeRef<TRecordingDevice>();
    TRunningPlayer player("[Main]\n" + std::string(fullyPlay ? "opt_fullyplaysound=1\n" : "") + kThreeSlides +
                              Comment(1, kLongComment) + "[Slide2]\n[Slide3]\n",
                          device);
    EXPECT_TRUE(WaitUntil(*player, [&] { return player->IsReady(); }));
    player->SetRunning(true);
    EXPECT_TRUE(WaitUntil(*player, [&] { return !device->Calls("play", "voice.mp3").empty(); }));
    double stoppedAt = -1;
    for (int i = 0; i < 100 && stoppedAt < 0; ++i) {
        device->clock->Advance(100);
        Settle(*player);
        const std::vector<TDeviceCall> stops = device->Calls("stop", "voice.mp3");
        if (!stops.empty()) stoppedAt = stops.front().at;
    }
    return stoppedAt;
}

TEST(MusicPlayerComments, ACommentStopsAtItsSlideEndUnlessItPlaysFully) {
    // Cut at slide 1's end (5000), within the 10 ms before it.
    const double cut = CommentStopTime(false);
    EXPECT_GE(cut, 4990);
    EXPECT_LE(cut, 5000);
    // With opt_fullyplaysound it plays on over slide 2 to its own end.
    const double full = CommentStopTime(true);
    EXPECT_GE(full, 8490);
    EXPECT_LE(full, 8500);
}

TEST(MusicPlayerComments, PausingStopsACommentAndASeekFindsItAgainAtTheMatchingOffset) {
    const auto device = MakeRef<TRecordingDevice>();
    TRunningPlayer player("[Main]\nopt_fullyplaysound=1\n" + kThreeSlides + Comment(1, kLongComment) +
                              "[Slide2]\n[Slide3]\n",
                          device);
    ASSERT_TRUE(WaitUntil(*player, [&] { return player->IsReady(); }));
    player->SetRunning(true);
    ASSERT_TRUE(WaitUntil(*player, [&] { return !device->Calls("play", "voice.mp3").empty(); }));
    player->SetRunning(false);
    ASSERT_TRUE(WaitUntil(*player, [&] { return !device->Calls("stop", "voice.mp3").empty(); }));
    player->SetRunning(true);
    ASSERT_TRUE(WaitUntil(*player, [&] { return device->Calls("play", "voice.mp3").size() == 2; }));

    // Slide 2 (from 5000) has no comment of its own; slide 1's still sounds there, from 6000 in.
    player->Seek(TKivMusicPlayer::kNoBarrier, 6000);
    ASSERT_TRUE(WaitUntil(*player, [&] { return device->Calls("create", "voice.mp3").size() == 2; }));
    EXPECT_EQ(device->Calls("create", "voice.mp3").back().offset, 6000);
    // Past the comment's end nothing is loaded again.
    player->Seek(TKivMusicPlayer::kNoBarrier, 8600);
    Settle(*player);
    Settle(*player);
    EXPECT_EQ(device->Calls("create", "voice.mp3").size(), 2u);
}

} // namespace
} // namespace kiv
