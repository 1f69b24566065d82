#include "images/JpegStore.h"

#include "base/Log.h"
#include "images/PictureLoader.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include <jpeglib.h>

namespace kiv {

namespace {

// libjpeg's default error handler ends the process; ours jumps back to the caller instead.
struct TJpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void ErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<TJpegError*>(info->err)->jump, 1);
}
void QuietMessage(j_common_ptr) {}

void InstallErrors(jpeg_decompress_struct& info, TJpegError& error) {
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = ErrorExit;
    error.manager.output_message = QuietMessage;
}

// CMYK as Adobe writes it (inverted) to BGR(A).
void CmykRow(const std::uint8_t* in, std::uint8_t* out, int width, int bytes) {
    for (int x = 0; x < width; ++x, in += 4, out += bytes) {
        const int k = in[3];
        out[0] = static_cast<std::uint8_t>(in[2] * k / 255);
        out[1] = static_cast<std::uint8_t>(in[1] * k / 255);
        out[2] = static_cast<std::uint8_t>(in[0] * k / 255);
        if (bytes == 4) out[3] = 255;
    }
}

void FillGrey(TBitmap& bitmap, int fromRow) {
    const int bytes = BytesPerPixel(bitmap.Format());
    for (int y = fromRow; y < bitmap.Height(); ++y) {
        std::uint8_t* row = bitmap.Row(y);
        std::memset(row, 128, bitmap.RowBytes());
        if (bytes == 4)
            for (int x = 0; x < bitmap.Width(); ++x)
                row[4 * x + 3] = 255;
    }
}

} // namespace

bool ReadJpegSize(const std::uint8_t* data, std::size_t size, int& width, int& height) {
    jpeg_decompress_struct info{};
    TJpegError error;
    InstallErrors(info, error);
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    width = static_cast<int>(info.image_width);
    height = static_cast<int>(info.image_height);
    jpeg_destroy_decompress(&info);
    return true;
}

TRef<TBitmap> DecodeJpeg(const std::uint8_t* data, std::size_t size, int denominator, TPixelFormat format) {
    const int bytes = format == TPixelFormat::Bgra32 ? 4 : 3;
    // Everything the decoder changes lives on the heap: automatic objects changed between setjmp
    // and longjmp would be indeterminate after the jump.
    struct TState {
        jpeg_decompress_struct info{};
        TJpegError error;
        TRef<TBitmap> bitmap;
        std::vector<std::uint8_t> cmyk;
        int rowsDone = 0;
    };
    const auto state = std::make_unique<TState>();
    jpeg_decompress_struct& info = state->info;
    InstallErrors(info, state->error);
    if (setjmp(state->error.jump)) {
        jpeg_destroy_decompress(&info);
        if (!state->bitmap) throw EImageError("JPEG header unreadable");
        FillGrey(*state->bitmap, state->rowsDone);
        return state->bitmap;
    }
    jpeg_create_decompress(&info);
    // Progressive files keep every coefficient of the full-size picture whatever the scale; past
    // this the library stops with an error instead of taking all memory.
    info.mem->max_memory_to_use = static_cast<long>(kMaxJpegWorkBytes);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    const bool isCmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = isCmyk ? JCS_CMYK : (bytes == 4 ? JCS_EXT_BGRA : JCS_EXT_BGR);
    info.scale_num = 1;
    info.scale_denom = static_cast<unsigned>(denominator);
    jpeg_calc_output_dimensions(&info);
    // The limit holds for what is decoded: a picture too large at full size still decodes at 1/2,
    // 1/4 or 1/8 when that fits.
    if (!PictureSizeAllowed(info.output_width, info.output_height)) {
        jpeg_destroy_decompress(&info);
        throw EImageError("JPEG size not supported");
    }
    state->bitmap =
        MakeRef<TBitmap>(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                         bytes == 4 ? TPixelFormat::Bgra32 : TPixelFormat::Bgr24, false);
    TBitmap& bitmap = *state->bitmap;
    if (isCmyk) state->cmyk.resize(static_cast<std::size_t>(info.output_width) * 4);
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        const int y = static_cast<int>(info.output_scanline);
        JSAMPROW row = isCmyk ? state->cmyk.data() : bitmap.Row(y);
        if (jpeg_read_scanlines(&info, &row, 1) != 1) break;
        if (isCmyk) CmykRow(state->cmyk.data(), bitmap.Row(y), bitmap.Width(), bytes);
        state->rowsDone = y + 1;
    }
    // Data that ends early is only a warning: libjpeg has filled the missing rows itself.
    if (state->rowsDone == bitmap.Height()) jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    FillGrey(bitmap, state->rowsDone);
    return state->bitmap;
}

std::vector<std::uint8_t> ReadJpegProfile(const std::uint8_t* data, std::size_t size) {
    static const char kSignature[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
    std::map<int, std::vector<std::uint8_t>> chunks;
    std::size_t pos = 0;
    bool afterStart = false;
    while (pos < size) {
        if (data[pos] != 0xFF) {
            TLog::Line("Error: marker expected at " + std::to_string(pos));
            break;
        }
        ++pos;
        bool duplicate = false;
        while (pos < size && data[pos] == 0xFF) {
            if (!duplicate) TLog::Line("Error: duplicate $FF encountered at " + std::to_string(pos));
            duplicate = true;
            ++pos;
        }
        if (pos >= size) {
            TLog::Line("Jpeg Marker expected");
            break;
        }
        const std::uint8_t marker = data[pos++];
        if (!afterStart) {
            if (marker != 0xD8) {
                TLog::Line("Jpeg Marker expected");
                break;
            }
            afterStart = true;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) break;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue; // no length
        if (size - pos < 2) break;
        const std::size_t length = (static_cast<std::size_t>(data[pos]) << 8) | data[pos + 1];
        if (length < 2 || length > size - pos) break;
        const std::uint8_t* segment = data + pos + 2;
        const std::size_t segmentSize = length - 2;
        if (marker == 0xE2 && segmentSize >= 14 && std::memcmp(segment, kSignature, 12) == 0) {
            // Bytes 12 and 13: this chunk's number and the chunk count.
            chunks.emplace(segment[12], std::vector<std::uint8_t>(segment + 14, segment + segmentSize));
        }
        pos += length;
    }
    std::vector<std::uint8_t> profile;
    for (const auto& [number, chunk] : chunks)
        profile.insert(profile.end(), chunk.begin(), chunk.end());
    return profile;
}

TJpegBitmapStore::TJpegBitmapStore(std::string name, std::vector<std::uint8_t> data, int width, int height,
                                   TRotationQuery query, void* context)
    : TSysBitmapStore(std::move(name), width, height, TPixelFormat::Bgr24, query, context),
      data_(std::move(data)), rawWidth_(width), rawHeight_(height) {}

int JpegDecodeLevel(int width, int height, int level) {
    const int needed = ReductionWithinLimit(width, height);
    if (needed < 0 || level < 0) return -1;
    const int scaled = std::max(level, needed);
    return scaled <= kMaxJpegScaledLevel ? scaled : -1;
}

TRef<TBitmap> TJpegBitmapStore::ReadSourceLevel(int level, TPixelFormat format) {
    if (level < 0 || level > kMaxJpegScaledLevel) return nullptr;
    // A level beyond the picture limit is served by the largest scaled decoding within it.
    const int scaled = JpegDecodeLevel(rawWidth_, rawHeight_, level);
    if (scaled < 0) return nullptr;
    if (scaled != level)
        TLog::Line("JPEG " + Name() + " level " + std::to_string(level) +
                   " is beyond the picture limit; decoded at 1/" + std::to_string(1 << scaled));
    const TPixelFormat decoded = format == TPixelFormat::Bgra32 ? TPixelFormat::Bgra32 : TPixelFormat::Bgr24;
    try {
        return DecodeJpeg(data_.data(), data_.size(), 1 << scaled, decoded);
    } catch (const EImageError& error) {
        // The header was readable when the picture was loaded, so this is not expected; a grey
        // picture of the level's size keeps the store consistent.
        TLog::Line("JPEG decoding failed for " + Name() + ": " + error.what());
        const int denominator = 1 << scaled;
        auto bitmap = MakeRef<TBitmap>((rawWidth_ + denominator - 1) / denominator,
                                       (rawHeight_ + denominator - 1) / denominator, decoded, false);
        FillGrey(*bitmap, 0);
        return bitmap;
    }
}

TRef<TBitmapStore> LoadJpegPicture(TStream& stream, const std::string& name, TRotationQuery query,
                                   void* context) {
    return DecodeOrRewind(stream, [&]() -> TRef<TBitmapStore> {
        std::vector<std::uint8_t> data = ReadRest(stream, kMaxPictureFileBytes);
        int width = 0, height = 0;
        if (ReadJpegSize(data.data(), data.size(), width, height) && JpegDecodeLevel(width, height, 0) >= 0) {
            TRef<TColorProfile> profile;
            if (data.size() <= kMaxProfileScanBytes)
                profile = ProfileFromData(ReadJpegProfile(data.data(), data.size()), name);
            auto store = MakeRef<TJpegBitmapStore>(name, std::move(data), width, height, query, context);
            store->SetProfile(std::move(profile));
            return store;
        }
        return nullptr;
    });
}

} // namespace kiv
