// RIFF/WAVE files read by our own parser: PCM of 8, 16, 24 and 32 bits and IEEE float of 32 and 64
// bits are converted here to 16-bit samples at the file's rate; other format tags (ADPCM, MPEG inside
// a WAV file, ...) are named by the header so that the opener hands them to a codec library.
// Headers are not trusted: a data chunk larger than the file is cut to the file, odd chunk sizes are
// padded to words, and no channels, no rate or impossible sample sizes refuse the file.
#pragma once

#include "audio/SoundSource.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

inline constexpr int kWavTagPcm = 1;
inline constexpr int kWavTagAdpcm = 2;
inline constexpr int kWavTagFloat = 3;
inline constexpr int kWavTagImaAdpcm = 0x11;
inline constexpr int kWavTagMpeg = 0x50;
inline constexpr int kWavTagMp3 = 0x55;

struct TWavHeader {
    int tag = 0; // the format tag; WAVE_FORMAT_EXTENSIBLE is replaced by its sub-format
    int channels = 0;
    int rate = 0;
    int bits = 0;
    std::int64_t dataStart = 0;  // byte offset of the samples in the stream
    std::int64_t dataLength = 0; // bytes, cut to what the stream holds
};

// The result of reading a stream's first bytes as a WAV file.
struct TWavProbe {
    bool isRiff = false; // "RIFF" … "WAVE": the file is a WAV file, readable or not
    std::string why;     // when it is one but cannot be read: the reason
    TWavHeader header;   // when `why` is empty
};

// Reads the header of `stream` from position 0; the stream position is left anywhere.
TWavProbe ReadWavHeader(TStream& stream);

// Whether `header` is one TWavConverter decodes (PCM 8/16/24/32, float 32/64); the reason if not.
std::string WavConverterRefuses(const TWavHeader& header);

// The converter for a header WavConverterRefuses accepts; at most 2 channels come out (5.1 folded
// to stereo, of other layouts the first two).
std::unique_ptr<TSoundSource> OpenWavConverter(TRef<TStream> stream, const TWavHeader& header);

} // namespace kiv
