#include "images/PngStore.h"

#include "base/Log.h"
#include "images/PictureLoader.h"

#include <png.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace kiv {

namespace {

struct TMemoryReader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position = 0;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t count) {
    auto* reader = static_cast<TMemoryReader*>(png_get_io_ptr(png));
    if (count > reader->size - reader->position) png_error(png, "PNG data ends early");
    std::memcpy(out, reader->data + reader->position, count);
    reader->position += count;
}

void ErrorToJump(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void QuietWarning(png_structp, png_const_charp) {}

// The conversions that turn any PNG into 8-bit BGR or BGRA; returns that format.
TPixelFormat SetUpConversions(png_structp png, png_infop info) {
    const int colorType = png_get_color_type(png, info);
    const bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    png_set_expand(png); // palette to RGB, grey below 8 bits to 8, transparent colour to alpha
    png_set_strip_16(png);
    if (!(colorType & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return alpha ? TPixelFormat::Bgra32 : TPixelFormat::Bgr24;
}

struct TPngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    TMemoryReader memory;
    TRef<TBitmap> bitmap;
    std::vector<png_bytep> rows;
    std::unique_ptr<TRowReducer> reducer; // pictures beyond the limit, reduced while read
    std::vector<std::uint8_t> row;

    TPngReader(const std::uint8_t* data, std::size_t size) : memory{data, size} {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, ErrorToJump, QuietWarning);
        if (png) info = png_create_info_struct(png);
        if (!info) throw EImageError("libpng set-up failed");
        png_set_read_fn(png, &memory, ReadFromMemory);
    }
    ~TPngReader() { png_destroy_read_struct(&png, &info, nullptr); }
};

} // namespace

bool ReadPngInfo(const std::uint8_t* data, std::size_t size, TPngInfo& result) {
    if (size < 8 || png_sig_cmp(data, 0, 8) != 0) return false;
    const auto reader = std::make_unique<TPngReader>(data, size);
    png_structp png = reader->png;
    png_infop info = reader->info;
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    // Beyond the limit a picture is reduced while its rows are read, which interlaced files, whose
    // passes each cover the whole picture, do not allow.
    if (width > static_cast<png_uint_32>(kMaxPictureSide) ||
        height > static_cast<png_uint_32>(kMaxPictureSide))
        return false;
    if (!PictureSizeAllowed(width, height) && png_get_interlace_type(png, info) != PNG_INTERLACE_NONE)
        return false;
    result.width = static_cast<int>(width);
    result.height = static_cast<int>(height);
    result.format = SetUpConversions(png, info);
    return png_get_rowbytes(png, info) == static_cast<std::size_t>(width) * BytesPerPixel(result.format);
}

TRef<TBitmap> DecodePng(const std::uint8_t* data, std::size_t size, int shift) {
    if (size < 8 || png_sig_cmp(data, 0, 8) != 0) throw EImageError("No PNG signature");
    const auto reader = std::make_unique<TPngReader>(data, size);
    png_structp png = reader->png;
    png_infop info = reader->info;
    if (setjmp(png_jmpbuf(png))) {
        if (reader->reducer) return reader->reducer->Finish();
        if (!reader->bitmap) throw EImageError("PNG header unreadable");
        return reader->bitmap; // the rows read so far; the rest stays zero
    }
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    if (shift < 0 || shift > 30) throw EImageError("PNG reduction not supported");
    const std::int64_t n = std::int64_t{1} << shift;
    if (!PictureSizeAllowed((width + n - 1) / n, (height + n - 1) / n))
        throw EImageError("PNG size not supported");
    if (shift > 0 && png_get_interlace_type(png, info) != PNG_INTERLACE_NONE)
        throw EImageError("Interlaced PNG cannot be reduced while read");
    const TPixelFormat format = SetUpConversions(png, info);
    if (png_get_rowbytes(png, info) != static_cast<std::size_t>(width) * BytesPerPixel(format))
        throw EImageError("PNG row layout not supported");
    if (shift > 0) {
        reader->reducer =
            std::make_unique<TRowReducer>(static_cast<int>(width), static_cast<int>(height), format, shift);
        reader->row.resize(png_get_rowbytes(png, info));
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(png, reader->row.data(), nullptr);
            reader->reducer->AddRow(reader->row.data());
        }
        png_read_end(png, nullptr);
        return reader->reducer->Finish();
    }
    reader->bitmap = MakeRef<TBitmap>(static_cast<int>(width), static_cast<int>(height), format, true);
    reader->rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y)
        reader->rows[y] = reader->bitmap->Row(static_cast<int>(y));
    png_read_image(png, reader->rows.data());
    png_read_end(png, nullptr);
    return reader->bitmap;
}

TImageLibStore::TImageLibStore(std::string name, std::vector<std::uint8_t> data, int width, int height,
                               TPixelFormat format, TRotationQuery query, void* context)
    : TSysBitmapStore(std::move(name), width, height, format, query, context), data_(std::move(data)),
      rawWidth_(width), rawHeight_(height) {}

TRef<TBitmap> TImageLibStore::ReadSourceLevel(int level, TPixelFormat) {
    // A picture beyond the limit serves every level up to the reduction that fits from the file,
    // reduced while read; levels below it are halved as usual.
    const int shift = ReductionWithinLimit(rawWidth_, rawHeight_);
    if (level > std::max(shift, 0) || data_.empty()) return nullptr;
    TRef<TBitmap> bitmap;
    try {
        bitmap = DecodePng(data_.data(), data_.size(), shift);
    } catch (const EImageError& error) {
        // The header was readable at load time; keep the store consistent with an empty picture.
        TLog::Line("PNG decoding failed for " + Name() + ": " + error.what());
        const int n = 1 << shift;
        bitmap = MakeRef<TBitmap>((rawWidth_ + n - 1) / n, (rawHeight_ + n - 1) / n, Format(), true);
    }
    if (shift == 0) data_ = {};
    return bitmap;
}

TRef<TBitmapStore> LoadPngPicture(TStream& stream, const std::string& name, TRotationQuery query,
                                  void* context) {
    return DecodeOrRewind(stream, [&]() -> TRef<TBitmapStore> {
        std::vector<std::uint8_t> data = ReadRest(stream, kMaxPictureFileBytes);
        TPngInfo info;
        if (ReadPngInfo(data.data(), data.size(), info))
            return MakeRef<TImageLibStore>(name, std::move(data), info.width, info.height, info.format, query,
                                           context);
        return nullptr;
    });
}

} // namespace kiv
