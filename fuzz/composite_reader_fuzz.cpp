// The composite converter's reader on arbitrary descriptions: the bytes are read as a composite
// description (after the marker, and as they are) whose items name small sound files held in
// memory (a stereo WAV file, a mono one at another rate, a truncated one, the input bytes
// themselves) or files that do not exist. Whatever reads must play as one 44 100 Hz stereo stream:
// never more frames than asked or than its length, seeks anywhere, and its end reads as the end.
#include "../tests/audio/SoundTestFiles.h"
#include "audio/CompositeDescription.h"
#include "audio/SoundSource.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// `frames` frames of a saw.
std::vector<std::int16_t> Saw(int frames, int channels) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(frames) * channels);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>((i * 997) % 65536);
    return samples;
}

const std::map<std::string, std::string>& Files() {
    static const std::map<std::string, std::string> files = {
        {"a.wav", kiv::test::WavBytes(Saw(8820, 2), 44100, 2)}, // 200 ms
        {"m.wav", kiv::test::WavBytes(Saw(4410, 1), 22050, 1)}, // 200 ms, resampled and doubled
        // The header claims far more than the file holds.
        {"t.wav", kiv::test::WavBytes(Saw(400000, 2), 32000, 2).substr(0, 44 + 4000)},
    };
    return files;
}

// Reads at most `limit` frames in blocks of `block`; the frames read.
std::int64_t ReadSome(kiv::TSoundSource& sound, std::int64_t limit, int block) {
    std::vector<std::int16_t> out(static_cast<std::size_t>(block) * 2);
    std::int64_t total = 0;
    while (total < limit) {
        const int got = sound.Read(out.data(), block);
        Check(got >= 0 && got <= block);
        if (got == 0) break;
        total += got;
    }
    return total;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 1 << 16));
    const kiv::TOpenSoundStream open = [&bytes](const std::string& name) -> kiv::TRef<kiv::TStream> {
        if (name == "self.wav") return kiv::test::MemoryFile(bytes);
        const auto found = Files().find(name);
        return found == Files().end() ? nullptr : kiv::test::MemoryFile(found->second);
    };
    const int block = 1 + static_cast<int>(size % 3001);
    for (const std::string& text : {std::string(kiv::kCompositeMarker) + bytes, bytes}) {
        std::optional<kiv::TCompositeDescription> description = kiv::ReadCompositeText(text);
        if (!description) continue;
        const std::unique_ptr<kiv::TSoundSource> sound =
            kiv::OpenCompositeSound(std::move(*description), open);
        Check(sound && sound->Rate() == kiv::kDeviceRate && sound->Channels() == kiv::kDeviceChannels);
        const double length = sound->LengthMs();
        Check(length > 0);
        // Half a second from the start (a description may last for weeks).
        ReadSome(*sound, 22050, block);
        // Near the end only what is left; past it nothing.
        sound->Seek(std::max(0.0, length - 20));
        Check(ReadSome(*sound, 1 << 20, block) <= 20 * 44 + 45);
        for (const double at : {length + 1000, 1e13}) {
            sound->Seek(at);
            Check(ReadSome(*sound, 1 << 20, block) == 0);
        }
        for (const double at : {length / 2, -5.0}) {
            sound->Seek(at);
            ReadSome(*sound, 4410, block);
        }
    }
    return 0;
}
