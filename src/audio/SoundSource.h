// The decoders the play instances read: a sound source delivers interleaved 16-bit PCM on demand,
// seeks to the millisecond and reports its end. Sound files are decoded with FFmpeg straight out of
// the show's stream (WAV PCM/float/ADPCM, MP3, Ogg Vorbis, WMA, AAC, APE: whatever the linked
// decoders know); a composite description mixes its items into the device format.
#pragma once

#include "audio/CompositeDescription.h"
#include "audio/VolumeEnvelope.h"
#include "base/RefObject.h"
#include "package/Stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

// The device format: 44100 Hz, 2 channels, 16 bits.
inline constexpr int kDeviceRate = 44100;
inline constexpr int kDeviceChannels = 2;

class TSoundSource {
public:
    virtual ~TSoundSource() = default;
    virtual int Rate() const = 0;
    // 1 or 2.
    virtual int Channels() const = 0;
    virtual double LengthMs() const = 0;
    // Positions the next Read `ms` into the sound (clamped at 0).
    virtual void Seek(double ms) = 0;
    // Up to `frames` frames into `out`; fewer only at the end (0: ended).
    virtual int Read(std::int16_t* out, int frames) = 0;
    // The decoder behind the source ("wav", "mpg123", "vorbisfile", "sndfile", "ffmpeg"; "" for mixes).
    virtual const char* DecoderName() const { return ""; }
};

using TOpenSoundStream = std::function<TRef<TStream>(const std::string& name)>;

// Decodes `stream` (named `name` for the log) with FFmpeg. With `deviceFormat` the output is
// converted to the device format, otherwise it keeps the source's rate with at most 2 channels.
// None, with a log line, when the stream holds no decodable sound.
std::unique_ptr<TSoundSource> OpenDecodedSound(TRef<TStream> stream, const std::string& name,
                                               bool deviceFormat = false);

// The composite description mixed as one sound in the device format: items start at their
// timeline position `beginTime` into their file, for their duration, each shaped by its envelopes
// and the edge envelope; the main volume shapes the sum; samples are clamped to 16 bits. Item files
// are opened through `open` no earlier than 5 s before they sound and closed when they end; an item
// that cannot be opened stays silent.
std::unique_ptr<TSoundSource> OpenCompositeSound(TCompositeDescription description, TOpenSoundStream open);

// The source for a channel name: a composite description text or a file opened through `open`.
std::unique_ptr<TSoundSource> OpenSound(const std::string& name, const TOpenSoundStream& open);

} // namespace kiv
