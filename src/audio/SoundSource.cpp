#include "audio/SoundSource.h"

#include "audio/CodecSources.h"
#include "audio/SampleRound.h"
#include "audio/SoundOutput.h"
#include "audio/SurroundFold.h"
#include "audio/WavConverter.h"
#include "base/Log.h"
#include "package/MediaInput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace kiv {

namespace {

constexpr double kSeekPrerollMs = 1000;

std::string AvError(int code) { return AvErrorText(code); }

// A sound file decoded by FFmpeg, read through an AVIOContext over the show's stream.
class TDecodedSound final : public TSoundSource {
public:
    TDecodedSound(TRef<TStream> stream, std::string name)
        : stream_(std::move(stream)), name_(std::move(name)) {}
    ~TDecodedSound() override {
        swr_free(&swr_);
        av_channel_layout_uninit(&inLayout_);
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&codec_);
    }

    bool Open(bool deviceFormat) {
        if (const std::string why = input_.Open(stream_, name_); !why.empty()) return Fail(why);
        format_ = input_.Format();
        int error = 0;
        if ((error = avformat_find_stream_info(format_, nullptr)) < 0) return Fail(AvError(error));
        const AVCodec* decoder = nullptr;
        streamIndex_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
        if (streamIndex_ < 0 || !decoder) return Fail("no audio stream");
        AVStream* audio = format_->streams[streamIndex_];
        codec_ = avcodec_alloc_context3(decoder);
        if (!codec_) return Fail("out of memory");
        if ((error = avcodec_parameters_to_context(codec_, audio->codecpar)) < 0) return Fail(AvError(error));
        // Time stamps of decoded frames, moved past the samples the decoder skips, in the stream's units.
        codec_->pkt_timebase = audio->time_base;
        if ((error = avcodec_open2(codec_, decoder, nullptr)) < 0) return Fail(AvError(error));
        if (codec_->sample_rate <= 0 || codec_->sample_rate > 768000 || codec_->ch_layout.nb_channels <= 0)
            return Fail("no sample rate or no channels");
        rate_ = deviceFormat ? kDeviceRate : codec_->sample_rate;
        channels_ = deviceFormat ? kDeviceChannels : std::min(codec_->ch_layout.nb_channels, 2);
        if (audio->duration != AV_NOPTS_VALUE && audio->duration > 0)
            // Less the encoder's delay that the decoder skips (the stream starts after it).
            lengthMs_ = static_cast<double>(audio->duration - std::max<std::int64_t>(
                            audio->start_time == AV_NOPTS_VALUE ? 0 : audio->start_time, 0)) *
                        av_q2d(audio->time_base) * 1000.0;
        else if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0)
            lengthMs_ = static_cast<double>(format_->duration) / 1000.0;
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        if (!frame_ || !packet_) return Fail("out of memory");
        if (!MakeResampler()) return Fail("no resampler");
        ProbeOrigin();
        Seek(0);
        return true;
    }

    int Rate() const override { return rate_; }
    int Channels() const override { return channels_; }
    double LengthMs() const override { return lengthMs_; }
    const char* DecoderName() const override { return "ffmpeg"; }

    void Seek(double ms) override {
        ms = std::max(0.0, ms);
        pending_.clear();
        pendingStart_ = 0;
        ended_ = false;
        drained_ = false;
        AVStream* audio = format_->streams[streamIndex_];
        // From a second before: a demuxer may land after the time asked for (Ogg lands on a page
        // whose first packet the decoder only primes with), and decoders need frames before the
        // target to rebuild it (an MP3's bit reservoir). What comes before the target is dropped.
        const double from = std::max(0.0, ms - kSeekPrerollMs);
        const auto target = static_cast<std::int64_t>(
            std::min(from / 1000.0 / av_q2d(audio->time_base) + static_cast<double>(origin_), 9e15));
        if (av_seek_frame(format_, streamIndex_, target, AVSEEK_FLAG_BACKWARD) < 0)
            av_seek_frame(format_, -1, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_BYTE);
        avcodec_flush_buffers(codec_);
        MakeResampler();
        skipTo_ = static_cast<std::int64_t>(std::llround(ms * rate_ / 1000.0));
        havePosition_ = false;
        seekChecked_ = false;
        landedAtStart_ = false;
    }

    int Read(std::int16_t* out, int frames) override {
        int done = 0;
        while (done < frames) {
            const std::size_t have = (pending_.size() - pendingStart_) / channels_;
            if (have > 0) {
                const int take = static_cast<int>(std::min<std::size_t>(have, frames - done));
                std::memcpy(out + static_cast<std::size_t>(done) * channels_, pending_.data() + pendingStart_,
                            sizeof(std::int16_t) * take * channels_);
                pendingStart_ += static_cast<std::size_t>(take) * channels_;
                done += take;
                continue;
            }
            pending_.clear();
            pendingStart_ = 0;
            if (ended_ || !DecodeMore()) {
                ended_ = true;
                break;
            }
        }
        return done;
    }

private:
    bool Fail(const std::string& why) {
        TLog::Line("Sound file cannot be decoded: " + name_ + " (" + why + ")");
        return false;
    }

    // The time stamp of the first frame a decoding from the start delivers: the first sample of the
    // sound. Encoders put priming and padding before it (an MP3's encoder delay, which the decoder
    // skips at the start only), so time stamps count from there and not from 0.
    void ProbeOrigin() {
        for (int packets = 0; packets < 256; ++packets) {
            int error = avcodec_receive_frame(codec_, frame_);
            if (error == 0) {
                const bool found = frame_->nb_samples > 0 && frame_->best_effort_timestamp != AV_NOPTS_VALUE;
                if (found) origin_ = frame_->best_effort_timestamp;
                av_frame_unref(frame_);
                if (found) return;
                continue;
            }
            if (error != AVERROR(EAGAIN) || av_read_frame(format_, packet_) < 0) return;
            if (packet_->stream_index == streamIndex_) {
                if (firstPacket_ < 0) firstPacket_ = packet_->pos;
                avcodec_send_packet(codec_, packet_);
            }
            av_packet_unref(packet_);
        }
    }

    // The resampler from the input format of `frame` (none: the decoder's) to the output format.
    bool MakeResampler(const AVFrame* frame = nullptr) {
        swr_free(&swr_);
        const AVChannelLayout& inLayout = frame ? frame->ch_layout : codec_->ch_layout;
        const int inFormat = frame ? frame->format : codec_->sample_fmt;
        const int inRate = frame ? frame->sample_rate : codec_->sample_rate;
        av_channel_layout_uninit(&inLayout_);
        if (av_channel_layout_copy(&inLayout_, &inLayout) < 0) return false;
        inFormat_ = inFormat;
        inRate_ = inRate;
        if (inLayout.nb_channels <= 0 || inRate <= 0 || inRate > 768000) return false;
        AVChannelLayout outLayout;
        av_channel_layout_default(&outLayout, channels_);
        const int error = swr_alloc_set_opts2(&swr_, &outLayout, AV_SAMPLE_FMT_S16, rate_, &inLayout_,
                                              static_cast<AVSampleFormat>(inFormat), inRate, 0, nullptr);
        av_channel_layout_uninit(&outLayout);
        // Mono is doubled onto both sides at its own level; 5.1 is folded as every container folds it.
        if (error >= 0 && channels_ == 2) FoldSurround(swr_, inLayout_);
        if (error >= 0 && (channels_ != 2 || DoubleMono(swr_, inLayout.nb_channels)) && swr_init(swr_) >= 0)
            return true;
        swr_free(&swr_);
        return false;
    }

    // A stream may change its channels, sample format or rate between frames (an MP3 frame with
    // another header): the resampler must then read the frame as it is.
    bool ResamplerFits(const AVFrame& frame) {
        if (swr_ && frame.format == inFormat_ && frame.sample_rate == inRate_ &&
            av_channel_layout_compare(&frame.ch_layout, &inLayout_) == 0)
            return true;
        return MakeResampler(&frame);
    }

    // Appends converted samples of `frame` (none: the resampler's rest) to the pending output.
    void Convert(const AVFrame* frame) {
        if (frame ? !ResamplerFits(*frame) : !swr_) return; // a frame in a format nothing reads
        const int inSamples = frame ? frame->nb_samples : 0;
        const int room = swr_get_out_samples(swr_, inSamples);
        if (room <= 0) return;
        const std::size_t base = pending_.size();
        pending_.resize(base + static_cast<std::size_t>(room) * channels_);
        std::uint8_t* target = reinterpret_cast<std::uint8_t*>(pending_.data() + base);
        const int made =
            swr_convert(swr_, &target, room,
                        frame ? const_cast<const std::uint8_t**>(frame->extended_data) : nullptr, inSamples);
        pending_.resize(base + static_cast<std::size_t>(std::max(made, 0)) * channels_);
        if (!havePosition_ && frame && made > 0) {
            // The first output after a seek: its position on the output time line.
            const AVStream* audio = format_->streams[streamIndex_];
            const std::int64_t pts = frame->best_effort_timestamp;
            // Back at the first packet the sound begins here; the stamps the demuxer gives after a
            // seek may be shifted there (Ogg reckons the first packet's length without the block
            // before it).
            position_ = pts == AV_NOPTS_VALUE || landedAtStart_
                            ? 0
                            : static_cast<std::int64_t>(std::llround(
                                  std::clamp((static_cast<double>(pts) - static_cast<double>(origin_)) *
                                                 av_q2d(audio->time_base) * rate_,
                                             -9e15, 9e15)));
            havePosition_ = true;
        }
        // Output before the seek target is dropped so that a seek lands on the sample.
        const std::int64_t count = made > 0 ? made : 0;
        if (position_ < skipTo_) {
            const std::int64_t drop = std::min(count, skipTo_ - position_);
            pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(base),
                           pending_.begin() + static_cast<std::ptrdiff_t>(base + drop * channels_));
        }
        position_ += count;
    }

    // Decodes until some output is pending; false at the end of the sound or on a decoder error.
    bool DecodeMore() {
        while (pending_.empty()) {
            if (drained_) return false;
            int error = avcodec_receive_frame(codec_, frame_);
            if (error == 0) {
                Convert(frame_);
                av_frame_unref(frame_);
                continue;
            }
            if (error == AVERROR_EOF) {
                Convert(nullptr);
                drained_ = true;
                continue;
            }
            if (error != AVERROR(EAGAIN)) {
                TLog::Line("Sound decoding ended early: " + name_ + " (" + AvError(error) + ")");
                return false;
            }
            error = av_read_frame(format_, packet_);
            if (error < 0) {
                avcodec_send_packet(codec_, nullptr);
                continue;
            }
            if (packet_->stream_index == streamIndex_) {
                if (!seekChecked_) {
                    seekChecked_ = true;
                    landedAtStart_ = firstPacket_ >= 0 && packet_->pos >= 0 && packet_->pos <= firstPacket_;
                }
                const int sent = avcodec_send_packet(codec_, packet_);
                if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA) {
                    av_packet_unref(packet_);
                    TLog::Line("Sound decoding ended early: " + name_ + " (" + AvError(sent) + ")");
                    return false;
                }
            }
            av_packet_unref(packet_);
        }
        return true;
    }

    TRef<TStream> stream_;
    std::string name_;
    TMediaInput input_;
    AVFormatContext* format_ = nullptr; // input_'s
    AVCodecContext* codec_ = nullptr;
    SwrContext* swr_ = nullptr;
    AVChannelLayout inLayout_{}; // the resampler's input
    int inFormat_ = -1;
    int inRate_ = 0;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int streamIndex_ = -1;
    std::int64_t origin_ = 0;       // the time stamp of the first sample
    std::int64_t firstPacket_ = -1; // the byte position of the first packet of the sound
    bool seekChecked_ = false;      // the first packet after the last seek has been read
    bool landedAtStart_ = false;    // and it was the first packet of the sound
    int rate_ = 0;
    int channels_ = 0;
    double lengthMs_ = 0;
    std::vector<std::int16_t> pending_;
    std::size_t pendingStart_ = 0;
    bool ended_ = false;
    bool drained_ = false;
    bool havePosition_ = false;
    std::int64_t position_ = 0; // output frames, of the frame decoded last
    std::int64_t skipTo_ = 0;
};

std::int64_t FramesOfMs(std::int64_t ms) {
    // Byte positions of the device format, ((ms x 176400) div 4000) x 4, in frames.
    return ms * 176400 / 4000;
}

// The format a decoded sound is delivered in: the file's rate with at most 2 channels, the device
// format, or the device format except that a mono sound at the device rate stays mono (a mix adds it
// to both sides itself, scaling each sample once).
enum class TOpenedFormat { kOwn, kDevice, kDeviceOrMono };
std::unique_ptr<TSoundSource> OpenDecoded(TRef<TStream> stream, const std::string& name, TOpenedFormat format);

class TCompositeSound final : public TSoundSource {
public:
    TCompositeSound(TCompositeDescription description, TOpenSoundStream open)
        : description_(std::move(description)), open_(std::move(open)) {
        length_ = FramesOfMs(description_.duration);
        for (const TVolumeParams& envelope : description_.mainVolume)
            main_.push_back(PrepareEnvelope(envelope, description_.duration));
        for (const TCompositeItem& desc : description_.items) {
            TItem item;
            item.desc = &desc;
            // Without a duration the item lasts until the composite ends, until its file is opened
            // and its length known (see OpenItem).
            std::int64_t length = desc.duration > 0 ? desc.duration : description_.duration - desc.timeLine;
            length = std::min(length, description_.duration - desc.timeLine);
            if (length <= 0) continue;
            item.start = FramesOfMs(desc.timeLine);
            SetLength(item, length);
            items_.push_back(std::move(item));
        }
    }

    int Rate() const override { return kDeviceRate; }
    int Channels() const override { return kDeviceChannels; }
    double LengthMs() const override { return static_cast<double>(description_.duration); }

    void Seek(double ms) override {
        position_ = std::clamp<std::int64_t>(static_cast<std::int64_t>(std::llround(ms * 44.1)), 0, length_);
        for (TItem& item : items_) {
            item.source.reset();
            item.failed = false;
        }
    }

    int Read(std::int16_t* out, int frames) override {
        // In pieces whose samples, gains and sums stay in the processor's nearest cache.
        constexpr int kPiece = 1024;
        int done = 0;
        while (done < frames) {
            const int got = ReadPiece(out + static_cast<std::size_t>(done) * 2, std::min(kPiece, frames - done));
            if (got == 0) break;
            done += got;
        }
        return done;
    }

private:
    int ReadPiece(std::int16_t* out, int frames) {
        const int count = static_cast<int>(std::clamp<std::int64_t>(length_ - position_, 0, frames));
        if (count == 0) return 0;
        const std::int64_t blockEnd = position_ + count;
        if (main_.empty()) {
            // One item sounding over the whole piece needs no sum.
            TItem* alone = nullptr;
            int sounding = 0;
            for (TItem& item : items_) {
                if (item.end > position_ && item.start < blockEnd) ++sounding, alone = &item;
                if (item.end <= position_) item.source.reset(); // closed once it has ended
            }
            if (sounding == 1 && alone->start <= position_ && alone->end >= blockEnd &&
                MixAlone(*alone, out, count)) {
                position_ += count;
                return count;
            }
        }
        mix_.assign(static_cast<std::size_t>(count) * 2, 0);
        // Files are open only while their items sound, and never more than kMaxSoundingItems of
        // them: an item due beyond that waits, silent, until one of the others has ended.
        std::size_t opened = 0;
        for (TItem& item : items_) {
            if (item.end <= position_) item.source.reset(); // closed once it has ended
            if (item.source) ++opened;
        }
        for (TItem& item : items_) {
            if (item.end <= position_ || item.start >= blockEnd) continue;
            if (!item.source && !item.failed) {
                if (opened >= kMaxSoundingItems) {
                    if (!tooManySounding_)
                        TLog::Line("Composite sound: more than " + std::to_string(kMaxSoundingItems) +
                                   " items sound at once; the others stay silent while they do");
                    tooManySounding_ = true;
                    continue;
                }
                if (!OpenItem(item)) continue;
                ++opened;
            }
            if (!item.source) continue;
            const std::int64_t from = std::max(item.start, position_);
            const std::int64_t to = std::min(item.end, blockEnd);
            const int want = static_cast<int>(to - from);
            scratch_.resize(static_cast<std::size_t>(want) * item.channels); // Read writes what it returns
            const int got = item.source->Read(scratch_.data(), want);
            if (got > 0)
                MixItem(item, from, got, mix_.data() + static_cast<std::size_t>(from - position_) * 2);
            if (got < want) item.source.reset(), item.failed = true, --opened; // the file ended early: silence
        }
        if (main_.empty()) {
            ClampTo16(mix_.data(), out, static_cast<std::size_t>(count) * 2);
        } else {
            gains_.assign(static_cast<std::size_t>(count), 1.0);
            for (const auto& steps : main_)
                MultiplyEnvelopeGains(steps, position_ * 4, count, gains_.data());
            for (int i = 0; i < count; ++i) {
                const double gain = gains_[static_cast<std::size_t>(i)];
                for (int c = 0; c < 2; ++c) {
                    std::int32_t value = mix_[static_cast<std::size_t>(i) * 2 + c];
                    if (gain < 0.001)
                        value = 0;
                    else if (!NearUnity(gain))
                        value = static_cast<std::int32_t>(RoundHalfAway(value * gain));
                    out[static_cast<std::size_t>(i) * 2 + c] =
                        static_cast<std::int16_t>(std::clamp(value, -32768, 32767));
                }
            }
        }
        position_ += count;
        return count;
    }

    struct TItem {
        const TCompositeItem* desc = nullptr;
        std::int64_t start = 0; // frames on the composite's time line
        std::int64_t end = 0;
        std::vector<std::vector<TEnvelopeStep>> envelopes;
        std::unique_ptr<TSoundSource> source;
        int channels = 2; // the source's: 1 only at the device rate
        bool failed = false;
        // round(s x gain) for every 16-bit sample s (index s + 32768), made for a gain that held over
        // two blocks in a row: a long hold (a music item at its volume) then costs a look-up a sample.
        std::vector<std::int32_t> scaled;
        double scaledGain = 0;
        double lastHeldGain = 0; // the gain of the item's last block that was one hold
    };

    // A gain this close to 1 leaves the samples as they are.
    static bool NearUnity(double gain) { return gain > 0.99 && gain < 1.01; }

    // How a frame's gain applies: not at all, unchanged, scaled and rounded (products within the
    // 32-bit range), or anything else (NaN, huge gains) frame by frame through the library's rounding.
    enum class TGainKind { Silent, Unity, Scaled, Other };
    static TGainKind KindOf(double gain) {
        if (gain <= 0.00001) return TGainKind::Silent;
        if (NearUnity(gain)) return TGainKind::Unity;
        return gain < 65535.0 ? TGainKind::Scaled : TGainKind::Other;
    }

    // mix += round(in x gain), halves away from zero, for `frames` frames whose gains keep every
    // |sample x gain| below 2^31: there truncation to 32 bits is exact, and so is the fraction. The
    // gain of frame f is gains[f x step] (`step` 0: one gain for all).
    static void MixScaled(const std::int16_t* in, const double* gains, std::size_t step, int frames,
                          std::int32_t* mix) {
#if defined(__SSE2__)
        // One frame, two samples, per step.
        for (int f = 0; f < frames; ++f, in += 2, mix += 2) {
            const __m128i samples = _mm_setr_epi32(in[0], in[1], 0, 0);
            const __m128i rounded =
                RoundHalfAway32x2(_mm_mul_pd(_mm_cvtepi32_pd(samples), _mm_set1_pd(gains[f * step])));
            __m128i sum = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(mix));
            sum = _mm_add_epi32(sum, rounded);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(mix), sum);
        }
#else
        for (int i = 0; i < frames * 2; ++i)
            mix[i] += RoundHalfAway32(in[i] * gains[i / 2 * step]);
#endif
    }

    // The same for mono samples, each added to both sides of its frame.
    static void MixScaledMono(const std::int16_t* in, const double* gains, std::size_t step, int frames,
                              std::int32_t* mix) {
        int f = 0;
#if defined(__SSE2__)
        // Two frames, two samples, per step.
        for (; f + 2 <= frames; f += 2) {
            const __m128i samples = _mm_setr_epi32(in[f], in[f + 1], 0, 0);
            const __m128d gain = step ? _mm_loadu_pd(gains + f) : _mm_set1_pd(gains[0]);
            const __m128i rounded = RoundHalfAway32x2(_mm_mul_pd(_mm_cvtepi32_pd(samples), gain));
            __m128i* target = reinterpret_cast<__m128i*>(mix + 2 * static_cast<std::size_t>(f));
            _mm_storeu_si128(target, _mm_add_epi32(_mm_loadu_si128(target), _mm_unpacklo_epi32(rounded, rounded)));
        }
#endif
        for (; f < frames; ++f) {
            const std::int32_t rounded = RoundHalfAway32(in[f] * gains[f * step]);
            mix[2 * static_cast<std::size_t>(f)] += rounded;
            mix[2 * static_cast<std::size_t>(f) + 1] += rounded;
        }
    }

    // Adds frames `begin` to `end` of `in` (the item's samples, `channels` a frame) into `mix`, all of
    // one kind of gain; the gain of frame f is gains[f x step].
    static void MixRun(TGainKind kind, const std::int16_t* in, int channels, const double* gains,
                       std::size_t step, int begin, int end, std::int32_t* mix) {
        const std::size_t first = static_cast<std::size_t>(begin) * 2;
        const std::size_t last = static_cast<std::size_t>(end) * 2;
        // Sample i of the mix comes from sample i of the input, or from frame i / 2 when mono.
        const int shift = channels == 1 ? 1 : 0;
        switch (kind) {
        case TGainKind::Silent:
            break;
        case TGainKind::Unity:
            for (std::size_t i = first; i < last; ++i)
                mix[i] += in[i >> shift];
            break;
        case TGainKind::Scaled:
            if (shift)
                MixScaledMono(in + begin, gains + begin * step, step, end - begin, mix + first);
            else
                MixScaled(in + first, gains + begin * step, step, end - begin, mix + first);
            break;
        case TGainKind::Other:
            for (std::size_t i = first; i < last; ++i)
                mix[i] += static_cast<std::int32_t>(RoundHalfAway(in[i >> shift] * gains[i / 2 * step]));
            break;
        }
    }

    // Adds `frames` frames of `item` from scratch_, read at frame `from` of the time line, into `mix`,
    // each shaped by the item's envelopes. A block inside a hold of every envelope has one gain;
    // otherwise runs of frames of one kind are mixed in one loop each.
    void MixItem(TItem& item, std::int64_t from, int frames, std::int32_t* mix) {
        const std::int64_t at = (from - item.start) * 4;
        const std::int16_t* in = scratch_.data();
        if (const std::optional<double> held = HeldGain(item, at, frames)) {
            const double gain = *held;
            const TGainKind kind = KindOf(gain);
            if (kind == TGainKind::Scaled && ScaledTable(item, gain))
                return MixLookedUp(item.scaled.data() + 32768, in, item.channels, frames, mix);
            item.lastHeldGain = gain;
            return MixRun(kind, in, item.channels, &gain, 0, 0, frames, mix);
        }
        item.lastHeldGain = 0;
        gains_.assign(static_cast<std::size_t>(frames), 1.0);
        for (const auto& steps : item.envelopes)
            MultiplyEnvelopeGains(steps, at, frames, gains_.data());
        const double* gains = gains_.data();
        for (int begin = 0; begin < frames;) {
            const TGainKind kind = KindOf(gains[begin]);
            int end = begin + 1;
            while (end < frames && KindOf(gains[end]) == kind)
                ++end;
            MixRun(kind, in, item.channels, gains, 1, begin, end, mix);
            begin = end;
        }
    }

    // The item's gain over `frames` frames from envelope position `at` when every envelope holds there.
    static std::optional<double> HeldGain(const TItem& item, std::int64_t at, int frames) {
        double gain = 1.0;
        for (const auto& steps : item.envelopes) {
            const std::optional<double> volume = EnvelopeHoldVolume(steps, at, frames);
            if (!volume) return std::nullopt;
            gain *= *volume / 1000.0;
        }
        return gain;
    }

    // Reads `count` frames of `item`, the only one sounding over the whole piece, through its table
    // straight into `out` (clamped to 16 bits) when it holds there at a gain whose table is made. False,
    // having read nothing, when the piece has to be summed.
    bool MixAlone(TItem& item, std::int16_t* out, int count) {
        if (!item.source && !item.failed) OpenItem(item);
        if (!item.source) return false;
        const std::optional<double> gain = HeldGain(item, (position_ - item.start) * 4, count);
        if (!gain || KindOf(*gain) != TGainKind::Scaled || !ScaledTable(item, *gain)) return false;
        scratch_.resize(static_cast<std::size_t>(count) * item.channels); // Read writes what it returns
        const int got = item.source->Read(scratch_.data(), count);
        const std::int32_t* scaled = item.scaled.data() + 32768;
        const std::int16_t* in = scratch_.data();
        const auto clamped = [](std::int32_t value) {
            return static_cast<std::int16_t>(std::clamp(value, -32768, 32767));
        };
        if (item.channels == 1) {
            for (int f = 0; f < got; ++f)
                out[2 * f] = out[2 * f + 1] = clamped(scaled[in[f]]);
        } else {
            for (int i = 0; i < got * 2; ++i)
                out[i] = clamped(scaled[in[i]]);
        }
        if (got < count) { // the file ended early: silence
            std::fill(out + static_cast<std::size_t>(std::max(got, 0)) * 2,
                      out + static_cast<std::size_t>(count) * 2, 0);
            item.source.reset(), item.failed = true;
        }
        return true;
    }

    // Whether item.scaled holds round(s x gain): made here when the item's previous block held at
    // this gain too, through the same rounding as the blocks mixed sample by sample.
    static bool ScaledTable(TItem& item, double gain) {
        if (!item.scaled.empty() && item.scaledGain == gain) return true;
        if (item.lastHeldGain != gain) return false;
        static const std::vector<std::int16_t> every = [] {
            std::vector<std::int16_t> values(65536);
            for (int i = 0; i < 65536; ++i)
                values[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i - 32768);
            return values;
        }();
        item.scaled.assign(every.size(), 0);
        MixScaled(every.data(), &gain, 0, static_cast<int>(every.size() / 2), item.scaled.data());
        item.scaledGain = gain;
        return true;
    }

    // mix += scaled[sample] for `frames` frames of `in` (`channels` a frame; mono onto both sides).
    static void MixLookedUp(const std::int32_t* scaled, const std::int16_t* in, int channels, int frames,
                            std::int32_t* mix) {
        if (channels == 1) {
            int f = 0;
#if defined(__SSE2__)
            // Two frames, four sums, per step.
            for (; f + 2 <= frames; f += 2, mix += 4) {
                const std::int32_t a = scaled[in[f]];
                const std::int32_t b = scaled[in[f + 1]];
                __m128i* target = reinterpret_cast<__m128i*>(mix);
                _mm_storeu_si128(target, _mm_add_epi32(_mm_loadu_si128(target), _mm_setr_epi32(a, a, b, b)));
            }
#endif
            for (; f < frames; ++f, mix += 2) {
                const std::int32_t value = scaled[in[f]];
                mix[0] += value;
                mix[1] += value;
            }
            return;
        }
        for (int i = 0; i < frames * 2; ++i)
            mix[i] += scaled[in[i]];
    }

    // The item's end and its envelopes, the edge included, for `length` ms.
    static void SetLength(TItem& item, std::int64_t length) {
        item.end = item.start + FramesOfMs(length);
        item.envelopes.clear();
        for (const TVolumeParams& envelope : item.desc->envelopes)
            item.envelopes.push_back(PrepareEnvelope(envelope, length));
        item.envelopes.push_back(PrepareEnvelope(EdgeEnvelope(length), length));
    }

    bool OpenItem(TItem& item) {
        TRef<TStream> stream = open_ ? open_(item.desc->fileName) : nullptr;
        if (!stream) {
            TLog::Line("Sound file not found: " + item.desc->fileName);
            item.failed = true;
            return false;
        }
        item.source = OpenDecoded(std::move(stream), item.desc->fileName, TOpenedFormat::kDeviceOrMono);
        if (item.source) item.channels = item.source->Channels();
        if (!item.source) {
            item.failed = true;
            return false;
        }
        // An item without a duration ends its file's length + 10 s after its start (never after the
        // composite's end).
        if (item.desc->duration <= 0 && item.source->LengthMs() > 0) {
            const std::int64_t length =
                std::min(static_cast<std::int64_t>(std::ceil(std::min(item.source->LengthMs(), 1e12))) + 10000,
                         description_.duration - item.desc->timeLine);
            if (length > 0 && item.start + FramesOfMs(length) != item.end) SetLength(item, length);
        }
        const double into =
            static_cast<double>(std::max<std::int64_t>(0, position_ - item.start)) * 1000.0 / 44100.0;
        item.source->Seek(static_cast<double>(item.desc->beginTime) + into);
        return true;
    }

    TCompositeDescription description_;
    TOpenSoundStream open_;
    std::int64_t length_ = 0;
    std::int64_t position_ = 0;
    std::vector<std::vector<TEnvelopeStep>> main_;
    std::vector<TItem> items_;
    bool tooManySounding_ = false; // logged once
    std::vector<std::int32_t> mix_;
    std::vector<std::int16_t> scratch_;
    std::vector<double> gains_; // per frame of a block
};

} // namespace

namespace {

bool EndsWith(const std::string& name, std::initializer_list<const char*> suffixes) {
    for (const char* suffix : suffixes) {
        const std::size_t n = std::strlen(suffix);
        if (name.size() >= n && std::equal(suffix, suffix + n, name.end() - static_cast<std::ptrdiff_t>(n),
                                           [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); }))
            return true;
    }
    return false;
}

std::unique_ptr<TSoundSource> OpenWithFfmpeg(TRef<TStream> stream, const std::string& name, bool deviceFormat) {
    try {
        stream->SetPosition(0);
    } catch (const std::exception&) {
    }
    auto sound = std::make_unique<TDecodedSound>(std::move(stream), name);
    if (!sound->Open(deviceFormat)) return nullptr;
    sound->Seek(0);
    return sound;
}

// The decoder the file's header or name asks for: our WAV converter, libsndfile for ADPCM WAV,
// libmpg123 for MPEG audio, libvorbisfile for Ogg Vorbis. None when FFmpeg should try (or, with
// `refused` set, when the file is a WAV file that cannot be played).
std::unique_ptr<TSoundSource> OpenWithCodecLibrary(const TRef<TStream>& stream, const std::string& name,
                                                   std::string& refused) {
    const TWavProbe wav = ReadWavHeader(*stream);
    if (wav.isRiff) {
        if (!wav.why.empty()) {
            refused = wav.why;
            return nullptr;
        }
        const int tag = wav.header.tag;
        if (WavConverterRefuses(wav.header).empty()) return OpenWavConverter(stream, wav.header);
        if (tag == kWavTagAdpcm || tag == kWavTagImaAdpcm) return OpenSndfileSound(stream);
        if (tag == kWavTagMpeg || tag == kWavTagMp3) return OpenMpg123Sound(stream);
        if (tag == kWavTagPcm || tag == kWavTagFloat) refused = WavConverterRefuses(wav.header);
        return nullptr;
    }
    char head[4] = {};
    try {
        stream->SetPosition(0);
        stream->Read(head, 4);
    } catch (const std::exception&) {
        return nullptr;
    }
    if (std::memcmp(head, "OggS", 4) == 0) return OpenVorbisSound(stream);
    if (EndsWith(name, {".mp3", ".mp2", ".mp1"})) return OpenMpg123Sound(stream);
    return nullptr;
}

} // namespace

namespace {

std::unique_ptr<TSoundSource> OpenDecoded(TRef<TStream> stream, const std::string& name, TOpenedFormat format) {
    if (!stream) return nullptr;
    std::string refused;
    std::unique_ptr<TSoundSource> sound = OpenWithCodecLibrary(stream, name, refused);
    if (!sound && !refused.empty()) {
        TLog::Line("Sound file cannot be decoded: " + name + " (" + refused + ")");
        return nullptr;
    }
    if (!sound) return OpenWithFfmpeg(std::move(stream), name, format != TOpenedFormat::kOwn);
    if (format == TOpenedFormat::kOwn) return sound;
    if (format == TOpenedFormat::kDeviceOrMono && sound->Rate() == kDeviceRate && sound->Channels() == 1)
        return sound;
    return ToDeviceFormat(std::move(sound));
}

} // namespace

std::unique_ptr<TSoundSource> OpenDecodedSound(TRef<TStream> stream, const std::string& name,
                                               bool deviceFormat) {
    return OpenDecoded(std::move(stream), name, deviceFormat ? TOpenedFormat::kDevice : TOpenedFormat::kOwn);
}

std::unique_ptr<TSoundSource> OpenCompositeSound(TCompositeDescription description, TOpenSoundStream open) {
    auto sound = std::make_unique<TCompositeSound>(std::move(description), std::move(open));
    sound->Seek(0);
    return sound;
}

std::unique_ptr<TSoundSource> OpenSound(const std::string& name, const TOpenSoundStream& open) {
    if (IsCompositeText(name)) {
        std::optional<TCompositeDescription> description = ReadCompositeText(name);
        if (!description) {
            TLog::Line("Sound description cannot be read");
            return nullptr;
        }
        return OpenCompositeSound(std::move(*description), open);
    }
    TRef<TStream> stream = open ? open(name) : nullptr;
    if (!stream) {
        TLog::Line("Sound file not found: " + name);
        return nullptr;
    }
    return OpenDecodedSound(std::move(stream), name);
}

} // namespace kiv
