// Whether a file the music names can sound: it must open through the show's files and either begin
// like a common sound file (MP3 with or without an ID3 tag, RIFF WAVE, Ogg, FLAC, ASF/WMA) or be a
// composite description, or else be a file in which FFmpeg finds an audio stream it can decode
// (AAC, M4A, MP4, APE, ...). A missing file, a folder or any other entry gives a log line and false,
// so the item stays silent.
#pragma once

#include "audio/MusicCompiler.h"
#include "package/FileAccessor.h"

#include <string_view>

namespace kiv {

enum class TSoundFileKind { Missing, NotSound, Sound };

// What the first bytes of a file say it is; a head of fewer than 4 bytes is NotSound.
TSoundFileKind SoundKindOfHead(std::string_view head);

// Opens `fileName` through `files` and reads its head; other heads are probed. Any thread.
TSoundFileKind CheckSoundFile(const TFileAccessor& files, const std::string& fileName);
// Whether FFmpeg finds a decodable audio stream in `stream` (`name` helps it guess the container).
bool HasDecodableSound(TRef<TStream> stream, const std::string& name);

// A check for the compiler over `files` (held by reference while the check lives) that logs
// "Sound file missing: NAME" or "Not a sound file: NAME" for each rejected file.
TSoundFileCheck MakeSoundFileCheck(TRef<TFileAccessor> files);

} // namespace kiv
