// The WAV header parser and our WAV converter alone, on arbitrary bytes: a header that is accepted
// lies inside the stream, and the converter delivers exactly the whole frames the data chunk holds
// within the file, seeks anywhere and ends.
#include "audio/WavConverter.h"
#include "package/MemoryStream.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto stream = kiv::MakeRef<kiv::TMemoryStream>();
    const auto bytes = static_cast<std::int32_t>(std::min<std::size_t>(size, 1 << 20));
    stream->Write(data, bytes);
    const kiv::TWavProbe probe = kiv::ReadWavHeader(*stream);
    if (!probe.isRiff || !probe.why.empty() || !kiv::WavConverterRefuses(probe.header).empty()) return 0;
    const kiv::TWavHeader& header = probe.header;
    Check(header.dataStart >= 12 && header.dataLength >= 0 && header.dataStart + header.dataLength <= bytes);
    Check(header.channels > 0 && header.rate > 0);
    const std::unique_ptr<kiv::TSoundSource> sound = kiv::OpenWavConverter(stream, header);
    const int channels = sound->Channels();
    Check(channels == 1 || channels == 2);
    const std::int64_t frames = header.dataLength / (header.channels * header.bits / 8);
    std::vector<std::int16_t> block(1000 * 2);
    std::int64_t total = 0;
    while (const int got = sound->Read(block.data(), 1000)) {
        Check(got > 0 && got <= 1000);
        total += got;
        Check(total <= frames);
    }
    Check(total == frames);
    for (const double at : {sound->LengthMs() / 2, -3.0, sound->LengthMs() + 10, 1e300}) {
        sound->Seek(at);
        const int got = sound->Read(block.data(), 1000);
        Check(got >= 0 && got <= 1000);
    }
    return 0;
}
