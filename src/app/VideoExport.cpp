#include "app/VideoExport.h"

#include "app/SignalWatch.h"
#include "base/Clock.h"
#include "base/Exception.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <vector>

namespace kiv {

namespace {

std::string AvErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

void Check(int code, const std::string& what) {
    if (code < 0) throw Exception(what + ": " + AvErrorText(code));
}

bool EndsWithFolded(const std::string& name, const std::string& ending) {
    if (name.size() < ending.size()) return false;
    return std::equal(ending.begin(), ending.end(), name.end() - static_cast<std::ptrdiff_t>(ending.size()),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

bool IsWebm(const std::string& name) {
    return EndsWithFolded(name, ".webm");
}

// 44 100 Hz when the encoder takes it; Opus takes 48 000 Hz only.
int EncoderSampleRate(const AVCodec& codec) {
    if (!codec.supported_samplerates) return kExportSampleRate;
    int best = 0;
    for (const int* rate = codec.supported_samplerates; *rate; ++rate) {
        if (*rate == kExportSampleRate) return *rate;
        best = std::max(best, *rate);
    }
    return best;
}

std::string SecondsText(double seconds) {
    const long long whole = std::llround(std::max(seconds, 0.0));
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

// The file ends on a finished fade: whatever still sounds at TO (music that goes on past it) falls
// to silence over the last 10 ms instead of stopping on a full sample.
void FadeOutTail(std::int16_t* samples, int frames) {
    constexpr int kFadeFrames = kExportSampleRate / 100;
    const int from = std::max(frames - kFadeFrames, 0);
    const int length = frames - from;
    for (int f = from; f < frames; ++f) {
        const double gain = static_cast<double>(frames - 1 - f) / length;
        for (int c = 0; c < 2; ++c) {
            std::int16_t& sample = samples[static_cast<std::size_t>(f) * 2 + c];
            sample = static_cast<std::int16_t>(std::lround(sample * gain));
        }
    }
}

} // namespace

bool IsVideoFileName(const std::string& name) {
    return EndsWithFolded(name, ".mp4") || EndsWithFolded(name, ".mkv") || EndsWithFolded(name, ".webm");
}

std::int64_t FrameFirstSample(std::int64_t k, double fps) {
    return std::llround(static_cast<double>(k) * kExportSampleRate / fps);
}

struct TVideoWriter::TState {
    AVFormatContext* format = nullptr;
    AVCodecContext* video = nullptr;
    AVCodecContext* audio = nullptr;
    AVStream* videoStream = nullptr;
    AVStream* audioStream = nullptr;
    SwsContext* scaler = nullptr;
    SwrContext* resampler = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVFrame* picture = nullptr;
    AVFrame* sound = nullptr;
    AVPacket* packet = nullptr;
    std::int64_t videoPts = 0;
    std::int64_t audioPts = 0;
    int audioFrameSize = 1024;
    bool headerWritten = false;
    bool finished = false;

    ~TState() {
        av_packet_free(&packet);
        av_frame_free(&picture);
        av_frame_free(&sound);
        if (fifo) av_audio_fifo_free(fifo);
        swr_free(&resampler);
        sws_freeContext(scaler);
        avcodec_free_context(&video);
        avcodec_free_context(&audio);
        if (format) {
            if (format->pb) avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }

    AVCodecContext* OpenEncoder(const AVCodec* codec, AVStream*& stream,
                                const std::function<void(AVCodecContext&)>& setup) {
        AVCodecContext* context = avcodec_alloc_context3(codec);
        if (!context) throw Exception("no memory for the encoder");
        setup(*context);
        if (format->oformat->flags & AVFMT_GLOBALHEADER) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        const int opened = avcodec_open2(context, codec, nullptr);
        if (opened < 0) {
            avcodec_free_context(&context);
            Check(opened, std::string("the encoder ") + codec->name + " does not open");
        }
        stream = avformat_new_stream(format, nullptr);
        if (!stream) throw Exception("no memory for a stream");
        stream->time_base = context->time_base;
        Check(avcodec_parameters_from_context(stream->codecpar, context), "stream parameters");
        return context;
    }

    // Sends one frame (none: drain) and writes every packet the encoder has ready.
    void Encode(AVCodecContext* context, AVStream* stream, AVFrame* frame) {
        Check(avcodec_send_frame(context, frame), std::string("encoding with ") + context->codec->name);
        for (;;) {
            const int got = avcodec_receive_packet(context, packet);
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return;
            Check(got, std::string("encoding with ") + context->codec->name);
            // Every picture lasts one frame, the last one too (the container's duration counts it).
            if (context == video && packet->duration <= 0) packet->duration = 1;
            av_packet_rescale_ts(packet, context->time_base, stream->time_base);
            packet->stream_index = stream->index;
            Check(av_interleaved_write_frame(format, packet), "writing the file");
        }
    }

    // Encodes whole encoder frames from the fifo; with `last`, the rest as a shorter last frame.
    void EncodeSound(bool last) {
        while (av_audio_fifo_size(fifo) >= audioFrameSize || (last && av_audio_fifo_size(fifo) > 0)) {
            const int count = std::min(av_audio_fifo_size(fifo), audioFrameSize);
            av_frame_unref(sound);
            sound->nb_samples = count;
            sound->format = audio->sample_fmt;
            sound->sample_rate = audio->sample_rate;
            Check(av_channel_layout_copy(&sound->ch_layout, &audio->ch_layout), "sound layout");
            Check(av_frame_get_buffer(sound, 0), "sound buffer");
            if (av_audio_fifo_read(fifo, reinterpret_cast<void**>(sound->data), count) != count)
                throw Exception("sound buffer underrun");
            sound->pts = audioPts;
            audioPts += count;
            Encode(audio, audioStream, sound);
        }
    }

    // Resamples 16-bit stereo at 44 100 Hz (none: flushes the resampler) into the fifo.
    void QueueSound(const std::int16_t* samples, int count) {
        const int room = swr_get_out_samples(resampler, count);
        if (room <= 0) return;
        std::vector<std::uint8_t*> planes(
            static_cast<std::size_t>(std::max(audio->ch_layout.nb_channels, 1)));
        int lineSize = 0;
        uint8_t** data = planes.data();
        Check(av_samples_alloc(data, &lineSize, audio->ch_layout.nb_channels, room, audio->sample_fmt, 0),
              "sound buffer");
        const std::uint8_t* in = reinterpret_cast<const std::uint8_t*>(samples);
        const int converted = swr_convert(resampler, data, room, samples ? &in : nullptr, count);
        int written = converted;
        if (converted > 0) written = av_audio_fifo_write(fifo, reinterpret_cast<void**>(data), converted);
        av_freep(&data[0]);
        Check(converted, "resampling the sound");
        if (written != converted) throw Exception("no memory for the sound");
    }
};

TVideoWriter::TVideoWriter(const std::string& path, const std::string& containerName,
                           const TVideoSettings& settings)
    : state_(std::make_unique<TState>()) {
    TState& s = *state_;
    // The encoders' own notes (settings, statistics) stay off the console; their errors show.
    av_log_set_level(AV_LOG_ERROR);
    if (settings.width % 2 || settings.height % 2) throw Exception("a video needs an even width and height");
    const AVOutputFormat* container = av_guess_format(nullptr, containerName.c_str(), nullptr);
    if (!container) throw Exception(containerName + ": no container for this name");
    Check(avformat_alloc_output_context2(&s.format, container, nullptr, path.c_str()), "the container");

    const bool webm = IsWebm(containerName);
    const AVCodec* videoCodec = avcodec_find_encoder_by_name(webm ? "libvpx-vp9" : "libx264");
    const AVCodec* audioCodec = avcodec_find_encoder_by_name(webm ? "libopus" : "aac");
    if (!videoCodec) throw Exception(std::string("no ") + (webm ? "VP9" : "H.264") + " encoder in FFmpeg");
    if (!audioCodec) throw Exception(std::string("no ") + (webm ? "Opus" : "AAC") + " encoder in FFmpeg");

    const AVRational rate = av_d2q(settings.fps, 1000000);
    s.video = s.OpenEncoder(videoCodec, s.videoStream, [&](AVCodecContext& c) {
        c.width = settings.width;
        c.height = settings.height;
        c.pix_fmt = AV_PIX_FMT_YUV420P;
        c.time_base = av_inv_q(rate);
        c.framerate = rate;
        c.gop_size = std::max(1, static_cast<int>(std::lround(settings.fps * 2)));
        if (webm) {
            // Constant quality: the bit rate must be 0.
            c.bit_rate = 0;
            av_opt_set_int(c.priv_data, "crf", settings.crf >= 0 ? std::min(settings.crf, 63) : 31, 0);
            av_opt_set(c.priv_data, "deadline", "good", 0);
            av_opt_set_int(c.priv_data, "cpu-used", 4, 0);
            av_opt_set_int(c.priv_data, "row-mt", 1, 0);
        } else {
            av_opt_set_double(c.priv_data, "crf", settings.crf >= 0 ? std::min(settings.crf, 51) : 23, 0);
            av_opt_set(c.priv_data, "preset", "fast", 0);
        }
    });
    s.audio = s.OpenEncoder(audioCodec, s.audioStream, [&](AVCodecContext& c) {
        c.sample_rate = EncoderSampleRate(*audioCodec);
        c.sample_fmt = audioCodec->sample_fmts ? audioCodec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
        const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        av_channel_layout_copy(&c.ch_layout, &stereo);
        c.bit_rate = webm ? 128000 : 160000;
        c.time_base = AVRational{1, c.sample_rate};
    });
    if (s.audio->frame_size > 0) s.audioFrameSize = s.audio->frame_size;

    s.scaler =
        sws_getContext(settings.width, settings.height, AV_PIX_FMT_BGRA, settings.width, settings.height,
                       AV_PIX_FMT_YUV420P, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    Check(swr_alloc_set_opts2(&s.resampler, &s.audio->ch_layout, s.audio->sample_fmt, s.audio->sample_rate,
                              &stereo, AV_SAMPLE_FMT_S16, kExportSampleRate, 0, nullptr),
          "the resampler");
    if (!s.scaler || swr_init(s.resampler) < 0)
        throw Exception("the picture or sound converter does not start");
    s.fifo = av_audio_fifo_alloc(s.audio->sample_fmt, s.audio->ch_layout.nb_channels, s.audioFrameSize * 4);
    s.picture = av_frame_alloc();
    s.sound = av_frame_alloc();
    s.packet = av_packet_alloc();
    if (!s.fifo || !s.picture || !s.sound || !s.packet) throw Exception("no memory for the export");
    s.picture->format = AV_PIX_FMT_YUV420P;
    s.picture->width = settings.width;
    s.picture->height = settings.height;
    Check(av_frame_get_buffer(s.picture, 0), "picture buffer");

    // WebM carries Opus's lead-in as the track's codec delay, which readers subtract from the
    // stored times: the sound's first packet must be stored at 0 (its lead-in counted), not at
    // minus the lead-in, or the sound would come early by the lead-in.
    if (webm) s.audioPts = s.audio->initial_padding;
    Check(avio_open(&s.format->pb, path.c_str(), AVIO_FLAG_WRITE), path);
    Check(avformat_write_header(s.format, nullptr), "writing the file's header");
    s.headerWritten = true;
}

TVideoWriter::~TVideoWriter() = default;

void TVideoWriter::AddFrame(const TBitmap& picture, const std::int16_t* sound, int soundFrames) {
    TState& s = *state_;
    if (picture.Width() != s.video->width || picture.Height() != s.video->height)
        throw Exception("a frame of another size");
    Check(av_frame_make_writable(s.picture), "picture buffer");
    const std::uint8_t* rows[1] = {picture.Row(0)};
    const int strides[1] = {static_cast<int>(picture.Stride())};
    sws_scale(s.scaler, rows, strides, 0, picture.Height(), s.picture->data, s.picture->linesize);
    s.picture->pts = s.videoPts++;
    s.Encode(s.video, s.videoStream, s.picture);
    if (soundFrames > 0) s.QueueSound(sound, soundFrames);
    s.EncodeSound(false);
}

void TVideoWriter::Finish() {
    TState& s = *state_;
    if (s.finished) return;
    s.QueueSound(nullptr, 0);
    s.EncodeSound(true);
    s.Encode(s.video, s.videoStream, nullptr);
    s.Encode(s.audio, s.audioStream, nullptr);
    Check(av_write_trailer(s.format), "writing the file's end");
    Check(avio_closep(&s.format->pb), "closing the file");
    s.finished = true;
}

std::string ExportShowToVideo(TRef<TFileAccessor> accessor, TRef<TIniFile> ini,
                              const THeadlessOptions& options, int crf, const std::string& path,
                              const TExportSound& sound, std::FILE* progress) {
    const std::string unfinished = path + ".part";
    std::error_code error;
    std::string failure;
    // The part file is made anew, so that the encoder never writes through a link left at its
    // name; it is renamed over the output (a link there is replaced, not followed).
    if (std::filesystem::is_symlink(unfinished, error)) std::filesystem::remove(unfinished, error);
    if (const int fd = ::open(unfinished.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
        fd >= 0)
        ::close(fd);
    else
        return unfinished + ": cannot be written (" + std::strerror(errno) + ")";
    SetUnfinishedFile(unfinished);
    try {
        THeadlessPlayer player(std::move(accessor), std::move(ini), options);
        const int total = player.FrameCount();
        if (total == 0) throw Exception("no frame lies between FROM and TO");
        TVideoWriter writer(unfinished, path,
                            TVideoSettings{options.width, options.height, options.fps, crf});
        std::vector<std::int16_t> samples;
        const std::int64_t started = ProcessMilliseconds();
        for (int k = 0; k < total && failure.empty(); ++k) {
            TRef<TBitmap> frame = player.RenderFrame(k);
            if (!frame) {
                failure = "frame " + std::to_string(k + 1) + " cannot be drawn";
                break;
            }
            const std::int64_t first = FrameFirstSample(k, options.fps);
            const int count = static_cast<int>(FrameFirstSample(k + 1, options.fps) - first);
            samples.assign(static_cast<std::size_t>(count) * 2, 0);
            if (sound) sound(first, count, samples.data());
            if (k + 1 == total) FadeOutTail(samples.data(), count);
            writer.AddFrame(*frame, samples.data(), count);
            if (progress) {
                const double seconds = std::max<std::int64_t>(ProcessMilliseconds() - started, 1) / 1000.0;
                const double rate = (k + 1) / seconds;
                std::fprintf(progress, "\rframe %d / %d  %.1f fps  %s left ", k + 1, total, rate,
                             SecondsText((total - k - 1) / rate).c_str());
                std::fflush(progress);
            }
        }
        if (failure.empty()) writer.Finish();
        if (progress) std::fprintf(progress, "\n");
    } catch (const std::exception& problem) {
        failure = problem.what();
    }
    if (failure.empty()) {
        std::filesystem::rename(unfinished, path, error);
        if (error) failure = path + ": " + error.message();
    }
    if (!failure.empty()) std::filesystem::remove(unfinished, error);
    SetUnfinishedFile({});
    return failure;
}

} // namespace kiv
