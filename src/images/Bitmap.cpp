#include "images/Bitmap.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kiv {

int BytesPerPixel(TPixelFormat format) {
    switch (format) {
    case TPixelFormat::Grey8:
        return 1;
    case TPixelFormat::Rgb555:
    case TPixelFormat::Rgb565:
        return 2;
    case TPixelFormat::Bgr24:
        return 3;
    case TPixelFormat::Bgra32:
        return 4;
    case TPixelFormat::None:
        break;
    }
    return 0;
}

bool HasAlpha(TPixelFormat format) {
    return format == TPixelFormat::Bgra32;
}

const char* PixelFormatName(TPixelFormat format) {
    switch (format) {
    case TPixelFormat::Grey8:
        return "grey 8";
    case TPixelFormat::Rgb555:
        return "5-5-5";
    case TPixelFormat::Rgb565:
        return "5-6-5";
    case TPixelFormat::Bgr24:
        return "BGR 24";
    case TPixelFormat::Bgra32:
        return "BGRA 32";
    case TPixelFormat::None:
        break;
    }
    return "none";
}

bool PictureSizeAllowed(std::int64_t width, std::int64_t height) {
    return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
           width * height <= kMaxPicturePixels;
}

int ReductionWithinLimit(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0) return -1;
    for (int shift = 0;; ++shift) {
        const std::int64_t n = std::int64_t{1} << shift;
        if (PictureSizeAllowed((width + n - 1) / n, (height + n - 1) / n)) return shift;
    }
}

TRowReducer::TRowReducer(int sourceWidth, int sourceHeight, TPixelFormat format, int shift)
    : sourceWidth_(sourceWidth), sourceHeight_(sourceHeight), shift_(shift), bytes_(BytesPerPixel(format)) {
    if (format != TPixelFormat::Bgr24 && format != TPixelFormat::Bgra32)
        throw EImageError("Only 24- and 32-bit pictures are reduced");
    const int n = 1 << shift;
    bitmap_ = MakeRef<TBitmap>((sourceWidth + n - 1) / n, (sourceHeight + n - 1) / n, format, true);
    sums_.assign(static_cast<std::size_t>(bitmap_->Width()) * bytes_, 0);
}

namespace {

// Adds each square's share of one source row to its sums.
template <int kBytes> void AddRowSums(const std::uint8_t* row, int width, int n, std::uint32_t* sum) {
    for (int x = 0; x < width; x += n, sum += kBytes) {
        const std::uint8_t* const end =
            row + static_cast<std::ptrdiff_t>(std::min(x + n, width) - x) * kBytes;
        std::uint32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
        for (; row != end; row += kBytes) {
            s0 += row[0];
            s1 += row[1];
            s2 += row[2];
            if constexpr (kBytes == 4) s3 += row[3];
        }
        sum[0] += s0;
        sum[1] += s1;
        sum[2] += s2;
        if constexpr (kBytes == 4) sum[3] += s3;
    }
}

} // namespace

void TRowReducer::AddRow(const std::uint8_t* row) {
    if (rowsAdded_ >= sourceHeight_) return;
    if (bytes_ == 3)
        AddRowSums<3>(row, sourceWidth_, 1 << shift_, sums_.data());
    else
        AddRowSums<4>(row, sourceWidth_, 1 << shift_, sums_.data());
    ++rowsAdded_;
    ++rowsInBlock_;
    if (rowsInBlock_ == (1 << shift_) || rowsAdded_ == sourceHeight_) Flush();
}

void TRowReducer::Flush() {
    const int n = 1 << shift_;
    const int blockTop = (rowsAdded_ - 1) >> shift_ << shift_;
    const int blockRows = std::min(n, sourceHeight_ - blockTop);
    std::uint8_t* out = bitmap_->Row(blockTop >> shift_);
    std::uint32_t* sum = sums_.data();
    const std::size_t bytes = static_cast<std::size_t>(bitmap_->Width()) * bytes_;
    // Every square but the last of the row is whole.
    const std::size_t whole = static_cast<std::size_t>(sourceWidth_ >> shift_) * bytes_;
    const auto full = static_cast<std::uint32_t>(blockRows * n);
    const auto last = static_cast<std::uint32_t>(blockRows * (sourceWidth_ - (bitmap_->Width() - 1) * n));
    for (std::size_t i = 0; i < bytes; ++i) {
        out[i] = static_cast<std::uint8_t>(sum[i] / (i < whole ? full : last));
        sum[i] = 0;
    }
    rowsInBlock_ = 0;
}

TRef<TBitmap> TRowReducer::Finish() {
    if (rowsInBlock_ > 0) Flush();
    return bitmap_;
}

TBitmap::TBitmap(int width, int height, TPixelFormat format, bool zeroed)
    : width_(width), height_(height), format_(format) {
    if (!PictureSizeAllowed(width, height) || BytesPerPixel(format) == 0)
        throw EImageError("Picture size not supported: " + std::to_string(width) + " x " +
                          std::to_string(height));
    stride_ = static_cast<std::ptrdiff_t>(width) * BytesPerPixel(format);
    const std::size_t bytes = static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height);
    owned_ = zeroed ? std::make_unique<std::uint8_t[]>(bytes)
                    : std::make_unique_for_overwrite<std::uint8_t[]>(bytes);
    pixels_ = owned_.get();
}

TBitmap::TBitmap(int width, int height, TPixelFormat format, std::uint8_t* pixels, std::ptrdiff_t stride,
                 TRef<TRefObject> keeper)
    : width_(width), height_(height), format_(format), stride_(stride), pixels_(pixels),
      keeper_(std::move(keeper)) {}

void TBitmap::Fill32(std::uint32_t argb) {
    if (format_ != TPixelFormat::Bgra32) return;
    std::uint8_t pixel[4];
    std::memcpy(pixel, &argb, 4); // little-endian: B, G, R, A
    for (int y = 0; y < height_; ++y) {
        std::uint8_t* row = Row(y);
        for (int x = 0; x < width_; ++x)
            std::memcpy(row + x * 4, pixel, 4);
    }
}

namespace {

// Reads one pixel of any format as blue, green, red, alpha.
inline void ReadPixel(TPixelFormat format, const std::uint8_t* p, std::uint8_t out[4]) {
    switch (format) {
    case TPixelFormat::Grey8:
        out[0] = out[1] = out[2] = p[0];
        out[3] = 255;
        break;
    case TPixelFormat::Rgb555: {
        const unsigned v = p[0] | (p[1] << 8);
        const unsigned b = v & 31, g = (v >> 5) & 31, r = (v >> 10) & 31;
        out[0] = static_cast<std::uint8_t>((b << 3) | (b >> 2));
        out[1] = static_cast<std::uint8_t>((g << 3) | (g >> 2));
        out[2] = static_cast<std::uint8_t>((r << 3) | (r >> 2));
        out[3] = 255;
        break;
    }
    case TPixelFormat::Rgb565: {
        const unsigned v = p[0] | (p[1] << 8);
        const unsigned b = v & 31, g = (v >> 5) & 63, r = (v >> 11) & 31;
        out[0] = static_cast<std::uint8_t>((b << 3) | (b >> 2));
        out[1] = static_cast<std::uint8_t>((g << 2) | (g >> 4));
        out[2] = static_cast<std::uint8_t>((r << 3) | (r >> 2));
        out[3] = 255;
        break;
    }
    case TPixelFormat::Bgr24:
        out[0] = p[0];
        out[1] = p[1];
        out[2] = p[2];
        out[3] = 255;
        break;
    case TPixelFormat::Bgra32:
        std::memcpy(out, p, 4);
        break;
    case TPixelFormat::None:
        break;
    }
}

} // namespace

TRef<TBitmap> ConvertBitmap(const TBitmap& source, TPixelFormat format) {
    if (format != source.Format() && format != TPixelFormat::Bgr24 && format != TPixelFormat::Bgra32 &&
        format != TPixelFormat::Grey8)
        return nullptr;
    auto target = MakeRef<TBitmap>(source.Width(), source.Height(), format, false);
    const TPixelFormat from = source.Format();
    const int inBytes = BytesPerPixel(from);
    const int outBytes = BytesPerPixel(format);
    for (int y = 0; y < source.Height(); ++y) {
        const std::uint8_t* in = source.Row(y);
        std::uint8_t* out = target->Row(y);
        if (from == format) {
            std::memcpy(out, in, target->RowBytes());
            continue;
        }
        if (from == TPixelFormat::Bgr24 && format == TPixelFormat::Bgra32) {
            for (int x = 0; x < source.Width(); ++x, in += 3, out += 4) {
                out[0] = in[0];
                out[1] = in[1];
                out[2] = in[2];
                out[3] = 255;
            }
            continue;
        }
        std::uint8_t bgra[4];
        for (int x = 0; x < source.Width(); ++x, in += inBytes, out += outBytes) {
            ReadPixel(from, in, bgra);
            if (format == TPixelFormat::Grey8)
                out[0] = static_cast<std::uint8_t>((bgra[2] * 77 + bgra[1] * 150 + bgra[0] * 29) >> 8);
            else
                std::memcpy(out, bgra, static_cast<std::size_t>(outBytes));
        }
    }
    target->SetLevel(source.Level());
    target->SetName(source.Name());
    return target;
}

TRef<TBitmap> RotateBitmap(TBitmap& source, int orientation) {
    if (orientation != 3 && orientation != 6 && orientation != 8) return TRef<TBitmap>::Share(&source);
    const int w = source.Width(), h = source.Height();
    const int bpp = BytesPerPixel(source.Format());
    const bool swap = orientation != 3;
    auto target = MakeRef<TBitmap>(swap ? h : w, swap ? w : h, source.Format(), false);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* in = source.Row(y);
        for (int x = 0; x < w; ++x, in += bpp) {
            int tx, ty;
            if (orientation == 3) {
                tx = w - 1 - x;
                ty = h - 1 - y;
            } else if (orientation == 6) { // clockwise: the left column becomes the top row
                tx = h - 1 - y;
                ty = x;
            } else {
                tx = y;
                ty = w - 1 - x;
            }
            std::memcpy(target->Row(ty) + tx * bpp, in, static_cast<std::size_t>(bpp));
        }
    }
    target->SetLevel(source.Level());
    target->SetName(source.Name());
    return target;
}

TRef<TBitmap> ReduceBitmap(const TBitmap& source) {
    const int bpp = BytesPerPixel(source.Format());
    if (bpp != 3 && bpp != 4) throw EImageError("Reduction needs a 24- or 32-bit picture");
    const int sw = source.Width(), sh = source.Height();
    const int dw = (sw + 1) / 2, dh = (sh + 1) / 2;
    auto target = MakeRef<TBitmap>(dw, dh, source.Format(), true);
    // Vertical 1 2 1 sums of three source rows, one entry per source byte, with one clamped column
    // of padding on each side so the horizontal pass needs no edge tests.
    const std::size_t rowBytes = static_cast<std::size_t>(sw) * bpp;
    std::vector<std::uint16_t> sums(rowBytes + 2 * static_cast<std::size_t>(bpp));
    std::uint16_t* mid = sums.data() + bpp;
    for (int y = 0; y < dh; ++y) {
        if (source.Progress() && !source.Progress()()) break;
        const std::uint8_t* r0 = source.Row(std::max(2 * y - 1, 0));
        const std::uint8_t* r1 = source.Row(2 * y);
        const std::uint8_t* r2 = source.Row(std::min(2 * y + 1, sh - 1));
        for (std::size_t i = 0; i < rowBytes; ++i)
            mid[i] = static_cast<std::uint16_t>(r0[i] + 2 * r1[i] + r2[i]);
        for (int c = 0; c < bpp; ++c) {
            mid[c - bpp] = mid[c];
            mid[rowBytes + c] = mid[rowBytes - bpp + c];
        }
        std::uint8_t* out = target->Row(y);
        for (int x = 0; x < dw; ++x) {
            const std::uint16_t* centre = mid + static_cast<std::ptrdiff_t>(2 * x) * bpp;
            for (int c = 0; c < bpp; ++c)
                *out++ = static_cast<std::uint8_t>((centre[c - bpp] + 2 * centre[c] + centre[c + bpp]) >> 4);
        }
    }
    return target;
}

} // namespace kiv
