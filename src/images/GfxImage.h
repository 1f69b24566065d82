// The framework's compressed picture format ".zkgfx" (little-endian):
//   "ZKGF", a 16-bit field count N, N pairs of strings (name, value; each a 16-bit length and that
//   many bytes of UTF-8), then a raw DEFLATE stream whose output is a Windows bitmap file.
// Required fields: "File" (the source picture's name), "Width", "Height", "OriginalSize" (decimal).
// TGfxImage keeps the compressed data in memory until level 0 is first needed; TGfxBitmapStore
// serves it in 32-bit BGRA. Damaged pixel data gives an opaque green picture of the declared size.
#pragma once

#include "base/HashList.h"
#include "images/BitmapStore.h"
#include "package/Stream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

class TGfxImage : public TRefObject {
public:
    // Reads the header and copies the rest of `stream` into memory. Raises EImageError when the
    // magic, a field or the data is missing or unreadable, or the declared size is beyond the
    // picture limit.
    explicit TGfxImage(TStream& stream);

    const std::string* Field(std::string_view name) const { return fields_.Find(name); }
    int Width() const { return width_; }
    int Height() const { return height_; }
    std::int64_t OriginalSize() const { return originalSize_; }
    const std::string& FileName() const { return fileName_; }

    // Inflates and decodes the picture (32-bit BGRA) and releases the compressed data. The result
    // has the size of the bitmap inside, even when it differs from Width × Height; data that cannot
    // be inflated or read as a bitmap gives opaque green (0xFF00FF00) of Width × Height. Called once.
    TRef<TBitmap> Decode();

private:
    THashList<std::string> fields_;
    int width_ = 0;
    int height_ = 0;
    std::int64_t originalSize_ = 0;
    std::string fileName_;
    std::vector<std::uint8_t> compressed_;
};

class TGfxBitmapStore : public TSysBitmapStore {
public:
    TGfxBitmapStore(std::string name, TRef<TGfxImage> image, TRotationQuery query, void* context);
    const char* ClassName() const override { return "TGfxBitmapStore"; }

protected:
    TRef<TBitmap> ReadSourceLevel(int level, TPixelFormat format) override;

private:
    TRef<TGfxImage> image_;
};

// Raw DEFLATE (no zlib header, 32 KB window) of `data`; raises EZDecompressionError when the data
// is damaged or ends early, and EImageError when the output would exceed `limit` bytes.
std::vector<std::uint8_t> InflateRaw(const std::uint8_t* data, std::size_t size, std::size_t limit);

// The compressed-format loader: a TGfxBitmapStore when the data starts with "ZKGF" and its header
// is complete, else null (stream put back).
TRef<TBitmapStore> LoadGfxPicture(TStream& stream, const std::string& name, TRotationQuery query,
                                  void* context);

} // namespace kiv
