// TKivMusicPlayer: the thread, one per opened show, that owns the show clock and decides which
// sounds play when. The show clock is the device clock minus the origin captured when it starts;
// it never passes the barrier the engine sets. Every step it schedules what becomes due within
// the next five seconds (the background music as sequences, the slide comments), lets the music
// loader create their channels, and starts and stops them as the clock reaches them.
//
// Two modes. Interactive: the player and its loader are threads of their own that poll every 5 and
// 10 ms, and the device clock runs by itself. Headless (rendering to files): no thread at all; the
// show clock runs on a virtual clock that only AdvanceClock moves, and a player step, with the
// loader's pending work done just before it, runs on the caller's thread at every 5 ms of virtual
// time. The same show and the same calls then give the same schedule on every machine.
//
// The engine's calls, in both modes: Start, then SetRunning, Seek, SetBarrier, GetTime, IsReady,
// GetVolume and SetVolume; Stop at the end. In headless mode they all come from the thread that
// called Start (GetTime, IsReady and the volume from any), and once per frame:
//     player->AdvanceClock(frameMs);   // moves the virtual clock one frame and runs the steps due
// SetRunning and Seek take effect at once there, at the clock's current reading, and a Seek or
// Start runs the loads it caused before it returns, so IsReady answers for the new position at
// once. Every headless player of one render gets the render's one virtual clock.
#pragma once

#include "audio/DeviceClock.h"
#include "audio/KivChannel.h"
#include "audio/KivMusicSource.h"
#include "audio/MusicDevice.h"
#include "audio/MusicLoader.h"
#include "audio/PlayItems.h"
#include "base/Sync.h"
#include "framework/KivThread.h"
#include "project/KivSource.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kiv {

// A seek request: a negative time keeps the position, a negative barrier keeps the barrier.
struct TTimeData : public TRefObject {
    double time = -1;
    double barrier = -1;
};

class TKivMusicPlayer : public TKivThread {
public:
    static constexpr double kNoBarrier = 2147483647.0;
    static constexpr double kLookAheadMs = 5000;
    // Queue codes of the player.
    static constexpr int kChannelLoaded = TMusicLoader::kChannelLoaded;
    static constexpr int kClockStart = 10;
    static constexpr int kClockStop = 11;
    static constexpr int kSetTime = 12;

    // The step of the headless mode in virtual milliseconds.
    static constexpr double kHeadlessStepMs = 5;
    // An advance longer than this runs only the steps of its last part, as a player thread would
    // after a stall; a huge advance never hangs the caller.
    static constexpr double kHeadlessMaxCatchUpMs = 2 * kLookAheadMs;
    // A headless Seek or Start runs at most this many steps at the standing clock to become ready.
    static constexpr int kHeadlessSettleSteps = 8;

    // Interactive mode. `device` is the sound output (none, or one that is not usable, plays
    // nothing). The device clock is the device's play clock; without a device `clock`, or process
    // milliseconds.
    TKivMusicPlayer(TRef<TKivSource> show, bool ownsShow, TRef<TMusicDevice> device = {},
                    TRef<IDeviceClock> clock = {});
    // Headless mode: the device clock is `clock` (a new one standing at 0 when none), also when a
    // `device` is given; the device then only creates the channels, and the renderer pulls its
    // sound for exactly the time of each advance. Steps fall at the clock's reading at creation
    // plus multiples of 5 ms.
    static TRef<TKivMusicPlayer> CreateHeadless(TRef<TKivSource> show, bool ownsShow,
                                                TRef<TVirtualClock> clock = {},
                                                TRef<TMusicDevice> device = {});

    // Interactive: starts the music loader, then the player. Headless: starts no thread; settles
    // the loads of the opening position (see Seek).
    bool Start() override;
    // Stops the loader, then the player; frees the play items and the device.
    void Stop() override;

    bool Headless() const { return headless_; }
    // Headless mode only (ignored otherwise, and for a negative or non-finite `ms`): moves the
    // virtual clock `ms` forward. Each time it reaches the next multiple of 5 ms the clock stands
    // there for one step: the loader's pending loads and releases are done, then the player's
    // step. Afterwards the clock reads exactly its old value + `ms`. The engine calls this once per
    // frame with the frame's length; moving the clock in other ways skips the steps it passes.
    void AdvanceClock(double ms);
    // The virtual clock of the headless mode; null in interactive mode.
    TVirtualClock* VirtualClock() const { return virtualClock_.Get(); }

    // Engine side.
    void SetRunning(bool run);
    // Positions the clock at `timeMs` (negative: keeps it) and sets the barrier (negative: keeps
    // it); blocks until the player thread has done so (headless: does it at once).
    void Seek(double barrierMs, double timeMs);
    void SetBarrier(double barrierMs) { Seek(barrierMs, -2147483647.0); }
    // The show time; any thread. Never past the barrier.
    double GetTime();
    // The sounds due at the standing clock are loaded, or the clock runs. A player with nothing to
    // load (no music, music disabled, nothing due) is ready from its creation and after every seek.
    bool IsReady() const { return ready_.load(); }
    float GetVolume() const;
    void SetVolume(float volume);
    double EngineBarrier() const { return engineBarrier_.load(); }
    bool OwnsShow() const { return ownsShow_.load(); }
    void SetOwnsShow(bool owns) { ownsShow_.store(owns); }
    TKivSource& Show() const { return *show_; }
    const TKivMusicSource& Music() const { return *music_; }

    // Steps the player has completed (in headless mode those run by AdvanceClock, Seek and
    // Start). WaitForSteps waits until `count` more have, the thread has ended, or `timeoutMs`
    // passed; true when the steps were made. In headless mode nobody else steps: it answers at once.
    std::uint64_t StepCount();
    bool WaitForSteps(std::uint64_t count, std::int64_t timeoutMs);

    // Player thread (the play items).
    double DeviceTime() { return clock_->NowMs(); }
    bool SyncMode() const { return syncMode_; }
    TChannelOperator& StartList() { return startList_; }
    TMusicLoader* Loader() const { return loader_.Get(); }
    std::int32_t NextItemId();
    TPlaySequence* CurrentSequence() const { return currentSequence_; }
    void SetCurrentSequence(TPlaySequence* sequence) { currentSequence_ = sequence; }
    TPlayComment* CurrentComment() const { return currentComment_; }
    // The show time at which the clock last started running (player thread).
    double RunningSinceMs() const { return runningSince_; }
    void SetCurrentComment(TPlayComment* comment) { currentComment_ = comment; }
    const std::vector<std::unique_ptr<TPlayItem>>& Items() const { return items_; }

protected:
    ~TKivMusicPlayer() override;
    bool HandleEvent(int code, TRefObject* data) override;
    void OnStart() override;
    void OnStop() override;
    void Step() override;

private:
    struct THeadlessTag {};
    TKivMusicPlayer(THeadlessTag, TRef<TKivSource> show, bool ownsShow, TRef<TMusicDevice> device,
                    TRef<TVirtualClock> clock);
    void Init(TRef<TMusicDevice> device, TRef<IDeviceClock> clock);
    // One step of the player: messages, scheduling, updates, starts, freeing, readiness.
    void StepOnce();
    // Headless: the loader's pending work, then one player step, at the clock's reading.
    void HeadlessStep();
    // Headless: steps at the standing clock until ready, at most kHeadlessSettleSteps.
    void HeadlessSettle();
    // No play item is left to wait for: a show without music (or with it disabled, or nothing due
    // within the look-ahead) is ready without a step.
    bool NothingToLoad() const;
    void SetClockRunning(bool run);
    void Reposition(bool stopAll, double timeMs);
    void Schedule(bool first, double from, double until);
    void ScheduleComments(bool first, double from, double until);
    // The slide at `timeMs`, moved from `hint`; indexes run on past the slide count.
    std::int64_t SlideAt(double timeMs, std::int64_t hint) const;
    double SlideStart(std::int64_t index) const;
    double SlideEnd(std::int64_t index) const;
    void ChannelLoaded(TKivChannel& channel);
    void FreeItems();

    TRef<TKivSource> show_;
    std::atomic<bool> ownsShow_;
    TRef<TFileAccessor> accessor_;
    TRef<TKivMusicSource> music_;
    TRef<TMusicDevice> device_;
    TRef<IDeviceClock> clock_;
    const bool headless_ = false;
    TRef<TVirtualClock> virtualClock_;
    double stepOrigin_ = 0;     // headless: the virtual time of step 0
    std::int64_t nextStep_ = 1; // headless: the index of the next step on the 5 ms grid
    std::string lastFailure_;   // headless: the last failed check that abandoned a step
    TRef<TMusicLoader> loader_;
    TChannelOperator startList_;
    std::vector<std::unique_ptr<TPlayItem>> items_;
    TPlaySequence* currentSequence_ = nullptr;
    TPlayComment* currentComment_ = nullptr;
    std::int32_t nextItemId_ = 0;
    std::int64_t slideHint_ = 0;
    bool runningRequested_ = false;
    bool syncMode_ = false;

    TSafeCriticalSection clockLock_;
    bool clockRunning_ = false;
    double origin_ = 0;
    double barrier_ = kNoBarrier;
    double runningSince_ = 0;

    double scheduledUntil_ = 0;
    std::atomic<bool> ready_{false};
    std::atomic<double> engineBarrier_{kNoBarrier};

    std::mutex stepLock_;
    std::condition_variable stepDone_;
    std::uint64_t steps_ = 0;
    bool ended_ = false;
};

} // namespace kiv
