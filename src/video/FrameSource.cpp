#include "video/FrameSource.h"

#include "base/Log.h"
#include "video/FFMpegDll.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

#include <gif_lib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

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
    // Rounded to the nearest, half way between two frames to the even one (2500 ms at 25 fps is 62).
    const auto n = static_cast<std::int64_t>(std::min(std::nearbyint(exact), 9e18));
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
    params_.displayAspect = info.displayAspect > 0.0 ? info.displayAspect
                                                     : static_cast<double>(info.width) / info.height;
    params_.aspectClass = AspectClass(params_.displayAspect);
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
    const bool ahead = current >= 0 && n >= current && n <= current + kForwardLimit;
    // Where decoding may start: on from the frame decoded last when n lies just ahead; else the key
    // frame before n, one found two seconds earlier (a seek near the end of a program stream may
    // land where no picture can be decoded before the end), and at last the start of the clip.
    const auto earlier = std::max<std::int64_t>(n - std::llround(2 * std::max(params_.fps, 1.0)), 0);
    std::vector<std::int64_t> starts;
    if (ahead) starts.push_back(-1);
    starts.push_back(n);
    if (earlier > 0 && earlier < n) starts.push_back(earlier);
    if (n > 0) starts.push_back(0);
    for (const std::int64_t start : starts) {
        if (start >= 0) file_->SeekFrame(start);
        bool any = false;
        for (;;) {
            if (!file_->NextVideoFrame(error)) {
                // A clip shorter than it said: its last frame stands for the frames beyond it.
                if (any && error.empty()) return true;
                break;
            }
            ++decoded_;
            const std::int64_t got = file_->CurrentFrame();
            // A seek that landed beyond the frame (an index pointing late): start earlier.
            if (!any && start >= 0 && got > n && start > 0) break;
            any = true;
            if (got >= n) return true;
        }
        if (!error.empty()) return false;
    }
    error = "no frame";
    return false;
}

bool TWinVideoSource::Serve(std::int64_t n) {
    if (n == served_ && file_->CurrentFrame() >= 0) return true;
    std::string error;
    served_ = -1;
    if (!Decode(n, error)) {
        // Logged once per frame: a player asking for it every frame does not flood the log.
        if (n != lastFailed_) TLog::Line("GetFrame " + std::to_string(n) + " of file " + name_ + " Error= " + error);
        lastFailed_ = n;
        return false;
    }
    served_ = n;
    return true;
}

std::uint16_t TWinVideoSource::GreyOf(int luma) {
    const int e = static_cast<int>(std::clamp(luma, 0, 255) * 219 / 255.0 + 16);
    return static_cast<std::uint16_t>((e * 64 / 256) * 32 + (e * 32 / 256) * 2049);
}

bool TWinVideoSource::GetGreyFrame(std::int64_t n, TBitmap& grey) {
    if (grey.Format() != TPixelFormat::Rgb565 || grey.Width() != params_.width || grey.Height() != params_.height) {
        TLog::Line("YUV data not found");
        return false;
    }
    if (!Serve(n)) return false;
    TYUVImage yuv(params_.width, params_.height, false);
    std::uint8_t* const planes[3] = {yuv.Plane(0), yuv.Plane(1), yuv.Plane(2)};
    const int strides[3] = {yuv.Stride(0), yuv.Stride(1), yuv.Stride(2)};
    if (!file_->ConvertFrame(false, planes, strides)) {
        TLog::Line("YUV data not found");
        return false;
    }
    std::uint16_t table[256];
    for (int i = 0; i < 256; ++i)
        table[i] = GreyOf(i);
    for (int y = 0; y < params_.height; ++y) {
        const std::uint8_t* luma = yuv.Plane(0) + static_cast<std::ptrdiff_t>(y) * yuv.Stride(0);
        std::uint8_t* out = grey.Row(y);
        for (int x = 0; x < params_.width; ++x)
            std::memcpy(out + 2 * x, &table[luma[x]], 2);
    }
    return true;
}

bool TWinVideoSource::GetFrame24(std::int64_t n, TBitmap& bitmap) {
    if (bitmap.Format() != TPixelFormat::Bgr24 || bitmap.Width() != params_.width ||
        bitmap.Height() != params_.height) {
        TLog::Line("RGB data not found");
        return false;
    }
    if (!Serve(n)) {
        TLog::Line("GetFrame24 Error");
        return false;
    }
    TYUVImage rgba(params_.width, params_.height, true);
    std::uint8_t* const planes[3] = {rgba.Plane(0), nullptr, nullptr};
    const int strides[3] = {rgba.Stride(0), 0, 0};
    if (!file_->ConvertFrame(true, planes, strides)) {
        TLog::Line("RGB data not found");
        return false;
    }
    for (int y = 0; y < params_.height; ++y) {
        const std::uint8_t* in = rgba.Plane(0) + static_cast<std::ptrdiff_t>(y) * rgba.Stride(0);
        std::uint8_t* out = bitmap.Row(y);
        for (int x = 0; x < params_.width; ++x, in += 4, out += 3)
            out[0] = in[2], out[1] = in[1], out[2] = in[0];
    }
    return true;
}

bool TWinVideoSource::GetFrame(std::int64_t n, TYUVImage& image) {
    if (!Serve(n)) return false;
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

namespace {

struct TGifBytes {
    const std::vector<std::uint8_t>& data;
    std::size_t position = 0;
};

int ReadGifBytes(GifFileType* gif, GifByteType* out, int count) {
    auto* input = static_cast<TGifBytes*>(gif->UserData);
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max(count, 0)),
                                                input->data.size() - input->position);
    if (n > 0) std::memcpy(out, input->data.data() + input->position, n);
    input->position += n;
    return static_cast<int>(n);
}

// Reads the rows of the current picture (interlaced ones in their four passes); false when the
// data breaks off.
bool ReadGifRows(GifFileType* gif, TGifVideoSource::TPicture& picture, bool interlaced) {
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    for (int pass = interlaced ? 0 : 3; pass < 4; ++pass)
        for (int y = interlaced ? kStart[pass] : 0; y < picture.height; y += interlaced ? kStep[pass] : 1) {
            if (DGifGetLine(gif, picture.indices.data() + static_cast<std::size_t>(y) * picture.width,
                            picture.width) != GIF_OK)
                return false;
            picture.rowRead[static_cast<std::size_t>(y)] = 1;
        }
    return true;
}

} // namespace

std::unique_ptr<TGifVideoSource> TGifVideoSource::Open(TStream& stream, std::string& error) {
    std::vector<std::uint8_t> bytes;
    try {
        const std::int64_t size = stream.GetSize();
        if (size <= 0 || size > (std::int64_t{1} << 30)) {
            error = "no data";
            return {};
        }
        bytes.resize(static_cast<std::size_t>(size));
        stream.SetPosition(0);
        stream.ReadBuffer(bytes.data(), static_cast<std::int32_t>(size));
    } catch (const std::exception& failure) {
        error = failure.what();
        return {};
    }
    TGifBytes input{bytes};
    int code = 0;
    const auto close = [](GifFileType* gif) {
        int ignored = 0;
        DGifCloseFile(gif, &ignored);
    };
    std::unique_ptr<GifFileType, decltype(close)> gif(DGifOpen(&input, ReadGifBytes, &code), close);
    if (!gif) {
        error = "Not a GIF picture";
        return {};
    }
    std::unique_ptr<TGifVideoSource> source(new TGifVideoSource());
    int width = gif->SWidth, height = gif->SHeight;
    int disposal = 0, transparent = -1, delay = 0;
    std::int64_t held = 0;
    std::vector<int> delays;
    for (bool broken = false; !broken;) {
        GifRecordType record;
        if (DGifGetRecordType(gif.get(), &record) != GIF_OK || record == TERMINATE_RECORD_TYPE) break;
        if (record == EXTENSION_RECORD_TYPE) {
            int ext = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &ext, &block) != GIF_OK) break;
            if (ext == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
                disposal = (block[1] >> 2) & 7;
                transparent = (block[1] & 1) ? block[4] : -1;
                delay = (block[2] | (block[3] << 8)) * 10;
            }
            bool loops = ext == APPLICATION_EXT_FUNC_CODE && block && block[0] >= 11 &&
                         (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 ||
                          std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0);
            while (block) {
                if (DGifGetExtensionNext(gif.get(), &block) != GIF_OK) break;
                if (loops && block && block[0] >= 3 && block[1] == 1) {
                    source->loopCount_ = block[2] | (block[3] << 8);
                    loops = false;
                }
            }
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE) continue;
        if (source->PictureCount() >= kMaxPictures) {
            TLog::Line("GIF clip: only its first " + std::to_string(kMaxPictures) + " pictures are played");
            break;
        }
        if (DGifGetImageDesc(gif.get()) != GIF_OK) break;
        const GifImageDesc& desc = gif->Image;
        if (source->pictures_.empty() && (width <= 0 || height <= 0)) {
            width = desc.Left + desc.Width;
            height = desc.Top + desc.Height;
        }
        const std::int64_t area = std::int64_t{desc.Width} * desc.Height;
        const std::int64_t screen = std::int64_t{width} * height;
        if (width <= 0 || height <= 0 || width > kMaxVideoSide || height > kMaxVideoSide ||
            screen > kMaxVideoPixels || area > kMaxVideoPixels)
            break;
        // Each picture's indices, and a key frame for every tenth.
        const std::int64_t cost =
            area + 1024 + (source->pictures_.size() % kKeyInterval == 0 ? 4 * screen : 0);
        const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
        if (!map || held + cost > kMaxBytes) break;
        held += cost;
        TPicture picture;
        picture.left = desc.Left;
        picture.top = desc.Top;
        picture.width = desc.Width;
        picture.height = desc.Height;
        picture.disposal = disposal;
        picture.transparent = transparent;
        picture.indices.assign(static_cast<std::size_t>(area), 0);
        picture.rowRead.assign(static_cast<std::size_t>(desc.Height), 0);
        picture.colors.assign(1024, 0);
        for (int i = 0; i < std::min(map->ColorCount, 256); ++i) {
            picture.colors[4 * i] = map->Colors[i].Red;
            picture.colors[4 * i + 1] = map->Colors[i].Green;
            picture.colors[4 * i + 2] = map->Colors[i].Blue;
            picture.colors[4 * i + 3] = 255;
        }
        // Rows that did not arrive are not drawn, and nothing after them can be read; a picture
        // of which no row arrived is left out.
        broken = !ReadGifRows(gif.get(), picture, desc.Interlace);
        if (broken && std::find(picture.rowRead.begin(), picture.rowRead.end(), 1) == picture.rowRead.end())
            break;
        source->pictures_.push_back(std::move(picture));
        delays.push_back(delay > 0 ? delay : 50);
        disposal = 0, transparent = -1, delay = 0;
    }
    if (source->pictures_.empty()) {
        error = "no frame";
        return {};
    }
    TVideoParams& params = source->params_;
    params.width = width;
    params.height = height;
    // The key frames: the screen before every tenth picture, composed once here.
    source->canvas_.assign(static_cast<std::size_t>(width) * height * 4, 0);
    source->keys_.push_back(source->canvas_);
    for (int p = 0; p < source->PictureCount(); ++p) {
        if (p > 0 && p % kKeyInterval == 0) {
            source->keys_.push_back(source->canvas_);
            source->Dispose(source->pictures_[static_cast<std::size_t>(p - 1)], source->keys_.back());
        }
        source->Compose(p);
    }
    source->delays_ = std::move(delays);
    const int smallest = std::min(1000, *std::min_element(source->delays_.begin(), source->delays_.end()));
    source->total_ = std::accumulate(source->delays_.begin(), source->delays_.end(), std::int64_t{0});
    params.fps = 1000.0 / smallest;
    params.frameCount =
        source->loopCount_ == 0 ? std::max<std::int64_t>(source->total_ / smallest, 1) : 1000000;
    params.codecName = "OTHER";
    params.yuv = false;
    return source;
}

std::int64_t TGifVideoSource::HeldBytes() const noexcept {
    std::int64_t bytes = static_cast<std::int64_t>(canvas_.size() + saved_.size());
    for (const auto& key : keys_)
        bytes += static_cast<std::int64_t>(key.size());
    for (const TPicture& picture : pictures_)
        bytes += static_cast<std::int64_t>(picture.indices.size() + picture.colors.size() +
                                           picture.rowRead.size());
    return bytes;
}

namespace {

// The part of a picture's rectangle that lies on a screen of w × h, as [x0, x1) × [y0, y1).
struct TGifClip {
    int x0, y0, x1, y1;
};

TGifClip ClipOf(const TGifVideoSource::TPicture& p, int w, int h) {
    return {std::clamp(p.left, 0, w), std::clamp(p.top, 0, h), std::clamp(p.left + p.width, 0, w),
            std::clamp(p.top + p.height, 0, h)};
}

} // namespace

void TGifVideoSource::Draw(const TPicture& picture) {
    const int w = params_.width, h = params_.height;
    const TGifClip c = ClipOf(picture, w, h);
    saved_.clear();
    if (picture.disposal == 3)
        for (int y = c.y0; y < c.y1; ++y) {
            const auto* row = canvas_.data() + (static_cast<std::size_t>(y) * w + c.x0) * 4;
            saved_.insert(saved_.end(), row, row + static_cast<std::size_t>(c.x1 - c.x0) * 4);
        }
    for (int y = c.y0; y < c.y1; ++y) {
        const int py = y - picture.top;
        if (!picture.rowRead[static_cast<std::size_t>(py)]) continue;
        const std::uint8_t* in = picture.indices.data() + static_cast<std::size_t>(py) * picture.width;
        std::uint8_t* out = canvas_.data() + static_cast<std::size_t>(y) * w * 4;
        for (int x = c.x0; x < c.x1; ++x) {
            const int index = in[x - picture.left];
            if (index != picture.transparent) std::memcpy(out + 4 * x, picture.colors.data() + 4 * index, 4);
        }
    }
}

void TGifVideoSource::Dispose(const TPicture& picture, std::vector<std::uint8_t>& canvas) const {
    if (picture.disposal != 2 && picture.disposal != 3) return;
    const int w = params_.width;
    const TGifClip c = ClipOf(picture, w, params_.height);
    const std::size_t bytes = static_cast<std::size_t>(std::max(c.x1 - c.x0, 0)) * 4;
    for (int y = c.y0; y < c.y1 && bytes > 0; ++y) {
        std::uint8_t* out = canvas.data() + (static_cast<std::size_t>(y) * w + c.x0) * 4;
        if (picture.disposal == 2)
            std::memset(out, 0, bytes);
        else if (saved_.size() >= static_cast<std::size_t>(y - c.y0 + 1) * bytes)
            std::memcpy(out, saved_.data() + static_cast<std::size_t>(y - c.y0) * bytes, bytes);
    }
}

void TGifVideoSource::Compose(int p) {
    if (current_ < 0 || p < current_ || p - current_ > kKeyInterval) {
        const int key = p / kKeyInterval;
        canvas_ = keys_[static_cast<std::size_t>(key)];
        current_ = key * kKeyInterval - 1;
        fresh_ = true;
    }
    while (current_ < p) {
        if (!fresh_) Dispose(pictures_[static_cast<std::size_t>(current_)], canvas_);
        fresh_ = false;
        Draw(pictures_[static_cast<std::size_t>(++current_)]);
    }
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
    Compose(PictureAt(static_cast<double>(n) * 1000.0 / params_.fps));
    const std::size_t row = static_cast<std::size_t>(params_.width) * 4;
    for (int y = 0; y < params_.height; ++y)
        std::memcpy(image.Plane(0) + static_cast<std::ptrdiff_t>(y) * image.Stride(0),
                    canvas_.data() + static_cast<std::size_t>(y) * row, row);
    image.SetDirty(false);
    return true;
}

} // namespace kiv
