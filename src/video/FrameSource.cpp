#include "video/FrameSource.h"

#include "base/Log.h"
#include "images/GifReader.h"
#include "video/FFMpegDll.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace kiv {

namespace {

// Frames beyond the one decoded last up to this distance are reached by decoding forward.
constexpr std::int64_t kForwardLimit = 30;

int AspectClass(double aspect) {
    if (std::abs(aspect - 16.0 / 9.0) < 0.001) return 2;
    if (std::abs(aspect - 4.0 / 3.0) < 0.001) return 1;
    return 0;
}

std::string CodecClass(int id) {
    switch (id) {
    case AV_CODEC_ID_MPEG2VIDEO:
        return "MPEG2";
    case AV_CODEC_ID_MPEG4:
        return "MPEG4";
    case AV_CODEC_ID_H264:
        return "H264";
    default:
        return "OTHER";
    }
}

} // namespace

std::int64_t FrameForTime(const TVideoParams& params, double t, bool loop) {
    if (params.frameCount <= 0) return -1;
    const double exact = t * params.fps / 1000.0;
    if (!(exact > 0.0)) return 0;
    // Half way between two frames belongs to the later one.
    const auto n = static_cast<std::int64_t>(std::min(std::floor(exact + 0.5), 9e18));
    if (n < params.frameCount) return n;
    return loop ? n % params.frameCount : params.frameCount - 1;
}

TYUVImage::TYUVImage(int width, int height, bool rgba) : width_(width), height_(height), rgba_(rgba) {
    const auto plane = [&](int index, int stride, int rows) {
        strides_[static_cast<std::size_t>(index)] = stride;
        planes_[static_cast<std::size_t>(index)].assign(static_cast<std::size_t>(stride) * rows, 0);
    };
    if (rgba) {
        plane(0, width * 4, height);
    } else {
        plane(0, width, height);
        plane(1, (width + 1) / 2, (height + 1) / 2);
        plane(2, (width + 1) / 2, (height + 1) / 2);
    }
}

TWinVideoSource::TWinVideoSource(std::unique_ptr<TMediaFile> file, std::string name)
    : file_(std::move(file)), name_(std::move(name)) {
    const TMediaInfo& info = file_->Info();
    params_.width = info.width;
    params_.height = info.height;
    params_.fps = static_cast<double>(info.fpsNum) / info.fpsDen;
    params_.frameCount = info.frameCount;
    params_.aspectClass = AspectClass(info.displayAspect);
    params_.codecName = CodecClass(info.codecId);
    params_.yuv = !info.hasAlpha;
    // Field order: marked containers say it, otherwise the stream's own flags.
    const std::string container = file_->FormatName();
    if (container == "Zorvik_ITFA" || container == "Zorvik_ITFB") {
        params_.interlaced = true;
        params_.bottomFieldFirst = container == "Zorvik_ITFB";
    } else {
        params_.interlaced = info.interlaced;
        params_.bottomFieldFirst = info.bottomFieldFirst;
    }
}

TWinVideoSource::~TWinVideoSource() = default;

std::unique_ptr<TWinVideoSource> TWinVideoSource::Open(TRef<TStream> stream, const std::string& name,
                                                       std::string& error, int threads) {
    std::unique_ptr<TMediaFile> file =
        TFFMpegDll::Shared().OpenMediaFile(std::move(stream), name, error, threads);
    if (!file) return {};
    return std::unique_ptr<TWinVideoSource>(new TWinVideoSource(std::move(file), name));
}

bool TWinVideoSource::Decode(std::int64_t n, std::string& error) {
    const std::int64_t current = file_->CurrentFrame();
    bool seeked = current < 0 || n < current || n > current + kForwardLimit;
    bool rewound = false;
    if (seeked) file_->SeekFrame(n);
    bool any = false;
    for (;;) {
        if (!file_->NextVideoFrame(error)) {
            // A clip shorter than it said: its last frame stands for the frames beyond it.
            if (any && error.empty()) return true;
            if (!seeked && error.empty()) {
                // The decoder was at the end already: start again at the key frame before n.
                seeked = true;
                file_->SeekFrame(n);
                continue;
            }
            if (error.empty()) error = "no frame";
            return false;
        }
        ++decoded_;
        const std::int64_t got = file_->CurrentFrame();
        if (!any && seeked && got > n && !rewound) {
            // The seek landed beyond the frame (an index pointing late): decode from the start.
            rewound = true;
            file_->SeekFrame(0);
            continue;
        }
        any = true;
        if (got >= n) return true;
    }
}

bool TWinVideoSource::GetFrame(std::int64_t n, TYUVImage& image) {
    std::string error;
    if (n != served_ || file_->CurrentFrame() < 0) {
        served_ = -1;
        if (!Decode(n, error)) {
            // Logged once per frame: a player asking for it every frame does not flood the log.
            if (n != lastFailed_)
                TLog::Line("GetFrame " + std::to_string(n) + " of file " + name_ + " Error= " + error);
            lastFailed_ = n;
            return false;
        }
        served_ = n;
    }
    std::uint8_t* const planes[3] = {image.Plane(0), image.Rgba() ? nullptr : image.Plane(1),
                                     image.Rgba() ? nullptr : image.Plane(2)};
    const int strides[3] = {image.Stride(0), image.Stride(1), image.Stride(2)};
    if (image.Width() != params_.width || image.Height() != params_.height ||
        !file_->ConvertFrame(image.Rgba(), planes, strides)) {
        TLog::Line(image.Rgba() ? "RGBA data not found" : "YUV data not found");
        return false;
    }
    image.SetDirty(false);
    return true;
}

std::unique_ptr<TGifVideoSource> TGifVideoSource::Open(TStream& stream, std::string& error) {
    std::vector<std::uint8_t> bytes;
    TGifFrames frames;
    try {
        const std::int64_t size = stream.GetSize();
        if (size <= 0 || size > (std::int64_t{1} << 30)) {
            error = "no data";
            return {};
        }
        bytes.resize(static_cast<std::size_t>(size));
        stream.SetPosition(0);
        stream.ReadBuffer(bytes.data(), static_cast<std::int32_t>(size));
        frames = DecodeGif(bytes.data(), bytes.size(), 1 << 20);
    } catch (const std::exception& failure) {
        error = failure.what();
        return {};
    }
    if (!frames.bitmap || frames.frameCount <= 0 || frames.width <= 0 || frames.height <= 0) {
        error = "no frame";
        return {};
    }
    std::unique_ptr<TGifVideoSource> source(new TGifVideoSource());
    source->frames_ = frames.bitmap;
    source->loopCount_ = frames.loopCount;
    int smallest = 1000;
    for (int i = 0; i < frames.frameCount; ++i) {
        const int delay =
            i < static_cast<int>(frames.delays.size()) && frames.delays[i] > 0 ? frames.delays[i] : 50;
        source->delays_.push_back(delay);
        smallest = std::min(smallest, delay);
    }
    source->total_ = std::accumulate(source->delays_.begin(), source->delays_.end(), std::int64_t{0});
    TVideoParams& params = source->params_;
    params.width = frames.width;
    params.height = frames.height;
    params.fps = 1000.0 / smallest;
    params.frameCount =
        source->loopCount_ == 0 ? std::max<std::int64_t>(source->total_ / smallest, 1) : 1000000;
    params.codecName = "OTHER";
    params.yuv = false;
    return source;
}

int TGifVideoSource::PictureAt(double t) const {
    if (!(t > 0.0)) return 0;
    const auto total = static_cast<double>(total_);
    if (loopCount_ == 0 || t < total * loopCount_)
        t = std::fmod(t, total);
    else
        return static_cast<int>(delays_.size()) - 1; // the last picture stays
    double end = 0.0;
    for (std::size_t i = 0; i < delays_.size(); ++i) {
        end += delays_[i];
        if (t < end) return static_cast<int>(i);
    }
    return static_cast<int>(delays_.size()) - 1;
}

bool TGifVideoSource::GetFrame(std::int64_t n, TYUVImage& image) {
    if (!image.Rgba() || image.Width() != params_.width || image.Height() != params_.height) {
        TLog::Line("RGBA data not found");
        return false;
    }
    const int picture = PictureAt(static_cast<double>(n) * 1000.0 / params_.fps);
    for (int y = 0; y < params_.height; ++y) {
        const std::uint8_t* in = frames_->Row(y) + static_cast<std::ptrdiff_t>(picture) * params_.width * 4;
        std::uint8_t* out = image.Plane(0) + static_cast<std::ptrdiff_t>(y) * image.Stride(0);
        for (int x = 0; x < params_.width; ++x) {
            out[4 * x] = in[4 * x + 2];
            out[4 * x + 1] = in[4 * x + 1];
            out[4 * x + 2] = in[4 * x];
            out[4 * x + 3] = in[4 * x + 3];
        }
    }
    image.SetDirty(false);
    return true;
}

} // namespace kiv
