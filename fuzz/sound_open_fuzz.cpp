// Sound files on arbitrary bytes, opened from a stream as the music loader opens a show's file:
// the header sniffing, and the decoder in its own and in the device format. Whatever opens must
// report a usable format, never deliver more than asked, seek anywhere and end.
#include "audio/SoundFileCheck.h"
#include "audio/SoundSource.h"
#include "package/MemoryStream.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// Reads at most `limit` frames in blocks; returns the frames read.
std::int64_t ReadSome(kiv::TSoundSource& sound, std::int64_t limit) {
    std::vector<std::int16_t> block(4096 * 2);
    std::int64_t total = 0;
    while (total < limit) {
        const int got = sound.Read(block.data(), 4096);
        Check(got >= 0 && got <= 4096);
        if (got == 0) break;
        total += got;
    }
    return total;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kiv::SoundKindOfHead(std::string_view(reinterpret_cast<const char*>(data), size));
    {
        // The probe for heads the check does not know.
        auto stream = kiv::MakeRef<kiv::TMemoryStream>();
        stream->Write(data, static_cast<std::int32_t>(std::min<std::size_t>(size, 1 << 20)));
        kiv::HasDecodableSound(stream, "fuzz.m4a");
    }
    for (const bool deviceFormat : {false, true}) {
        auto stream = kiv::MakeRef<kiv::TMemoryStream>();
        stream->Write(data, static_cast<std::int32_t>(std::min<std::size_t>(size, 1 << 20)));
        stream->SetPosition(0);
        const std::unique_ptr<kiv::TSoundSource> sound = kiv::OpenDecodedSound(stream, "fuzz.wav", deviceFormat);
        if (!sound) continue;
        Check(sound->Rate() > 0 && sound->Rate() <= 768000);
        Check(sound->Channels() == 1 || sound->Channels() == 2);
        Check(!deviceFormat || (sound->Rate() == kiv::kDeviceRate && sound->Channels() == kiv::kDeviceChannels));
        const double length = sound->LengthMs();
        Check(!(length < 0));
        // A few seconds at most: a header may claim hours.
        ReadSome(*sound, 3 * 44100);
        for (const double at : {length / 2, 0.0, length + 1000, -5.0, 1e13}) {
            sound->Seek(at);
            ReadSome(*sound, 4096);
        }
    }
    return 0;
}
