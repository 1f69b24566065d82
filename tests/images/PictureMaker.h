// Test pictures made in code: a read-only stream over bytes, and encoders for every format the
// picture loaders read (bitmap files by hand, JPEG through libjpeg's compressor, PNG through
// libpng's writer, GIF through giflib's encoder, the compressed format by hand over zlib).
// Also used by the fuzz targets and benchmarks.
#pragma once

#include "images/Bitmap.h"
#include "package/Stream.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kiv::test {

using TBytes = std::vector<std::uint8_t>;

// A read-only stream over a copy of some bytes.
class TBytesStream : public TStream {
public:
    explicit TBytesStream(TBytes bytes) : bytes_(std::move(bytes)) {}
    std::int64_t GetPosition() override { return position_; }
    void SetPosition(std::int64_t position) override;
    std::int64_t GetSize() override { return static_cast<std::int64_t>(bytes_.size()); }
    void SetSize(std::int64_t) override { throw EStreamError("read-only stream"); }
    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void*, std::int32_t) override { return 0; }

private:
    TBytes bytes_;
    std::int64_t position_ = 0;
};

// A 32-bit BGRA test picture of smooth gradients (plus a little noise when `noise` is set);
// alpha varies when `alpha` is set, else it is 255.
TRef<TBitmap> MakeGradient(int width, int height, bool alpha = false, bool noise = false);

// A bitmap file of `bits` bits per pixel and `compression` (0 plain, 1 RLE8, 2 RLE4, 3 bit fields)
// holding `indices` (for 1/4/8 bits, one index per pixel) with `palette` (BGR triples), or `pixels`
// (16-bit words for 16 bits, BGR for 24, BGRA words for 32). `topDown` writes a negative height;
// `masks` are the red, green, blue (and alpha) masks for bit fields.
struct TBmpSpec {
    int width = 0;
    int height = 0;
    int bits = 24;
    int compression = 0;
    bool topDown = false;
    std::vector<std::uint8_t> indices;
    std::vector<std::uint8_t> palette; // BGR triples
    std::vector<std::uint32_t> pixels; // one value a pixel, top row first
    std::vector<std::uint32_t> masks;
    int infoSize = 40;
};
TBytes MakeBmp(const TBmpSpec& spec);
// A 24-bit bitmap file of a BGRA picture (alpha dropped).
TBytes MakeBmp24(const TBitmap& picture);

// Raw DEFLATE of bytes.
TBytes DeflateRaw(const TBytes& data);
// A compressed-format file with the given fields around `pixelData` (already deflated).
TBytes MakeZkgfx(const std::vector<std::pair<std::string, std::string>>& fields, const TBytes& pixelData);

// JPEG of a BGRA picture at `quality`, with an ICC profile when `icc` is not empty.
TBytes EncodeJpeg(const TBitmap& picture, int quality, const TBytes& icc = {});
// JPEG of a picture made row by row, so pictures beyond the bitmap limit can be written: `row`
// fills row y (width × 4 bytes of BGRA). `progressive` writes a progressive file (libjpeg's simple
// progression script) instead of a baseline one.
TBytes EncodeJpegRows(int width, int height, int quality, bool progressive,
                      const std::function<void(int y, std::uint8_t* bgra)>& row);

// PNG of raw rows in libpng's terms (colour type, bit depth, interlace), with a palette and
// transparency when given.
struct TPngSpec {
    int width = 0;
    int height = 0;
    int colorType = 2; // PNG_COLOR_TYPE_RGB
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<TBytes> rows;          // each row exactly as PNG stores it (big-endian samples)
    std::vector<std::uint8_t> palette; // RGB triples
    std::vector<std::uint8_t> trans;   // tRNS alphas for palette entries
};
TBytes EncodePng(const TPngSpec& spec);

// GIF with a global palette and frames given as rectangles of indices.
struct TGifFrameSpec {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<std::uint8_t> indices;
    int disposal = 0;
    int transparent = -1;
    int delay = 0; // hundredths of a second
    bool interlaced = false;
};
struct TGifSpec {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> palette; // RGB triples, 256 entries
    std::vector<TGifFrameSpec> frames;
    int loopCount = -1; // -1: no NETSCAPE block
};
TBytes EncodeGif(const TGifSpec& spec);

} // namespace kiv::test
