// Sound files made by the tests: 16-bit PCM WAV bytes written by hand, served from memory by name.
#pragma once

#include "package/MemoryStream.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kiv::test {

// Interleaved 16-bit samples as a RIFF/WAVE file.
inline std::string WavBytes(const std::vector<std::int16_t>& samples, int rate, int channels) {
    std::string out;
    auto u32 = [&out](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto u16 = [&out](std::uint16_t v) {
        out.push_back(static_cast<char>(v & 0xFF));
        out.push_back(static_cast<char>(v >> 8));
    };
    const auto dataSize = static_cast<std::uint32_t>(samples.size() * 2);
    out += "RIFF";
    u32(36 + dataSize);
    out += "WAVEfmt ";
    u32(16);
    u16(1);
    u16(static_cast<std::uint16_t>(channels));
    u32(static_cast<std::uint32_t>(rate));
    u32(static_cast<std::uint32_t>(rate * channels * 2));
    u16(static_cast<std::uint16_t>(channels * 2));
    u16(16);
    out += "data";
    u32(dataSize);
    for (std::int16_t s : samples)
        u16(static_cast<std::uint16_t>(s));
    return out;
}

// `frames` frames of a sine of `hz` at `amplitude`, the same on every channel.
inline std::vector<std::int16_t> Sine(int frames, int rate, int channels, double hz, double amplitude) {
    std::vector<std::int16_t> out;
    for (int f = 0; f < frames; ++f) {
        const auto v = static_cast<std::int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * f / rate)));
        for (int c = 0; c < channels; ++c)
            out.push_back(v);
    }
    return out;
}

inline std::vector<std::int16_t> Constant(int frames, int channels, std::int16_t value) {
    return std::vector<std::int16_t>(static_cast<std::size_t>(frames) * channels, value);
}

inline TRef<TStream> MemoryFile(const std::string& bytes) {
    auto stream = MakeRef<TMemoryStream>();
    stream->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    stream->SetPosition(0);
    return stream;
}

// Named files in memory, opened as the music loader opens the show's files.
struct TMemoryFiles {
    std::map<std::string, std::string> files;
    std::function<TRef<TStream>(const std::string&)> Opener() {
        return [this](const std::string& name) -> TRef<TStream> {
            const auto found = files.find(name);
            return found == files.end() ? nullptr : MemoryFile(found->second);
        };
    }
};

} // namespace kiv::test
