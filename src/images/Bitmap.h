// TBitmap: one picture in memory at one size, in one of the pixel formats pictures use. Rows are
// packed (stride = width × bytes per pixel), top row first. A bitmap either owns its pixels or
// wraps memory kept alive by another reference-counted object (a decoder's row buffer).
//
// Pixel formats: 24-bit BGR (blue, green, red bytes), 32-bit BGRA, 8-bit grey, and the 16-bit
// 5-5-5 / 5-6-5 layouts that only bitmap files produce (little-endian words, blue in the low bits).
#pragma once

#include "base/Exception.h"
#include "base/RefObject.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kiv {

enum class TPixelFormat { None, Grey8, Rgb555, Rgb565, Bgr24, Bgra32 };

// The kind of bitmap a caller wants: any, or one that owns its pixel memory.
enum class TBitmapClass { Any, Owned };

int BytesPerPixel(TPixelFormat format);
bool HasAlpha(TPixelFormat format);
const char* PixelFormatName(TPixelFormat format);

// The largest bitmap the decoders make: 0x4000000 pixels (67 108 864, 256 MB at 32 bits), at most
// 2^24 pixels a side (long GIF frame atlases). The limit holds for what is decoded: JPEG, PNG and
// single-frame GIF pictures beyond it are decoded reduced by a power of two that fits; other
// headers that claim more are declined before anything is allocated.
inline constexpr std::int64_t kMaxPicturePixels = 0x4000000;
inline constexpr int kMaxPictureSide = 1 << 24;
bool PictureSizeAllowed(std::int64_t width, std::int64_t height);
// The smallest reduction 2^shift (0 when none is needed) that brings a `width` × `height` picture,
// each side rounded up, within the picture limit; -1 when the size is not positive.
int ReductionWithinLimit(std::int64_t width, std::int64_t height);

// A picture that cannot be decoded. Loaders catch it and decline.
class EImageError : public Exception {
public:
    using Exception::Exception;
};

class TBitmap : public TRefObject {
public:
    // Asked between rows of long operations (reductions); false stops the operation.
    using TProgressHook = std::function<bool()>;

    // A new bitmap owning its pixels; `zeroed` clears them, otherwise the caller fills every row.
    // Raises EImageError when the size is not allowed (see PictureSizeAllowed).
    TBitmap(int width, int height, TPixelFormat format, bool zeroed = true);
    // Wraps `pixels` (rows of `stride` bytes) that `keeper` keeps alive; no copy is made.
    TBitmap(int width, int height, TPixelFormat format, std::uint8_t* pixels, std::ptrdiff_t stride,
            TRef<TRefObject> keeper);

    int Width() const { return width_; }
    int Height() const { return height_; }
    TPixelFormat Format() const { return format_; }
    std::ptrdiff_t Stride() const { return stride_; }
    bool OwnsPixels() const { return owned_ != nullptr; }
    std::uint8_t* Row(int y) { return pixels_ + y * stride_; }
    const std::uint8_t* Row(int y) const { return pixels_ + y * stride_; }
    std::uint8_t* Pixels() { return pixels_; }
    std::size_t RowBytes() const { return static_cast<std::size_t>(width_) * BytesPerPixel(format_); }

    // The pyramid level and picture name the bitmap belongs to (set by its store).
    int Level() const { return level_; }
    void SetLevel(int level) { level_ = level; }
    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

    const TProgressHook& Progress() const { return progress_; }
    void SetProgress(TProgressHook hook) { progress_ = std::move(hook); }

    // Fills every pixel with the 32-bit value 0xAARRGGBB (32-bit bitmaps only).
    void Fill32(std::uint32_t argb);

private:
    int width_;
    int height_;
    TPixelFormat format_;
    std::ptrdiff_t stride_;
    std::unique_ptr<std::uint8_t[]> owned_;
    std::uint8_t* pixels_ = nullptr;
    TRef<TRefObject> keeper_;
    int level_ = 0;
    std::string name_;
    TProgressHook progress_;
};

// Makes a picture reduced by 2^shift from source rows given one at a time, top to bottom, without
// holding the source: each destination pixel is the mean, channel by channel and truncated, of its
// 2^shift square of source pixels (the part inside the source). Rows never given count as zero.
// 24- and 32-bit pictures.
class TRowReducer {
public:
    TRowReducer(int sourceWidth, int sourceHeight, TPixelFormat format, int shift);
    // The next source row: sourceWidth pixels in the format.
    void AddRow(const std::uint8_t* row);
    // The reduced picture; a block that did not get all its rows is written as it stands.
    TRef<TBitmap> Finish();

private:
    void Flush();

    int sourceWidth_;
    int sourceHeight_;
    int shift_;
    int bytes_;
    int rowsAdded_ = 0;
    int rowsInBlock_ = 0;
    TRef<TBitmap> bitmap_;
    std::vector<std::uint32_t> sums_;
};

// A copy of `source` in `format` (its own format, 24-bit BGR, 32-bit BGRA or 8-bit grey), owning
// its pixels.
// Sources without alpha become opaque; grey is (red × 77 + green × 150 + blue × 29) / 256.
// Null when the target format is not one of those three.
TRef<TBitmap> ConvertBitmap(const TBitmap& source, TPixelFormat format);

// The picture turned as an orientation number says: 1 none, 3 half a turn, 6 a quarter turn
// clockwise, 8 a quarter turn counter-clockwise (width and height swap). Other numbers: `source`.
TRef<TBitmap> RotateBitmap(TBitmap& source, int orientation);

// Halves a picture (the pyramid step): the destination is ((width + 1) / 2) × ((height + 1) / 2)
// and each destination pixel (x, y) is the 1 2 1 / 2 4 2 / 1 2 1 weighted sum of the source pixels
// around (2x, 2y), divided by 16 and truncated, channel by channel; source positions outside the
// picture are clamped to its edges. Works on 24- and 32-bit pictures. The source's progress hook
// is asked between rows; when it says stop the rest of the destination stays as it is (zeroed).
TRef<TBitmap> ReduceBitmap(const TBitmap& source);

} // namespace kiv
