// The show's decoder keys. [Main] `opt_wmapath` and `opt_oggpath` name a decoder library inside the
// show that players on other systems copy out and load, once per process, for WMA and Ogg sound.
// Here every decoder is built in (FFmpeg's, linked into the player), and a show must never make us
// load code: the named file is neither copied nor loaded, whatever it is. What remains of the keys
// is their check: once per process, the first show whose key names a file of the show has the
// built-in decoder of that format looked up; when it is missing, "WMA INITIALIZE FAILED" or
// "OGG INITIALIZE FAILED" is logged as for a library that failed to initialise, and files of that
// format then fail to open. A key that is empty or names no file of the show does nothing.
#pragma once

#include "ini/IniFile.h"
#include "package/FileAccessor.h"

#include <array>
#include <functional>
#include <mutex>

namespace kiv {

enum class TShowDecoder { Wma, Ogg };

// Whether the built-in decoder of the format exists (FFmpeg's WMA v2 or Vorbis decoder).
bool BuiltInDecoderExists(TShowDecoder decoder);

class TShowDecoders {
public:
    using TProbe = std::function<bool(TShowDecoder)>;

    explicit TShowDecoders(TProbe probe = BuiltInDecoderExists);

    // Reads the keys from `document`'s [Main]; `files` are the show's files (none: no key names a
    // file). Checks each decoder not checked before whose key names a file. Any thread.
    void Prepare(const TIniFile& document, const TFileAccessor* files);
    // True once a check found the decoder; false before any check and after a failed one.
    bool Available(TShowDecoder decoder);

private:
    enum class TState { Unchecked, Available, Failed };

    TProbe probe_;
    std::mutex lock_;
    std::array<TState, 2> states_{TState::Unchecked, TState::Unchecked};
};

// The process's decoders, which every music player prepares at its creation.
TShowDecoders& ProcessShowDecoders();

} // namespace kiv
