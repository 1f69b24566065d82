#include "audio/WavConverter.h"

#include "audio/SurroundFold.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv {

namespace {

constexpr int kMaxChannels = 64;
constexpr int kMaxRate = 768000;
constexpr int kChunkFrames = 4096;

std::uint32_t U32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// Reads exactly `count` bytes at the stream's position; false when fewer are there.
bool ReadExactly(TStream& stream, void* buffer, std::int32_t count) {
    std::int32_t done = 0;
    while (done < count) {
        const std::int32_t got = stream.Read(static_cast<std::uint8_t*>(buffer) + done, count - done);
        if (got <= 0) return false;
        done += got;
    }
    return true;
}

// Float samples scale by 32767, so that full scale (1.0) is the largest 16-bit sample.
std::int16_t FromFloat(double v) {
    if (!(v == v)) return 0; // NaN
    return static_cast<std::int16_t>(std::clamp(std::lrint(v * 32767.0), -32768L, 32767L));
}

class TWavConverter final : public TSoundSource {
public:
    TWavConverter(TRef<TStream> stream, const TWavHeader& header)
        : stream_(std::move(stream)), header_(header), frameBytes_(header.channels * header.bits / 8),
          frames_(header.dataLength / frameBytes_), outChannels_(std::min(header.channels, 2)) {}

    int Rate() const override { return header_.rate; }
    int Channels() const override { return outChannels_; }
    double LengthMs() const override { return static_cast<double>(frames_) * 1000.0 / header_.rate; }
    const char* DecoderName() const override { return "wav"; }

    void Seek(double ms) override {
        const double frame =
            std::min(std::max(0.0, ms) * header_.rate / 1000.0, static_cast<double>(frames_));
        position_ = std::min<std::int64_t>(std::llround(frame), frames_);
        stream_->SetPosition(header_.dataStart + position_ * frameBytes_);
        ended_ = false;
    }

    int Read(std::int16_t* out, int frames) override {
        int done = 0;
        while (done < frames && !ended_ && position_ < frames_) {
            const int want =
                static_cast<int>(std::min<std::int64_t>({frames - done, kChunkFrames, frames_ - position_}));
            raw_.resize(static_cast<std::size_t>(want) * frameBytes_);
            std::int32_t got = 0;
            try {
                while (got < static_cast<std::int32_t>(raw_.size())) {
                    const std::int32_t n =
                        stream_->Read(raw_.data() + got, static_cast<std::int32_t>(raw_.size()) - got);
                    if (n <= 0) break;
                    got += n;
                }
            } catch (const std::exception&) {
                got = 0; // an unreadable stream ends the sound
            }
            const int whole = got / frameBytes_;
            Convert(raw_.data(), whole, out + static_cast<std::size_t>(done) * outChannels_);
            done += whole;
            position_ += whole;
            if (whole < want) ended_ = true; // the file is shorter than its header says
        }
        return done;
    }

private:
    // `frames` frames of the file's format to 16-bit samples: 5.1 folded to stereo, otherwise the
    // first `outChannels_` channels.
    void Convert(const std::uint8_t* in, int frames, std::int16_t* out) const {
        const bool fold = header_.channels == 6;
        for (int f = 0; f < frames; ++f, in += frameBytes_) {
            if (fold) {
                std::int32_t six[6];
                for (int c = 0; c < 6; ++c)
                    six[c] = Sample(in, c);
                FoldSurroundFrame(six, TSurroundRoles{}, out[0], out[1]);
                out += 2;
                continue;
            }
            for (int c = 0; c < outChannels_; ++c)
                *out++ = Sample(in, c);
        }
    }

    // Channel `c` of the frame at `in` as a 16-bit sample.
    std::int16_t Sample(const std::uint8_t* in, int c) const {
        const int bytes = header_.bits / 8;
        const std::uint8_t* p = in + c * bytes;
        if (header_.tag == kWavTagFloat) {
            if (bytes == 4) {
                float x;
                std::memcpy(&x, p, 4);
                return FromFloat(x);
            }
            double x;
            std::memcpy(&x, p, 8);
            return FromFloat(x);
        }
        if (bytes == 1) return static_cast<std::int16_t>((p[0] - 128) * 256);
        // The top 16 bits of 16, 24 and 32-bit samples.
        return static_cast<std::int16_t>(U16(p + bytes - 2));
    }

    TRef<TStream> stream_;
    TWavHeader header_;
    int frameBytes_;
    std::int64_t frames_;
    int outChannels_;
    std::int64_t position_ = 0;
    bool ended_ = false;
    std::vector<std::uint8_t> raw_;
};

} // namespace

TWavProbe ReadWavHeader(TStream& stream) {
    TWavProbe probe;
    std::uint8_t head[12];
    std::int64_t size = -1;
    try {
        size = stream.GetSize();
        stream.SetPosition(0);
        if (!ReadExactly(stream, head, 12) || std::memcmp(head, "RIFF", 4) != 0 ||
            std::memcmp(head + 8, "WAVE", 4) != 0)
            return probe;
        probe.isRiff = true;
        // Walking stops at the end of the RIFF size or of the stream, whichever comes first.
        std::int64_t end = 8 + static_cast<std::int64_t>(U32(head + 4));
        if (size >= 0) end = std::min(end, size);
        std::int64_t at = 12;
        bool haveFormat = false;
        TWavHeader& header = probe.header;
        while (at + 8 <= end) {
            std::uint8_t chunk[8];
            stream.SetPosition(at);
            if (!ReadExactly(stream, chunk, 8)) break;
            const std::int64_t length = U32(chunk + 4);
            if (std::memcmp(chunk, "fmt ", 4) == 0) {
                std::uint8_t fmt[40] = {};
                const auto take = static_cast<std::int32_t>(std::min<std::int64_t>(length, 40));
                if (take < 16 || !ReadExactly(stream, fmt, take)) {
                    probe.why = "short format chunk";
                    return probe;
                }
                header.tag = U16(fmt);
                header.channels = U16(fmt + 2);
                header.rate = static_cast<int>(std::min<std::uint32_t>(U32(fmt + 4), 0x7FFFFFFF));
                header.bits = U16(fmt + 14);
                // WAVE_FORMAT_EXTENSIBLE: the tag is the first two bytes of the sub-format.
                if (header.tag == 0xFFFE && take >= 26) header.tag = U16(fmt + 24);
                haveFormat = true;
            } else if (std::memcmp(chunk, "data", 4) == 0) {
                if (!haveFormat) break;
                header.dataStart = at + 8;
                header.dataLength = size >= 0 ? std::min(length, size - header.dataStart) : length;
                if (header.channels <= 0 || header.channels > kMaxChannels)
                    probe.why = "no channels";
                else if (header.rate <= 0 || header.rate > kMaxRate)
                    probe.why = "no sample rate";
                return probe;
            }
            at += 8 + length + (length & 1); // chunks are padded to whole words
        }
        probe.why = haveFormat ? "no data chunk" : "no format chunk";
    } catch (const std::exception& error) {
        probe.why = error.what();
    }
    return probe;
}

std::string WavConverterRefuses(const TWavHeader& header) {
    if (header.tag == kWavTagPcm &&
        (header.bits == 8 || header.bits == 16 || header.bits == 24 || header.bits == 32))
        return {};
    if (header.tag == kWavTagFloat && (header.bits == 32 || header.bits == 64)) return {};
    return "format tag " + std::to_string(header.tag) + " with " + std::to_string(header.bits) + " bits";
}

std::unique_ptr<TSoundSource> OpenWavConverter(TRef<TStream> stream, const TWavHeader& header) {
    auto sound = std::make_unique<TWavConverter>(std::move(stream), header);
    sound->Seek(0);
    return sound;
}

} // namespace kiv
