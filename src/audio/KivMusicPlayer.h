// TKivMusicPlayer: the thread, one per opened show, that owns the show clock and decides which
// sounds play when. The show clock is the device clock minus the origin captured when it starts;
// it never passes the barrier the engine sets. Every step it schedules what becomes due within
// the next five seconds (the background music as sequences, the slide comments), lets the music
// loader create their channels, and starts and stops them as the clock reaches them.
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

    // `device` is the sound output (none, or one that is not usable, plays nothing). The device
    // clock is the device's play clock; without a device `clock`, or process milliseconds.
    TKivMusicPlayer(TRef<TKivSource> show, bool ownsShow, TRef<TMusicDevice> device = {},
                    TRef<IDeviceClock> clock = {});

    // Starts the music loader, then the player.
    bool Start() override;
    // Stops the loader, then the player; frees the play items and the device.
    void Stop() override;

    // Engine side.
    void SetRunning(bool run);
    // Positions the clock at `timeMs` (negative: keeps it) and sets the barrier (negative: keeps
    // it); blocks until the player thread has done so.
    void Seek(double barrierMs, double timeMs);
    void SetBarrier(double barrierMs) { Seek(barrierMs, -2147483647.0); }
    // The show time; any thread. Never past the barrier.
    double GetTime();
    bool IsReady() const { return ready_.load(); }
    float GetVolume() const;
    void SetVolume(float volume);
    double EngineBarrier() const { return engineBarrier_.load(); }
    bool OwnsShow() const { return ownsShow_.load(); }
    void SetOwnsShow(bool owns) { ownsShow_.store(owns); }
    TKivSource& Show() const { return *show_; }
    const TKivMusicSource& Music() const { return *music_; }

    // Steps the player thread has completed. WaitForSteps waits until `count` more have, the
    // thread has ended, or `timeoutMs` passed; true when the steps were made.
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
    void SetCurrentComment(TPlayComment* comment) { currentComment_ = comment; }
    const std::vector<std::unique_ptr<TPlayItem>>& Items() const { return items_; }

protected:
    ~TKivMusicPlayer() override;
    bool HandleEvent(int code, TRefObject* data) override;
    void OnStart() override;
    void OnStop() override;
    void Step() override;

private:
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

    double scheduledUntil_ = 0;
    std::atomic<bool> ready_{false};
    std::atomic<double> engineBarrier_{kNoBarrier};

    std::mutex stepLock_;
    std::condition_variable stepDone_;
    std::uint64_t steps_ = 0;
    bool ended_ = false;
};

} // namespace kiv
