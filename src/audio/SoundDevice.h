// TSoundDevice: the music device on SDL audio. It creates channels by name (a sound file of the
// show, or a composite description), keeps the master volume and provides the play clock.
//
// A channel is one named sound; every play-through of it is a play instance with its own decoder
// and its own output buffer. An instance fades in when it starts, fades out when it stops (the fade
// reaches audio already queued 25 ms after the play cursor) and is handed to the channel killer
// when it has finished (faded to silence or its source ended); the killer frees it once the mixer
// has played its buffer up to its last sounding frame. That is counted in frames the device
// consumed, not in milliseconds of the process clock: a sound card slower than the clock still
// hears every sound to its end.
#pragma once

#include "audio/MusicDevice.h"
#include "audio/SoundOutput.h"
#include "audio/SoundSource.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kiv {

class TSoundChannel;
class TSoundDevice;

// One play-through of a channel's sound.
class TPlayInstance : public std::enable_shared_from_this<TPlayInstance> {
public:
    enum class TState { Idle, Playing, Stopping };

    TPlayInstance(TSoundDevice& device, TSoundChannel* owner, std::unique_ptr<TSoundSource> source);
    ~TPlayInstance();

    TState State() const;
    // Idle only: positions the source and prepares the first fill.
    void Seek(std::int32_t ms);
    // `delayFrames`: device frames the mix leaves out before the first frame of this instance.
    void Play(std::int32_t fadeMs, std::int64_t delayFrames = 0);
    void Stop(std::int32_t fadeMs);
    // Milliseconds played + the position it was last moved to.
    std::int32_t Position() const;
    void SetVolume(float volume) { buffer_->SetVolume(volume); }
    TOutputBuffer& Buffer() { return *buffer_; }
    // Killer: the channel no longer exists.
    void Detach();
    TSoundChannel* Owner();
    std::recursive_mutex& OwnerLock() { return ownerLock_; }
    // Killer: finished, and the mixer has played its buffer past the last frame that sounds.
    bool Drained() const;
    // The source ran out (rather than a stop fading it).
    bool EndedNaturally() const;
    // Killer, before the last reference goes: out of the mix, the refill thread ended. False when
    // that thread is stuck: the instance must then never be freed (the thread still uses it).
    bool Retire();

private:
    void FirstFill(std::int16_t* data, int frames);
    void FadeFill(std::int16_t* data, int frames);
    void Fill(std::int16_t* data, int frames);
    // Fades in place; returns the frame at which a fade-out reached silence, or -1.
    int ApplyGain(std::int16_t* data, int frames);
    // `endFrame`: the buffer frame (counted from its start) after the last one that sounds.
    void Finish(std::int64_t endFrame);

    TSoundDevice& device_;
    std::recursive_mutex ownerLock_;
    TSoundChannel* owner_;
    std::unique_ptr<TSoundSource> source_;
    std::unique_ptr<TOutputBuffer> buffer_;
    const int channels_;
    const int rate_;

    std::mutex sourceLock_; // the source, read on the refill thread
    mutable std::mutex lock_; // the state and the gain; never held while the source decodes
    TState state_ = TState::Idle;
    bool fadingIn_ = false;
    bool fadingOut_ = false;
    bool stopRequested_ = false;
    bool silent_ = false; // faded out to 0: the rest is silence
    bool ended_ = false;
    bool finished_ = false;
    float gain_ = 1;
    float step_ = 0;
    std::int32_t positionBase_ = 0;
    std::vector<std::int16_t> prefetch_;
    int prefetchSounding_ = 0; // frames of the prefetch that come from the source
    bool havePrefetch_ = false;
    std::atomic<std::int64_t> endFrame_{-1}; // set once finished
    std::atomic<bool> abandoned_{false};     // its refill thread was left behind stuck
};

class TSoundChannel final : public TDeviceChannel {
public:
    // Destroying a channel that sounds waits, on a device with its own threads, until its fade-out
    // has been played (25 ms ahead of the play cursor, 10 ms of fade), but no longer than this.
    static constexpr int kDrainLimitMs = 3000;

    TSoundChannel(TSoundDevice& device, std::string name, std::unique_ptr<TSoundSource> source);

    double LengthMs() const override { return lengthMs_; }
    void Play(std::int32_t fadeMs) override { Start(fadeMs, 0); }
    void PlayLate(std::int32_t fadeMs, double lateMs) override;
    void Stop(std::int32_t fadeMs) override;
    bool IsPlaying() const;
    void Seek(std::int32_t ms);
    std::int32_t GetPosition();
    void SetVolume(float volume);
    float GetVolume() const;
    void SetMasterVolume(float volume);
    // Killer: the instance has finished and is freed; runs the end callback when its sound ran out.
    void InstanceFinished(TPlayInstance& instance);
    std::size_t InstanceCount() const;
    // Called on the killer's thread each time a play-through ends because its sound ran out (not
    // when it was stopped).
    void SetEndCallback(std::function<void()> callback);

protected:
    ~TSoundChannel() override;

private:
    void Start(std::int32_t fadeMs, std::int64_t delayFrames);
    std::shared_ptr<TPlayInstance> NewInstance(); // under lock_
    void ApplyVolume();                           // under lock_

    TRef<TSoundDevice> device_;
    const std::string name_;
    const double lengthMs_;
    mutable std::mutex lock_;
    std::vector<std::shared_ptr<TPlayInstance>> instances_; // the last is the current one
    std::unique_ptr<TSoundSource> spare_;                   // the source opened at creation
    std::int32_t savedPosition_ = 0;
    float volume_ = 1;
    float master_ = 1;
    std::function<void()> ended_;
};

class TSoundDevice final : public TMusicDevice {
public:
    struct TOptions {
        // Open the SDL audio device; otherwise the mixer is driven by its owner (tests).
        bool openOutput = true;
        // Refill, poll and killer threads; otherwise the owner calls Refill, Poll and RunKiller.
        bool threaded = true;
        // The millisecond timer of the clock and the killer.
        std::function<double()> now;
        // Without threads: `now` reads device frame n as n / 44.1 ms (an offline mix pulled behind
        // its clock), so a channel that starts late starts on the frame it was due (FramesUntil).
        bool placeLateStarts = false;
    };

    static TRef<TSoundDevice> Create(TOptions options);
    static TRef<TSoundDevice> Create() { return Create(TOptions{}); }

    bool IsUsable() const override { return usable_; }
    float GetMasterVolume() const override;
    void SetMasterVolume(float volume) override;
    IDeviceClock& Clock() override;
    TRef<TDeviceChannel> CreateChannel(const std::string& name, std::int32_t offsetMs) override;
    void SetOpenStreamCallback(TOpenStream open) override;

    TSoundMixer& Mixer() { return mixer_; }
    // Without threads (an offline device): refills the buffers, frees what the killer may free and
    // mixes `frames` device frames into `out`, as one period of a sound card would.
    void Pull(std::int16_t* out, int frames);
    bool Threaded() const { return options_.threaded; }
    double NowMs() const { return options_.now(); }
    // With placeLateStarts: the device frames still to be mixed before the moment `lateMs` ago; 0
    // when that has been mixed already, and always 0 otherwise.
    std::int64_t FramesUntil(double lateMs) const;
    TRef<TStream> OpenStream(const std::string& name);
    // The killer takes the instance and frees it once it has drained (Drained), or at the latest
    // at `latestMs` of the device's millisecond timer. An instance handed over twice keeps one
    // entry with the earlier limit.
    void Kill(std::shared_ptr<TPlayInstance> instance, double latestMs = kNever);
    static constexpr double kNever = 1e300;
    // One pass of the killer over the finished instances; the number still waiting.
    std::size_t RunKiller();
    // Blocks until the killer holds none of `instances` any more, at most `limitMs`; false on time-out.
    bool WaitReleased(const std::vector<const TPlayInstance*>& instances, int limitMs);
    void Unregister(TSoundChannel& channel);

protected:
    ~TSoundDevice() override;

private:
    explicit TSoundDevice(TOptions options);
    void KillerMain();

    TOptions options_;
    bool usable_ = false;
    TSoundMixer mixer_;
    std::unique_ptr<TSdlAudioOutput> output_;

    std::mutex openLock_;
    TOpenStream open_;

    mutable std::mutex lock_; // the channel list and the master volume
    std::vector<TSoundChannel*> channels_;
    float master_ = 1;

    std::mutex clockLock_;
    TRef<TPlayClock> clock_;

    struct TDying {
        std::shared_ptr<TPlayInstance> instance;
        double latest;
    };
    // Frees the instances of `due` on this thread; those whose refill thread is stuck are kept.
    static void FreeInstances(std::vector<std::shared_ptr<TPlayInstance>>& due);
    std::mutex killerLock_;
    std::condition_variable killerWake_;
    std::condition_variable released_; // an entry left the killer's list
    std::vector<TDying> dying_;
    bool killerQuit_ = false;
    std::thread killer_;
};

} // namespace kiv
