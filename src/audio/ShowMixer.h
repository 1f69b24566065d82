// TShowMixer: a show's sound mixed offline, exactly as the player mixes it while it plays. A headless
// music player on a virtual clock drives a sound device without threads or sound card; the player
// steps every 5 ms of show time and the mix is pulled behind it, so every sound starts on the
// sample of the moment it was due: the sound of show time t starts at frame round((t - FROM) x 44.1)
// of the mix, the same on every machine. The frames are 44 100 Hz, 2 channels, 16 bits.
//
//     TShowMixer mixer(show, fromMs);
//     mixer.MixTo(toMs, [&](const std::int16_t* samples, int frames) { ... });
//
// MixTo may be called again and again with later times (a video export mixes frame by frame).
#pragma once

#include "audio/DeviceClock.h"
#include "audio/KivMusicPlayer.h"
#include "audio/SoundDevice.h"
#include "project/KivSource.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kiv {

class TShowMixer {
public:
    static constexpr int kRate = 44100;
    static constexpr int kChannels = 2;
    // Interleaved stereo samples, `frames` frames.
    using TSink = std::function<void(const std::int16_t* samples, int frames)>;

    // The show's sound from show time `fromMs` on, as the player starts it after a seek there.
    TShowMixer(TRef<TKivSource> show, double fromMs);
    ~TShowMixer();
    TShowMixer(const TShowMixer&) = delete;
    TShowMixer& operator=(const TShowMixer&) = delete;

    double FromMs() const { return from_; }
    // The frame of the mix at which show time `ms` sounds: round((ms - FROM) x 44.1).
    std::int64_t FrameAt(double ms) const;
    // Frames handed to sinks so far.
    std::int64_t FramesMixed() const { return mixed_; }
    // Mixes on up to the frame of `untilMs` (nothing when that has been mixed), handing the frames to
    // `sink` in blocks of at most one player step.
    void MixTo(double untilMs, const TSink& sink);
    const TKivMusicPlayer& Player() const { return *player_; }

private:
    const double from_;
    TRef<TVirtualClock> clock_;
    TRef<TSoundDevice> device_;
    TRef<TKivMusicPlayer> player_;
    std::int64_t mixed_ = 0;
    std::vector<std::int16_t> block_;
};

// Mixes on up to the frame of `untilMs` into `path` as a 44 100 Hz, 2-channel, 16-bit WAV file (the
// frames from FramesMixed() on). An empty text, or why it failed ("too long for a WAV file", "cannot be
// written").
std::string MixToWavFile(TShowMixer& mixer, double untilMs, const std::string& path);

} // namespace kiv
