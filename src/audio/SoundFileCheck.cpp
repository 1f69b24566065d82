#include "audio/SoundFileCheck.h"

#include "audio/CompositeDescription.h"
#include "base/Log.h"
#include "package/MediaInput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <array>
#include <cstring>

namespace kiv {

namespace {

bool StartsWith(std::string_view head, std::string_view prefix) {
    return head.substr(0, prefix.size()) == prefix;
}

} // namespace

TSoundFileKind SoundKindOfHead(std::string_view head) {
    if (head.size() < 4) return TSoundFileKind::NotSound;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(head[i]); };
    if (StartsWith(head, "ID3")) return TSoundFileKind::Sound;
    // An MPEG audio frame: 11 sync bits, a layer that is not the reserved 00.
    if (byte(0) == 0xFF && (byte(1) & 0xE0) == 0xE0 && (byte(1) & 0x06) != 0) return TSoundFileKind::Sound;
    if (head.size() >= 12 && StartsWith(head, "RIFF") && head.substr(8, 4) == "WAVE")
        return TSoundFileKind::Sound;
    if (StartsWith(head, "OggS") || StartsWith(head, "fLaC")) return TSoundFileKind::Sound;
    // The ASF header object's GUID begins 30 26 B2 75.
    if (byte(0) == 0x30 && byte(1) == 0x26 && byte(2) == 0xB2 && byte(3) == 0x75)
        return TSoundFileKind::Sound;
    if (IsCompositeText(head)) return TSoundFileKind::Sound;
    return TSoundFileKind::NotSound;
}

bool HasDecodableSound(TRef<TStream> stream, const std::string& name) {
    TMediaInput input;
    if (!input.Open(std::move(stream), name).empty()) return false;
    AVFormatContext* format = input.Format();
    if (avformat_find_stream_info(format, nullptr) < 0) return false;
    const AVCodec* decoder = nullptr;
    const int audio = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    return audio >= 0 && decoder && format->streams[audio]->codecpar->sample_rate > 0 &&
           format->streams[audio]->codecpar->ch_layout.nb_channels > 0;
}

TSoundFileKind CheckSoundFile(const TFileAccessor& files, const std::string& fileName) {
    if (IsCompositeText(fileName)) return TSoundFileKind::Sound;
    const TRef<TStream> stream = files.Open(fileName);
    if (!stream) return TSoundFileKind::Missing;
    std::array<char, kCompositeMarker.size()> head{};
    std::int32_t got = 0;
    try {
        while (got < static_cast<std::int32_t>(head.size())) {
            const std::int32_t n =
                stream->Read(head.data() + got, static_cast<std::int32_t>(head.size()) - got);
            if (n <= 0) break;
            got += n;
        }
    } catch (const std::exception&) {
        // A folder opened as a file, or a damaged entry: what was read decides.
    }
    const TSoundFileKind kind = SoundKindOfHead(std::string_view(head.data(), static_cast<std::size_t>(got)));
    if (kind == TSoundFileKind::Sound || got == 0) return kind;
    // Not one of the common heads: what FFmpeg finds a sound in plays (AAC, M4A, MP4, APE, ...).
    try {
        return HasDecodableSound(stream, fileName) ? TSoundFileKind::Sound : TSoundFileKind::NotSound;
    } catch (const std::exception&) {
        return TSoundFileKind::NotSound;
    }
}

TSoundFileCheck MakeSoundFileCheck(TRef<TFileAccessor> files) {
    return [files = std::move(files)](const std::string& fileName) {
        switch (CheckSoundFile(*files, fileName)) {
        case TSoundFileKind::Sound:
            return true;
        case TSoundFileKind::Missing:
            TLog::Line("Sound file missing: " + fileName);
            return false;
        case TSoundFileKind::NotSound:
            TLog::Line("Not a sound file: " + fileName);
            return false;
        }
        return false;
    };
}

} // namespace kiv
