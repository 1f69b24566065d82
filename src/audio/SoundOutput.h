// The sound output: one SDL audio device in the device format (44100 Hz, 2 channels, 16 bits), one
// output buffer per play instance and the play clock.
//
// An output buffer is a 2-second ring of 16-bit PCM in its play instance's own rate and channels,
// refilled by a thread of its own from the instance's fill callbacks: three quarters at the start,
// then at most half the ring per wake, at the latest every 100 ms. The mixer (the SDL callback, or a
// test calling Mix directly) reads every started buffer through its own resampler, applies the
// buffer's volume (hundredths of a decibel, gain = 10^(mB / 2000)), adds the buffers with clamping
// and advances their play cursors. The frames the mixer produced are the play cursor of the clock.
#pragma once

#include "audio/DeviceClock.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct SwrContext;

namespace kiv {

class TOutputBuffer {
public:
    // Fill callbacks: write exactly `frames` frames at `data`. The fade fill rewrites frames that
    // are already queued.
    using TFill = std::function<void(std::int16_t* data, int frames)>;
    struct TCallbacks {
        TFill firstFill;
        TFill fadeFill;
        TFill fill;
    };

    // `threaded` false: nobody refills by itself; the owner calls Refill (tests, offline mixing).
    TOutputBuffer(int rate, int channels, TCallbacks callbacks, bool threaded = true);
    ~TOutputBuffer();
    TOutputBuffer(const TOutputBuffer&) = delete;
    TOutputBuffer& operator=(const TOutputBuffer&) = delete;

    int Rate() const { return rate_; }
    int Channels() const { return channels_; }
    int SizeFrames() const { return size_; }
    // Three quarters of the ring.
    int InitialFillSize() const { return size_ * 3 / 4; }
    // Fills the first part and lets the mixer read; starts the refill thread when threaded. The
    // mixer adds `delayFrames` device frames of nothing before the buffer's first frame (an offline
    // mix placing a sound that was due inside the block it is about to mix).
    void Start(std::int64_t delayFrames = 0);
    bool Started() const { return started_.load(); }
    // The fade fill is applied, 25 ms after the play cursor, to what is queued; wakes the thread.
    void RequestFade();
    // One refill step: a requested fade, then up to half the ring of new frames. With `topUp` false
    // new frames come only once a quarter of the ring is free (an offline mix that refills before
    // every short period it mixes reads its sources in larger blocks so).
    void Refill(bool topUp = true);
    // Milliseconds the mixer has played of this buffer.
    double Position() const;
    // Frames queued and not yet played.
    std::int64_t FramesAhead() const;
    // Frames the mixer has read since the start, and frames written into the ring since the start.
    std::int64_t FramesPlayed() const { return played_.load(); }
    std::int64_t FramesWritten() const { return written_.load(); }
    // Inside a fill callback: the frame, counted from the start, that the callback's first frame is
    // (the first fill begins at 0). Meaningless outside a callback.
    std::int64_t CallbackFrame() const { return callbackAt_.load(); }
    // Ends the refill thread, waiting at most `limitMs` for it. False when it did not end in time (a
    // fill callback stuck in a decoder): it is then logged and left running on its own, and
    // whatever its callbacks reach must stay alive.
    bool StopFilling(int limitMs = 1000);
    // 1.0 is full volume; stored as hundredths of a decibel: 600 x log2 v, clamped to -10000 ... 0.
    void SetVolume(float volume);
    float GetVolume() const { return volume_.load(); }
    std::int32_t VolumeMb() const { return volumeMb_.load(); }
    static std::int32_t VolumeToMb(float volume);
    static double MbToGain(std::int32_t mb);

    // Mixer side: adds `frames` device frames of this buffer, with its volume, into `mix`.
    void MixInto(std::int32_t* mix, int frames);
    // Mixer side, when this buffer is the only one: writes its `frames` device frames to `out` as they
    // are, silence where it has run dry, which is what MixInto alone sums to. False, having taken
    // nothing, unless it sounds now, at full volume, in the device format.
    bool CopyInto(std::int16_t* out, int frames);

private:
    void ThreadMain();
    // Reads up to `frames` frames from the ring at the play cursor; returns the frames read.
    int TakeFrames(std::int16_t* out, int frames);
    // mix += `count` samples at the volume `mb` (silent at -10000).
    static void AddScaled(const std::int16_t* samples, std::size_t count, std::int32_t mb, std::int32_t* mix);

    const int rate_;
    const int channels_;
    const int size_;
    TCallbacks callbacks_;
    const bool threaded_;

    mutable std::mutex ringLock_; // the ring and the cursors
    std::vector<std::int16_t> ring_;
    // Changed under ringLock_; Position and FramesAhead read them without it (also from the fill
    // callbacks, and from the play instance that the fade fill locks while holding the ring).
    std::atomic<std::int64_t> written_{0}; // frames written since the start
    std::atomic<std::int64_t> played_{0};  // frames the mixer read since the start

    std::mutex fillLock_; // the fill callbacks
    std::vector<std::int16_t> block_; // under fillLock_: a fill where the ring wraps inside it
    std::atomic<bool> fadeRequested_{false};
    std::atomic<bool> started_{false};
    std::atomic<float> volume_{1.0f};
    std::atomic<std::int32_t> volumeMb_{0};
    std::atomic<std::int64_t> delay_{0}; // device frames the mixer still leaves out

    std::atomic<std::int64_t> callbackAt_{0};

    std::mutex wakeLock_;
    std::condition_variable wake_;
    bool quit_ = false;
    bool woken_ = false;
    bool threadEnded_ = false; // under wakeLock_: the refill thread has left its loop
    std::thread thread_;

    // Mixer thread only.
    SwrContext* swr_ = nullptr;
    std::vector<std::int16_t> in_;
    std::vector<std::int16_t> out_;
};

// Mixes the started output buffers into device frames.
class TSoundMixer {
public:
    void Add(TOutputBuffer& buffer);
    // Once Remove returns the mixer no longer touches the buffer.
    void Remove(TOutputBuffer& buffer);
    // `frames` device frames (2 channels) into `out`; silence where nothing plays.
    void Mix(std::int16_t* out, int frames);
    // Offline use (no refill threads): one refill step of every buffer.
    void RefillAll(bool topUp = true);
    // Device frames mixed since creation: the play cursor.
    std::int64_t FramesConsumed() const { return consumed_.load(); }

private:
    std::mutex lock_;
    std::vector<TOutputBuffer*> buffers_;
    std::vector<std::int32_t> mix_;
    std::atomic<std::int64_t> consumed_{0};
};

// The play clock: a millisecond timer pulled towards the device's play cursor. Poll, every 10 ms on
// its own thread (or by a test), moves the timer's origin by at most 1 ms towards the cursor time,
// reading the cursor at the first poll that finds it moving and at every 10th poll after.
class TPlayClock final : public IDeviceClock {
public:
    using TNow = std::function<double()>;
    using TCursor = std::function<std::int64_t()>; // device frames played

    TPlayClock(TNow now, TCursor cursor);
    // Starts the clock and, when `pollThread`, the 10 ms poll.
    void Play(bool pollThread = true);
    void StopPolling();
    bool IsRunning() const;
    void Poll();
    double NowMs() override;

protected:
    ~TPlayClock() override;

private:
    double CursorTime() const; // under the lock

    TNow now_;
    TCursor cursor_;
    mutable std::mutex lock_;
    bool playing_ = false;
    bool waitingForCursor_ = true;
    std::int64_t lastCursor_ = -1;
    double readingTime_ = 0;
    double origin_ = 0;
    double cursorOffset_ = 0;
    int polls_ = 0;

    std::mutex wakeLock_;
    std::condition_variable wake_;
    bool quit_ = false;
    std::thread thread_;
};

// Before swr_init of a resampler to stereo: a mono input goes to both sides unchanged.
bool DoubleMono(SwrContext* swr, int inChannels);

// The SDL audio device feeding a mixer. Not usable when SDL opens no device.
class TSdlAudioOutput {
public:
    explicit TSdlAudioOutput(TSoundMixer& mixer);
    ~TSdlAudioOutput();
    TSdlAudioOutput(const TSdlAudioOutput&) = delete;
    TSdlAudioOutput& operator=(const TSdlAudioOutput&) = delete;
    bool IsUsable() const { return device_ != 0; }

private:
    static void Callback(void* user, std::uint8_t* stream, int length);

    TSoundMixer& mixer_;
    std::uint32_t device_ = 0;
    bool initialised_ = false;
};

} // namespace kiv
