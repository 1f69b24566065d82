// Sound sources over the codec libraries, each reading the show's stream through callbacks:
// MPEG audio through libmpg123 (gapless, seeks to the sample), Ogg Vorbis through libvorbisfile and
// ADPCM WAV through libsndfile. Each opener answers none when its library refuses the stream, so that
// the caller can try FFmpeg; all deliver 16-bit samples at the file's rate, 1 or 2 channels.
// TPcmResampler (ToDeviceFormat) turns any source into the device format.
#pragma once

#include "audio/SoundSource.h"

#include <memory>

namespace kiv {

std::unique_ptr<TSoundSource> OpenMpg123Sound(TRef<TStream> stream);
std::unique_ptr<TSoundSource> OpenVorbisSound(TRef<TStream> stream);
std::unique_ptr<TSoundSource> OpenSndfileSound(TRef<TStream> stream);

// `source` at 44100 Hz, 2 channels: unchanged when it is so already, mono doubled at its own level,
// other rates converted by libswresample.
std::unique_ptr<TSoundSource> ToDeviceFormat(std::unique_ptr<TSoundSource> source);

} // namespace kiv
