#include "audio/CodecSources.h"

#include "audio/SoundOutput.h"
#include "base/Log.h"

#include <mpg123.h>
#include <sndfile.h>
#include <vorbis/vorbisfile.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace kiv {

namespace {

// --- The stream callbacks the libraries read through; stream errors read as the end ---

std::int64_t StreamRead(TStream& stream, void* buffer, std::int64_t count) {
    std::int64_t done = 0;
    try {
        while (done < count) {
            const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(count - done, 1 << 30));
            const std::int32_t got = stream.Read(static_cast<std::uint8_t*>(buffer) + done, want);
            if (got <= 0) break;
            done += got;
        }
    } catch (const std::exception&) {
    }
    return done;
}

// The new position, or -1.
std::int64_t StreamSeek(TStream& stream, std::int64_t offset, int whence) {
    try {
        std::int64_t base = 0;
        if (whence == SEEK_CUR) base = stream.GetPosition();
        if (whence == SEEK_END) {
            base = stream.GetSize();
            if (base < 0) return -1;
        }
        const std::int64_t target = base + offset;
        if (target < 0) return -1;
        stream.SetPosition(target);
        return stream.GetPosition();
    } catch (const std::exception&) {
        return -1;
    }
}

std::int64_t StreamTell(TStream& stream) {
    try {
        return stream.GetPosition();
    } catch (const std::exception&) {
        return -1;
    }
}

// --- MPEG audio through libmpg123 ---

class TMpg123Sound final : public TSoundSource {
public:
    explicit TMpg123Sound(TRef<TStream> stream) : stream_(std::move(stream)) {}
    ~TMpg123Sound() override {
        if (handle_) mpg123_delete(handle_);
    }

    bool Open() {
        static std::once_flag once;
        std::call_once(once, [] { mpg123_init(); });
        handle_ = mpg123_new(nullptr, nullptr);
        if (!handle_) return false;
        mpg123_param(handle_, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
        mpg123_param(handle_, MPG123_REMOVE_FLAGS, MPG123_AUTO_RESAMPLE, 0);
        mpg123_format_none(handle_);
        const long* rates = nullptr;
        std::size_t count = 0;
        mpg123_rates(&rates, &count);
        for (std::size_t i = 0; i < count; ++i)
            mpg123_format(handle_, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
        if (mpg123_replace_reader_handle(handle_, &TMpg123Sound::ReadCallback, &TMpg123Sound::SeekCallback,
                                         nullptr) != MPG123_OK ||
            mpg123_open_handle(handle_, this) != MPG123_OK)
            return false;
        long rate = 0;
        int encoding = 0;
        if (mpg123_getformat(handle_, &rate, &channels_, &encoding) != MPG123_OK || rate <= 0 ||
            (channels_ != 1 && channels_ != 2) || encoding != MPG123_ENC_SIGNED_16)
            return false;
        rate_ = static_cast<int>(rate);
        // Frame headers only, through the whole file: the exact length (files without a "Xing" or
        // "Info" header have only an estimate) and an index of every frame for the seeks.
        mpg123_scan(handle_);
        const off_t length = mpg123_length(handle_);
        lengthMs_ = length > 0 ? static_cast<double>(length) * 1000.0 / rate_ : 0;
        return true;
    }

    int Rate() const override { return rate_; }
    int Channels() const override { return channels_; }
    double LengthMs() const override { return lengthMs_; }
    const char* DecoderName() const override { return "mpg123"; }

    void Seek(double ms) override {
        const double frame = std::min(std::max(0.0, ms) * rate_ / 1000.0, 9e15);
        ended_ = mpg123_seek(handle_, static_cast<off_t>(std::llround(frame)), SEEK_SET) < 0;
    }

    int Read(std::int16_t* out, int frames) override {
        const std::size_t frameBytes = static_cast<std::size_t>(channels_) * 2;
        std::size_t done = 0;
        const std::size_t want = static_cast<std::size_t>(frames) * frameBytes;
        while (done < want && !ended_) {
            std::size_t got = 0;
            const int result =
                mpg123_read(handle_, reinterpret_cast<unsigned char*>(out) + done, want - done, &got);
            done += got;
            if (result == MPG123_NEW_FORMAT) {
                long rate = 0;
                int channels = 0, encoding = 0;
                mpg123_getformat(handle_, &rate, &channels, &encoding);
                if (rate == rate_ && channels == channels_) continue;
                TLog::Line("Sound decoding ended early: the MPEG stream changes its format");
                ended_ = true;
            } else if (result == MPG123_DONE) {
                ended_ = true;
            } else if (result != MPG123_OK) {
                TLog::Line(std::string("Sound decoding ended early: ") + mpg123_strerror(handle_));
                ended_ = true;
            }
        }
        // A partial frame at the end is dropped.
        return static_cast<int>(done / frameBytes);
    }

private:
    static mpg123_ssize_t ReadCallback(void* self, void* buffer, std::size_t count) {
        return static_cast<mpg123_ssize_t>(
            StreamRead(*static_cast<TMpg123Sound*>(self)->stream_, buffer, static_cast<std::int64_t>(count)));
    }
    static off_t SeekCallback(void* self, off_t offset, int whence) {
        return static_cast<off_t>(StreamSeek(*static_cast<TMpg123Sound*>(self)->stream_, offset, whence));
    }

    TRef<TStream> stream_;
    mpg123_handle* handle_ = nullptr;
    int rate_ = 0;
    int channels_ = 0;
    double lengthMs_ = 0;
    bool ended_ = false;
};

// --- Ogg Vorbis through libvorbisfile ---

class TVorbisSound final : public TSoundSource {
public:
    explicit TVorbisSound(TRef<TStream> stream) : stream_(std::move(stream)) {}
    ~TVorbisSound() override {
        if (open_) ov_clear(&file_);
    }

    bool Open() {
        ov_callbacks callbacks{};
        callbacks.read_func = [](void* buffer, std::size_t size, std::size_t count,
                                 void* self) -> std::size_t {
            const std::int64_t bytes = static_cast<std::int64_t>(size * count);
            return size == 0 ? 0
                             : static_cast<std::size_t>(
                                   StreamRead(*static_cast<TVorbisSound*>(self)->stream_, buffer, bytes)) /
                                   size;
        };
        callbacks.seek_func = [](void* self, ogg_int64_t offset, int whence) -> int {
            return StreamSeek(*static_cast<TVorbisSound*>(self)->stream_, offset, whence) < 0 ? -1 : 0;
        };
        callbacks.tell_func = [](void* self) -> long {
            return static_cast<long>(StreamTell(*static_cast<TVorbisSound*>(self)->stream_));
        };
        if (ov_open_callbacks(this, &file_, nullptr, 0, callbacks) != 0) return false;
        open_ = true;
        const vorbis_info* info = ov_info(&file_, -1);
        if (!info || info->rate <= 0 || info->rate > 768000 || (info->channels != 1 && info->channels != 2))
            return false;
        rate_ = static_cast<int>(info->rate);
        channels_ = info->channels;
        const ogg_int64_t total = ov_pcm_total(&file_, -1);
        lengthMs_ = total > 0 ? static_cast<double>(total) * 1000.0 / rate_ : 0;
        return true;
    }

    int Rate() const override { return rate_; }
    int Channels() const override { return channels_; }
    double LengthMs() const override { return lengthMs_; }
    const char* DecoderName() const override { return "vorbisfile"; }

    void Seek(double ms) override {
        const double frame = std::min(std::max(0.0, ms) * rate_ / 1000.0, 9e15);
        const int result = ov_pcm_seek(&file_, static_cast<ogg_int64_t>(std::llround(frame)));
        // Past the end: the sound has ended.
        ended_ = result != 0;
    }

    int Read(std::int16_t* out, int frames) override {
        const int frameBytes = channels_ * 2;
        const int want = frames * frameBytes;
        int done = 0;
        while (done < want && !ended_) {
            int section = 0;
            const long got =
                ov_read(&file_, reinterpret_cast<char*>(out) + done, want - done, 0, 2, 1, &section);
            if (got == OV_HOLE) continue; // a gap in the data: decoding goes on after it
            if (got <= 0) {
                if (got < 0) TLog::Line("Sound decoding ended early: broken Ogg Vorbis data");
                ended_ = true;
                break;
            }
            const vorbis_info* info = ov_info(&file_, section);
            if (info && (info->channels != channels_ || info->rate != rate_)) {
                TLog::Line("Sound decoding ended early: the Ogg stream changes its format");
                ended_ = true;
                break;
            }
            done += static_cast<int>(got);
        }
        return done / frameBytes;
    }

private:
    TRef<TStream> stream_;
    OggVorbis_File file_{};
    bool open_ = false;
    int rate_ = 0;
    int channels_ = 0;
    double lengthMs_ = 0;
    bool ended_ = false;
};

// --- ADPCM WAV (and whatever else libsndfile reads) through libsndfile ---

class TSndfileSound final : public TSoundSource {
public:
    explicit TSndfileSound(TRef<TStream> stream) : stream_(std::move(stream)) {}
    ~TSndfileSound() override {
        if (file_) sf_close(file_);
    }

    bool Open() {
        static SF_VIRTUAL_IO io = {
            [](void* self) -> sf_count_t {
                try {
                    return static_cast<TSndfileSound*>(self)->stream_->GetSize();
                } catch (const std::exception&) {
                    return -1;
                }
            },
            [](sf_count_t offset, int whence, void* self) -> sf_count_t {
                return StreamSeek(*static_cast<TSndfileSound*>(self)->stream_, offset, whence);
            },
            [](void* buffer, sf_count_t count, void* self) -> sf_count_t {
                return StreamRead(*static_cast<TSndfileSound*>(self)->stream_, buffer, count);
            },
            [](const void*, sf_count_t, void*) -> sf_count_t { return 0; },
            [](void* self) -> sf_count_t { return StreamTell(*static_cast<TSndfileSound*>(self)->stream_); },
        };
        try {
            stream_->SetPosition(0);
        } catch (const std::exception&) {
            return false;
        }
        SF_INFO info{};
        file_ = sf_open_virtual(&io, SFM_READ, &info, this);
        if (!file_ || info.samplerate <= 0 || info.samplerate > 768000 ||
            (info.channels != 1 && info.channels != 2))
            return false;
        rate_ = info.samplerate;
        channels_ = info.channels;
        frames_ = info.frames;
        return true;
    }

    int Rate() const override { return rate_; }
    int Channels() const override { return channels_; }
    double LengthMs() const override { return static_cast<double>(frames_) * 1000.0 / rate_; }
    const char* DecoderName() const override { return "sndfile"; }

    void Seek(double ms) override {
        const double frame = std::min(std::max(0.0, ms) * rate_ / 1000.0, static_cast<double>(frames_));
        ended_ = sf_seek(file_, static_cast<sf_count_t>(std::llround(frame)), SEEK_SET) < 0;
    }

    int Read(std::int16_t* out, int frames) override {
        if (ended_) return 0;
        const sf_count_t got = sf_readf_short(file_, out, frames);
        if (got < frames) ended_ = true;
        return static_cast<int>(std::max<sf_count_t>(got, 0));
    }

private:
    TRef<TStream> stream_;
    SNDFILE* file_ = nullptr;
    int rate_ = 0;
    int channels_ = 0;
    sf_count_t frames_ = 0;
    bool ended_ = false;
};

// --- The device format ---

class TPcmResampler final : public TSoundSource {
public:
    explicit TPcmResampler(std::unique_ptr<TSoundSource> source) : source_(std::move(source)) {}
    ~TPcmResampler() override { swr_free(&swr_); }

    bool Open() {
        if (source_->Rate() == kDeviceRate) return true; // channels only: no resampler
        AVChannelLayout in, out;
        av_channel_layout_default(&in, source_->Channels());
        av_channel_layout_default(&out, kDeviceChannels);
        const int error = swr_alloc_set_opts2(&swr_, &out, AV_SAMPLE_FMT_S16, kDeviceRate, &in,
                                              AV_SAMPLE_FMT_S16, source_->Rate(), 0, nullptr);
        return error >= 0 && DoubleMono(swr_, source_->Channels()) && swr_init(swr_) >= 0;
    }

    int Rate() const override { return kDeviceRate; }
    int Channels() const override { return kDeviceChannels; }
    double LengthMs() const override { return source_->LengthMs(); }
    const char* DecoderName() const override { return source_->DecoderName(); }

    void Seek(double ms) override {
        source_->Seek(ms);
        pending_.clear();
        pendingStart_ = 0;
        drained_ = false;
        if (swr_) {
            swr_close(swr_);
            swr_init(swr_);
        }
    }

    int Read(std::int16_t* out, int frames) override {
        if (!swr_) {
            if (source_->Channels() == 2) return source_->Read(out, frames);
            // Mono doubled in place, from the end backwards.
            const int got = source_->Read(out, frames);
            for (int f = got - 1; f >= 0; --f)
                out[2 * f + 1] = out[2 * f] = out[f];
            return got;
        }
        int done = 0;
        while (done < frames) {
            const std::size_t have = (pending_.size() - pendingStart_) / 2;
            if (have > 0) {
                const int take = static_cast<int>(std::min<std::size_t>(have, frames - done));
                std::memcpy(out + 2 * done, pending_.data() + pendingStart_, sizeof(std::int16_t) * 2 * take);
                pendingStart_ += 2 * static_cast<std::size_t>(take);
                done += take;
                continue;
            }
            if (drained_) break;
            pending_.clear();
            pendingStart_ = 0;
            constexpr int kChunk = 2048;
            input_.resize(static_cast<std::size_t>(kChunk) * source_->Channels());
            const int got = source_->Read(input_.data(), kChunk);
            const std::uint8_t* in = reinterpret_cast<const std::uint8_t*>(input_.data());
            const int room = swr_get_out_samples(swr_, got);
            pending_.resize(static_cast<std::size_t>(std::max(room, 0)) * 2);
            std::uint8_t* target = reinterpret_cast<std::uint8_t*>(pending_.data());
            const int made = swr_convert(swr_, &target, room, got > 0 ? &in : nullptr, got);
            pending_.resize(static_cast<std::size_t>(std::max(made, 0)) * 2);
            if (got == 0) drained_ = true; // the resampler's rest has been taken
        }
        return done;
    }

private:
    std::unique_ptr<TSoundSource> source_;
    SwrContext* swr_ = nullptr;
    std::vector<std::int16_t> input_;
    std::vector<std::int16_t> pending_;
    std::size_t pendingStart_ = 0;
    bool drained_ = false;
};

template <class T> std::unique_ptr<TSoundSource> Opened(std::unique_ptr<T> sound) {
    if (!sound->Open()) return nullptr;
    sound->Seek(0);
    return sound;
}

} // namespace

std::unique_ptr<TSoundSource> OpenMpg123Sound(TRef<TStream> stream) {
    try {
        stream->SetPosition(0);
    } catch (const std::exception&) {
        return nullptr;
    }
    return Opened(std::make_unique<TMpg123Sound>(std::move(stream)));
}

std::unique_ptr<TSoundSource> OpenVorbisSound(TRef<TStream> stream) {
    try {
        stream->SetPosition(0);
    } catch (const std::exception&) {
        return nullptr;
    }
    return Opened(std::make_unique<TVorbisSound>(std::move(stream)));
}

std::unique_ptr<TSoundSource> OpenSndfileSound(TRef<TStream> stream) {
    return Opened(std::make_unique<TSndfileSound>(std::move(stream)));
}

std::unique_ptr<TSoundSource> ToDeviceFormat(std::unique_ptr<TSoundSource> source) {
    if (!source || (source->Rate() == kDeviceRate && source->Channels() == kDeviceChannels)) return source;
    return Opened(std::make_unique<TPcmResampler>(std::move(source)));
}

} // namespace kiv
