#include "audio/ShowDecoders.h"

#include "base/Log.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <string>

namespace kiv {

namespace {

struct TDecoderKey {
    const char* key;
    const char* failure;
};

constexpr std::array<TDecoderKey, 2> kKeys{{
    {"opt_wmapath", "WMA INITIALIZE FAILED"},
    {"opt_oggpath", "OGG INITIALIZE FAILED"},
}};

// A file of the show: it opens through the show's files and is not a folder.
bool NamesShowFile(const TFileAccessor* files, const std::string& name) {
    if (!files || name.empty()) return false;
    const TRef<TStream> stream = files->Open(name);
    if (!stream) return false;
    try {
        char byte = 0;
        stream->Read(&byte, 1);
    } catch (const std::exception&) {
        return false; // a folder opened as a file
    }
    return true;
}

} // namespace

bool BuiltInDecoderExists(TShowDecoder decoder) {
    const AVCodecID id = decoder == TShowDecoder::Wma ? AV_CODEC_ID_WMAV2 : AV_CODEC_ID_VORBIS;
    return avcodec_find_decoder(id) != nullptr;
}

TShowDecoders::TShowDecoders(TProbe probe) : probe_(std::move(probe)) {}

void TShowDecoders::Prepare(const TIniFile& document, const TFileAccessor* files) {
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        {
            std::lock_guard guard(lock_);
            if (states_[i] != TState::Unchecked) continue;
        }
        const std::string name(document.ReadString("Main", kKeys[i].key, ""));
        // Opening the file only tells whether the key names one; nothing of it is read further.
        if (!NamesShowFile(files, name)) continue;
        std::lock_guard guard(lock_);
        if (states_[i] != TState::Unchecked) continue;
        const bool found = probe_ && probe_(static_cast<TShowDecoder>(i));
        states_[i] = found ? TState::Available : TState::Failed;
        if (!found) TLog::Line(kKeys[i].failure);
    }
}

bool TShowDecoders::Available(TShowDecoder decoder) {
    std::lock_guard guard(lock_);
    return states_[static_cast<std::size_t>(decoder)] == TState::Available;
}

TShowDecoders& ProcessShowDecoders() {
    static TShowDecoders decoders;
    return decoders;
}

} // namespace kiv
