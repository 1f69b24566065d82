#include "video/FFMpegDll.h"

#include "package/MediaInput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstring>

namespace kiv {

struct TMediaFile::TState {
    TMediaInput input;
    AVCodecContext* codec = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* sws = nullptr;
    int stream = -1;
    std::int64_t startPts = 0;
    double timeBase = 0.0; // seconds per stream tick
    double fps = 0.0;
    bool draining = false;

    ~TState() {
        sws_freeContext(sws);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
    }

    std::int64_t FrameOf(std::int64_t pts, std::int64_t previous) const {
        if (pts == AV_NOPTS_VALUE) return previous + 1;
        return std::llround(static_cast<double>(pts - startPts) * timeBase * fps);
    }
};

// What probing a clip found: enough to open it again without probing.
struct TFFMpegDll::TProbed {
    TMediaInfo info;
    int stream = -1;
    std::int64_t startPts = 0;
    double timeBase = 0.0;
    double fps = 0.0;
};

namespace {

// The clip's name (in lower case), its size and a hash of its first 4 KB: a file of the same name
// with other content is another clip.
std::string ProbeKey(TStream& stream, const std::string& name) {
    std::string key;
    for (const char c : name)
        key += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    std::uint64_t hash = 1469598103934665603ull; // FNV-1a
    std::int64_t size = -1;
    try {
        size = stream.GetSize();
        stream.SetPosition(0);
        char head[4096];
        const std::int32_t got = stream.Read(head, sizeof head);
        for (std::int32_t i = 0; i < got; ++i)
            hash = (hash ^ static_cast<unsigned char>(head[i])) * 1099511628211ull;
    } catch (const std::exception&) {
        return {}; // not known again
    }
    return key + ":" + std::to_string(size) + ":" + std::to_string(hash);
}

} // namespace

bool TFFMpegDll::OpenDecoder(TMediaFile& file, const AVCodec* decoder, int threads, std::string& error) {
    TMediaFile::TState& s = *file.state_;
    const AVCodecParameters* par = s.input.Format()->streams[s.stream]->codecpar;
    s.codec = avcodec_alloc_context3(decoder);
    s.frame = av_frame_alloc();
    s.packet = av_packet_alloc();
    if (!s.codec || !s.frame || !s.packet) {
        error = "out of memory";
        return false;
    }
    if (const int result = avcodec_parameters_to_context(s.codec, par); result < 0) {
        error = AvErrorText(result);
        return false;
    }
    s.codec->thread_count = threads;
    if (const int result = avcodec_open2(s.codec, decoder, nullptr); result < 0) {
        error = AvErrorText(result);
        return false;
    }
    return true;
}

TMediaFile::TMediaFile() : state_(std::make_unique<TState>()) {}
TMediaFile::~TMediaFile() = default;

std::string TMediaFile::FormatName() const {
    const AVFormatContext* format = state_->input.Format();
    return format && format->iformat && format->iformat->name ? format->iformat->name : "";
}

int TMediaFile::ContainerClass() const {
    static const struct {
        const char* name;
        int kind;
    } kClasses[] = {{"avi", 1},
                    {"matroska,webm", 2},
                    {"mov,mp4,m4a,3gp,3g2,mj2", 3},
                    {"mpeg", 4},
                    {"mpegvideo", 4},
                    {"flv", 5},
                    {"mpegts", 6},
                    {"asf", 7}};
    const std::string name = FormatName();
    for (const auto& entry : kClasses)
        if (name == entry.name) return entry.kind;
    return 0;
}

bool TMediaFile::CurrentIsKey() const noexcept {
    return current_ >= 0 && state_->frame->key_frame != 0;
}

bool TMediaFile::CurrentInterlaced() const noexcept {
    return current_ >= 0 && state_->frame->interlaced_frame != 0;
}

bool TMediaFile::CurrentBottomFieldFirst() const noexcept {
    return CurrentInterlaced() && state_->frame->top_field_first == 0;
}

bool TMediaFile::NextVideoFrame(std::string& error) {
    error.clear();
    TState& s = *state_;
    AVFormatContext* format = s.input.Format();
    for (;;) {
        int result = avcodec_receive_frame(s.codec, s.frame);
        if (result == 0) {
            current_ = s.FrameOf(s.frame->best_effort_timestamp, current_);
            if (current_ < 0) current_ = 0;
            return true;
        }
        if (result == AVERROR_EOF) return false;
        if (result != AVERROR(EAGAIN)) {
            error = AvErrorText(result);
            return false;
        }
        if (s.draining) return false;
        result = av_read_frame(format, s.packet);
        if (result < 0) {
            // The end of the file (or a file cut short): the decoder gives what it still holds.
            s.draining = true;
            avcodec_send_packet(s.codec, nullptr);
            continue;
        }
        if (s.packet->stream_index == s.stream) {
            result = avcodec_send_packet(s.codec, s.packet);
            // A damaged packet is skipped; the decoder goes on with the next one.
            if (result < 0 && result != AVERROR(EAGAIN) && result != AVERROR_INVALIDDATA) {
                av_packet_unref(s.packet);
                error = AvErrorText(result);
                return false;
            }
        }
        av_packet_unref(s.packet);
    }
}

bool TMediaFile::SeekFrame(std::int64_t frame) {
    TState& s = *state_;
    AVFormatContext* format = s.input.Format();
    const auto target =
        s.startPts + static_cast<std::int64_t>(std::floor(
                         static_cast<double>(std::max<std::int64_t>(frame, 0)) / s.fps / s.timeBase));
    int result = av_seek_frame(format, s.stream, target, AVSEEK_FLAG_BACKWARD);
    if (result < 0) result = av_seek_frame(format, -1, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_BYTE);
    avcodec_flush_buffers(s.codec);
    s.draining = false;
    current_ = -1;
    return result >= 0;
}

bool TMediaFile::ConvertFrame(bool rgba, std::uint8_t* const planes[3], const int strides[3]) {
    TState& s = *state_;
    const AVFrame* f = s.frame;
    if (current_ < 0 || !f->data[0] || f->width <= 0 || f->height <= 0) return false;
    const int w = info_.width, h = info_.height;
    if (!rgba && f->format == AV_PIX_FMT_YUV420P && f->width == w && f->height == h) {
        av_image_copy_plane(planes[0], strides[0], f->data[0], f->linesize[0], w, h);
        av_image_copy_plane(planes[1], strides[1], f->data[1], f->linesize[1], (w + 1) / 2, (h + 1) / 2);
        av_image_copy_plane(planes[2], strides[2], f->data[2], f->linesize[2], (w + 1) / 2, (h + 1) / 2);
        return true;
    }
    s.sws = sws_getCachedContext(s.sws, f->width, f->height, static_cast<AVPixelFormat>(f->format), w, h,
                                 rgba ? AV_PIX_FMT_RGBA : AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr,
                                 nullptr);
    if (!s.sws) return false;
    std::uint8_t* targets[4] = {planes[0], rgba ? nullptr : planes[1], rgba ? nullptr : planes[2], nullptr};
    const int pitches[4] = {strides[0], rgba ? 0 : strides[1], rgba ? 0 : strides[2], 0};
    return sws_scale(s.sws, f->data, f->linesize, 0, f->height, targets, pitches) == h;
}

TFFMpegDll::TFFMpegDll() {
    // The reasons that matter reach the player's log through the callers; FFmpeg's own chatter
    // would only clutter the terminal.
    av_log_set_level(AV_LOG_FATAL);
}

TFFMpegDll& TFFMpegDll::Shared() {
    static TFFMpegDll library;
    return library;
}

std::unique_ptr<TMediaFile> TFFMpegDll::OpenMediaFile(TRef<TStream> stream, const std::string& name,
                                                      std::string& error, int threads) {
    std::unique_ptr<TMediaFile> file(new TMediaFile());
    TMediaFile::TState& s = *file->state_;
    const std::string key = stream ? ProbeKey(*stream, name) : std::string();
    std::lock_guard guard(lock_);
    if (error = s.input.Open(std::move(stream), name); !error.empty()) return {};
    AVFormatContext* format = s.input.Format();
    const auto found = key.empty() ? probed_.end() : probed_.find(key);
    std::shared_ptr<const TProbed> known = found != probed_.end() ? found->second : nullptr;
    // Containers that find their streams only by reading packets are probed every time.
    if (known && ((format->ctx_flags & AVFMTCTX_NOHEADER) != 0 || known->stream >= static_cast<int>(format->nb_streams) ||
                  format->streams[known->stream]->codecpar->codec_id != known->info.codecId))
        known = nullptr;
    if (known) return OpenKnown(std::move(file), *known, error, threads);
    ++probes_;
    if (const int result = avformat_find_stream_info(format, nullptr); result < 0) {
        error = AvErrorText(result);
        return {};
    }
    s.stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (s.stream < 0) {
        error = "no video stream";
        return {};
    }
    AVStream* video = format->streams[s.stream];
    const AVCodecParameters* par = video->codecpar;
    TMediaInfo& info = file->info_;
    info.width = par->width;
    info.height = par->height;
    if (info.width <= 0 || info.height <= 0 || info.width > kMaxVideoSide || info.height > kMaxVideoSide ||
        std::int64_t{info.width} * info.height > kMaxVideoPixels ||
        av_image_check_size(static_cast<unsigned>(info.width), static_cast<unsigned>(info.height), 0,
                            nullptr) < 0) {
        error =
            "picture size " + std::to_string(info.width) + " x " + std::to_string(info.height) + " refused";
        return {};
    }
    const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
    if (!decoder) {
        error = "unknown codec";
        return {};
    }
    info.codecId = par->codec_id;
    info.codecName = decoder->name;
    // The stream's base rate numbers the frames exactly when time stamps are regular; the average
    // (frames ÷ duration) is off when the muxer left out the last frame's duration.
    const auto usable = [](AVRational r, double limit) {
        return r.num > 0 && r.den > 0 && av_q2d(r) <= limit;
    };
    AVRational rate = usable(video->r_frame_rate, 240.0)      ? video->r_frame_rate
                      : usable(video->avg_frame_rate, 1000.0) ? video->avg_frame_rate
                                                              : AVRational{25, 1};
    info.fpsNum = rate.num;
    info.fpsDen = rate.den;
    s.fps = av_q2d(rate);
    s.timeBase = av_q2d(video->time_base);
    if (!(s.timeBase > 0.0)) s.timeBase = 1.0 / 90000.0;
    s.startPts = video->start_time != AV_NOPTS_VALUE ? video->start_time : 0;
    if (video->duration != AV_NOPTS_VALUE && video->duration > 0)
        info.durationMs = static_cast<double>(video->duration) * s.timeBase * 1000.0;
    else if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
        info.durationMs = static_cast<double>(format->duration) / 1000.0;
    info.frameCount =
        video->nb_frames > 0 ? video->nb_frames : std::llround(info.durationMs * s.fps / 1000.0);
    if (info.frameCount <= 0) {
        error = "no frames";
        return {};
    }
    const AVRational sar = av_guess_sample_aspect_ratio(format, video, nullptr);
    if (sar.num > 0 && sar.den > 0) info.displayAspect = av_q2d(sar) * info.width / info.height;
    if (const AVPixFmtDescriptor* pixel = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(par->format)))
        info.hasAlpha = (pixel->flags & AV_PIX_FMT_FLAG_ALPHA) != 0 || par->format == AV_PIX_FMT_PAL8;

    if (!OpenDecoder(*file, decoder, threads, error)) return {};
    if (par->field_order != AV_FIELD_UNKNOWN) {
        info.interlaced = par->field_order != AV_FIELD_PROGRESSIVE;
        info.bottomFieldFirst = par->field_order == AV_FIELD_BB || par->field_order == AV_FIELD_BT;
    } else {
        // The stream does not say: the first decoded frames do (up to three), then decoding starts
        // again at the beginning.
        for (int n = 0; n < 3; ++n) {
            std::string ignored;
            if (!file->NextVideoFrame(ignored)) break;
            if (file->CurrentInterlaced()) {
                info.interlaced = true;
                info.bottomFieldFirst = file->CurrentBottomFieldFirst();
                break;
            }
        }
        file->SeekFrame(0);
    }
    if (!key.empty()) {
        auto probed = std::make_shared<TProbed>();
        probed->info = info;
        probed->stream = s.stream;
        probed->startPts = s.startPts;
        probed->timeBase = s.timeBase;
        probed->fps = s.fps;
        probed_[key] = std::move(probed);
    }
    return file;
}

std::unique_ptr<TMediaFile> TFFMpegDll::OpenKnown(std::unique_ptr<TMediaFile> file, const TProbed& known,
                                                  std::string& error, int threads) {
    TMediaFile::TState& s = *file->state_;
    AVFormatContext* format = s.input.Format();
    file->info_ = known.info;
    s.stream = known.stream;
    s.startPts = known.startPts;
    s.timeBase = known.timeBase;
    s.fps = known.fps;
    const AVCodec* decoder = avcodec_find_decoder(format->streams[s.stream]->codecpar->codec_id);
    if (!decoder) {
        error = "unknown codec";
        return {};
    }
    if (!OpenDecoder(*file, decoder, threads, error)) return {};
    return file;
}

} // namespace kiv
