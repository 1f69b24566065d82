#include "images/GfxImage.h"

#include "base/Log.h"
#include "base/NumberText.h"
#include "images/BmpReader.h"
#include "images/PictureLoader.h"

#include <zlib.h>

#include <cstring>

namespace kiv {

namespace {

bool ReadText(TStream& stream, std::string& text) {
    // A string needs at least its 2-byte length before it.
    if (stream.Remaining() < 2) return false;
    const std::uint16_t length = stream.ReadUInt16LE();
    if (stream.Remaining() < length) return false;
    text = stream.ReadString8(length);
    return true;
}

} // namespace

std::vector<std::uint8_t> InflateRaw(const std::uint8_t* data, std::size_t size, std::size_t limit) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) throw EZDecompressionError("inflateInit2 failed");
    std::vector<std::uint8_t> out;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(std::min<std::size_t>(size, UINT32_MAX));
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (out.size() >= limit) {
            inflateEnd(&z);
            throw EImageError("Inflated picture too large");
        }
        const std::size_t used = out.size();
        const std::size_t grow = std::min<std::size_t>(std::max<std::size_t>(used, 1 << 16), limit - used);
        out.resize(used + grow);
        z.next_out = out.data() + used;
        z.avail_out = static_cast<uInt>(grow);
        result = inflate(&z, Z_NO_FLUSH);
        out.resize(used + (grow - z.avail_out));
        if (result == Z_STREAM_END) break;
        if (result != Z_OK && !(result == Z_BUF_ERROR && z.avail_out == 0)) {
            inflateEnd(&z);
            throw EZDecompressionError("Compressed picture data damaged");
        }
        if (z.avail_in == 0 && z.avail_out != 0) {
            inflateEnd(&z);
            throw EZDecompressionError("Compressed picture data ends early");
        }
    }
    inflateEnd(&z);
    return out;
}

TGfxImage::TGfxImage(TStream& stream) {
    char magic[4];
    if (stream.Read(magic, 4) != 4 || std::memcmp(magic, "ZKGF", 4) != 0) throw EImageError("No ZKGF magic");
    if (stream.Remaining() < 2) throw EImageError("No field count");
    const std::uint16_t count = stream.ReadUInt16LE();
    for (int i = 0; i < count; ++i) {
        std::string name, value;
        if (!ReadText(stream, name) || !ReadText(stream, value)) throw EImageError("Truncated field");
        fields_.Add(name, std::move(value));
    }
    const std::string* file = fields_.Find("File");
    const std::string* width = fields_.Find("Width");
    const std::string* height = fields_.Find("Height");
    const std::string* original = fields_.Find("OriginalSize");
    if (!file || !width || !height || !original) throw EImageError("Missing field");
    const auto w = ParseInt32(*width), h = ParseInt32(*height);
    const auto size = ParseInt64(*original);
    if (!w || !h || !size) throw EImageError("Field is not an integer");
    // A declared size outside the picture limit would make an unbounded green picture.
    if (!PictureSizeAllowed(*w, *h)) throw EImageError("Declared size not supported");
    width_ = *w;
    height_ = *h;
    originalSize_ = *size;
    fileName_ = *file;
    const std::int64_t rest = stream.Remaining();
    if (rest < 0 || rest > kMaxPictureFileBytes) throw EImageError("Compressed data size not supported");
    compressed_.resize(static_cast<std::size_t>(rest));
    std::int64_t copied = 0;
    while (copied < rest) {
        const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(rest - copied, 1 << 20));
        const std::int32_t got = stream.Read(compressed_.data() + copied, want);
        if (got <= 0) break;
        copied += got;
    }
    if (copied < rest) throw EImageError("Compressed data shorter than the stream");
}

TRef<TBitmap> TGfxImage::Decode() {
    std::vector<std::uint8_t> compressed = std::move(compressed_);
    compressed_ = {};
    try {
        // The bitmap inside may differ from the declared size, but never beyond the picture limit:
        // at most 4 bytes a pixel plus headers and a palette, so a bomb cannot inflate further.
        const std::size_t limit = static_cast<std::size_t>(kMaxPicturePixels) * 4 + 4096;
        const std::vector<std::uint8_t> file = InflateRaw(compressed.data(), compressed.size(), limit);
        // A bitmap of another size than the header declares is still the picture: only data that
        // cannot be inflated or read turns green.
        TRef<TBitmap> bitmap = DecodeBmp(file.data(), file.size());
        if (bitmap->Width() != width_ || bitmap->Height() != height_)
            TLog::Line("Compressed picture " + fileName_ + " is " + std::to_string(bitmap->Width()) + " x " +
                       std::to_string(bitmap->Height()) + ", declared " + std::to_string(width_) + " x " +
                       std::to_string(height_));
        return ConvertBitmap(*bitmap, TPixelFormat::Bgra32);
    } catch (const std::exception& error) {
        TLog::Line("Damaged compressed picture " + fileName_ + ": " + error.what());
    }
    auto green = MakeRef<TBitmap>(width_, height_, TPixelFormat::Bgra32, false);
    green->Fill32(0xFF00FF00);
    return green;
}

TGfxBitmapStore::TGfxBitmapStore(std::string name, TRef<TGfxImage> image, TRotationQuery query, void* context)
    : TSysBitmapStore(std::move(name), image->Width(), image->Height(), TPixelFormat::Bgra32, query, context),
      image_(std::move(image)) {}

TRef<TBitmap> TGfxBitmapStore::ReadSourceLevel(int level, TPixelFormat) {
    if (level != 0) return nullptr;
    return image_->Decode();
}

TRef<TBitmapStore> LoadGfxPicture(TStream& stream, const std::string& name, TRotationQuery query,
                                  void* context) {
    return DecodeOrRewind(stream, [&]() -> TRef<TBitmapStore> {
        auto image = MakeRef<TGfxImage>(stream);
        return MakeRef<TGfxBitmapStore>(name, std::move(image), query, context);
    });
}

} // namespace kiv
