#include "images/BmpReader.h"

#include "images/PictureLoader.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace kiv {

namespace {

constexpr std::uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6;

std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

[[noreturn]] void Fail(const char* what) {
    throw EImageError(std::string("Bitmap file: ") + what);
}

// One channel of a bit-field pixel: its mask, the shift to its lowest bit and its width in bits.
struct TChannel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    explicit TChannel(std::uint32_t m) : mask(m) {
        if (!mask) return;
        while (!((mask >> shift) & 1))
            ++shift;
        while (shift + bits < 32 && ((mask >> (shift + bits)) & 1))
            ++bits;
    }
    std::uint8_t Get(std::uint32_t pixel, std::uint8_t absent) const {
        if (!bits) return absent;
        const std::uint32_t value = (pixel & mask) >> shift;
        if (bits >= 8) return static_cast<std::uint8_t>(value >> (bits - 8));
        const std::uint32_t max = (1u << bits) - 1;
        return static_cast<std::uint8_t>((value * 255 + max / 2) / max);
    }
};

struct THeader {
    std::int64_t width = 0;
    std::int64_t height = 0; // negative: top-down
    int bits = 0;
    std::uint32_t compression = kRgb;
    std::uint32_t colorsUsed = 0;
    std::uint32_t masks[4] = {0, 0, 0, 0}; // red, green, blue, alpha
    bool haveMasks = false;
    std::size_t paletteAt = 0;
    int paletteEntryBytes = 4;
};

THeader ReadHeader(const std::uint8_t* data, std::size_t size) {
    if (size < 26 || data[0] != 'B' || data[1] != 'M') Fail("no bitmap signature");
    THeader h;
    const std::uint32_t infoSize = U32(data + 14);
    const std::uint8_t* info = data + 14;
    if (infoSize == 12) {
        h.width = U16(info + 4);
        h.height = U16(info + 6);
        h.bits = U16(info + 10);
        h.paletteEntryBytes = 3;
    } else if (infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 108 || infoSize == 124) {
        if (size < 14 + static_cast<std::size_t>(infoSize)) Fail("truncated header");
        h.width = static_cast<std::int32_t>(U32(info + 4));
        h.height = static_cast<std::int32_t>(U32(info + 8));
        h.bits = U16(info + 14);
        h.compression = U32(info + 16);
        h.colorsUsed = U32(info + 32);
        std::size_t masksAt = 40;
        int maskCount = 0;
        if (h.compression == kBitFields || h.compression == kAlphaBitFields) {
            h.haveMasks = true;
            maskCount = infoSize > 40 ? (infoSize >= 56 ? 4 : 3) : (h.compression == kAlphaBitFields ? 4 : 3);
        } else if (infoSize >= 56) {
            maskCount = 4; // only the alpha mask counts for uncompressed pictures
        }
        const std::size_t masksEnd = 14 + masksAt + 4 * static_cast<std::size_t>(maskCount);
        if (masksEnd > size) Fail("truncated bit fields");
        for (int i = 0; i < maskCount; ++i)
            h.masks[i] = U32(data + 14 + masksAt + 4 * i);
        h.paletteAt = 14 + std::max<std::size_t>(infoSize, infoSize == 40 ? masksEnd - 14 : infoSize);
    } else {
        Fail("unknown info header");
    }
    if (h.paletteAt == 0) h.paletteAt = 14 + infoSize;
    // Pictures beyond the picture limit are reduced while decoded; nothing is allocated for them
    // before the pixel data is known to be all there.
    if (h.width > INT32_MAX || h.height > INT32_MAX || h.height < -INT32_MAX ||
        ReductionWithinLimit(h.width, h.height < 0 ? -h.height : h.height) < 0)
        Fail("size not supported");
    return h;
}

using TPalette = std::array<std::array<std::uint8_t, 3>, 256>;

TPalette ReadPalette(const THeader& h, const std::uint8_t* data, std::size_t size, std::size_t pixelsAt) {
    TPalette palette{};
    std::size_t count = h.colorsUsed ? h.colorsUsed : (std::size_t{1} << h.bits);
    count = std::min<std::size_t>(count, 256);
    const std::size_t end = std::min(pixelsAt, size);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = h.paletteAt + i * h.paletteEntryBytes;
        if (at + 3 > end) break;
        palette[i] = {data[at], data[at + 1], data[at + 2]};
    }
    return palette;
}

// Run-length pictures are stored bottom-up; `four` selects the 4-bit flavour.
void DecodeRle(const std::uint8_t* p, const std::uint8_t* end, const TPalette& palette, bool four,
               TBitmap& out) {
    const int w = out.Width(), hgt = out.Height();
    int x = 0, y = 0;
    auto put = [&](int index) {
        if (x < w && y < hgt) std::memcpy(out.Row(hgt - 1 - y) + 3 * x, palette[index].data(), 3);
        ++x;
    };
    while (end - p >= 2 && y < hgt) {
        const int count = p[0], value = p[1];
        p += 2;
        if (count > 0) {
            for (int i = 0; i < count && x < w; ++i)
                put(four ? ((i & 1) ? value & 15 : value >> 4) : value);
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of picture
            break;
        } else if (value == 2) { // move right and up
            if (end - p < 2) break;
            x += p[0];
            y += p[1];
            p += 2;
        } else { // a run of literal pixels, padded to a 16-bit boundary
            const std::ptrdiff_t bytes = four ? (value + 1) / 2 : value;
            const std::ptrdiff_t padded = bytes + (bytes & 1);
            if (end - p < bytes) break;
            for (int i = 0; i < value; ++i)
                put(four ? ((i & 1) ? p[i / 2] & 15 : p[i / 2] >> 4) : p[i]);
            p += std::min(padded, end - p);
        }
    }
}

} // namespace

TRef<TBitmap> DecodeBmp(const std::uint8_t* data, std::size_t size, int reduction) {
    const THeader h = ReadHeader(data, size);
    const std::size_t pixelsAt = U32(data + 10);
    if (pixelsAt >= size) Fail("no pixel data");
    const int w = static_cast<int>(h.width);
    const bool topDown = h.height < 0;
    const int hgt = static_cast<int>(topDown ? -h.height : h.height);

    if (h.compression == kRle8 || h.compression == kRle4) {
        if ((h.compression == kRle8 && h.bits != 8) || (h.compression == kRle4 && h.bits != 4) || topDown)
            Fail("unsupported run-length combination");
        if (!PictureSizeAllowed(w, hgt)) Fail("run-length picture beyond the picture limit");
        const TPalette palette = ReadPalette(h, data, size, pixelsAt);
        auto out = MakeRef<TBitmap>(w, hgt, TPixelFormat::Bgr24, true);
        DecodeRle(data + pixelsAt, data + size, palette, h.compression == kRle4, *out);
        return out;
    }

    const bool paletted = h.bits == 1 || h.bits == 4 || h.bits == 8;
    const bool plain = h.compression == kRgb;
    const bool fields = h.compression == kBitFields || h.compression == kAlphaBitFields;
    if (!(paletted && plain) && !(h.bits == 24 && plain) &&
        !((h.bits == 16 || h.bits == 32) && (plain || fields)))
        Fail("unsupported combination of bits and compression");

    const std::size_t stride = ((static_cast<std::size_t>(w) * h.bits + 31) / 32) * 4;
    if ((size - pixelsAt) / stride < static_cast<std::size_t>(hgt)) Fail("truncated pixel data");
    auto source = [&](int y) {
        return data + pixelsAt + stride * static_cast<std::size_t>(topDown ? y : hgt - 1 - y);
    };

    // Each kind of file writes its rows in its own format; a picture beyond the limit goes
    // through a reducer instead of into a bitmap of its full size.
    TPixelFormat format = TPixelFormat::Bgra32;
    std::function<void(int, std::uint8_t*)> writeRow;
    TPalette palette{};
    if (paletted) {
        palette = ReadPalette(h, data, size, pixelsAt);
        format = TPixelFormat::Bgr24;
        writeRow = [&](int y, std::uint8_t* row) {
            const std::uint8_t* in = source(y);
            const int perByte = 8 / h.bits;
            const unsigned mask = (1u << h.bits) - 1;
            for (int x = 0; x < w; ++x) {
                const int shift = 8 - h.bits * (x % perByte + 1);
                const unsigned index = (in[x / perByte] >> shift) & mask;
                std::memcpy(row + 3 * x, palette[index].data(), 3);
            }
        };
    } else if (h.bits == 24) {
        format = TPixelFormat::Bgr24;
        writeRow = [&](int y, std::uint8_t* row) { std::memcpy(row, source(y), 3 * std::size_t(w)); };
    } else if (h.bits == 16) {
        format = TPixelFormat::Rgb555;
        if (fields) {
            if (h.masks[1] == 0x7E0)
                format = TPixelFormat::Rgb565;
            else if (h.masks[1] != 0x3E0)
                Fail("unsupported 16-bit fields");
        }
        writeRow = [&](int y, std::uint8_t* row) { std::memcpy(row, source(y), 2 * std::size_t(w)); };
    } else if (plain) {
        // Writers that leave the fourth byte unused write it as zero: then the picture is opaque.
        bool anyAlpha = false;
        for (int y = 0; y < hgt && !anyAlpha; ++y) {
            const std::uint8_t* in = source(y);
            for (int x = 0; x < w && !anyAlpha; ++x)
                anyAlpha = in[4 * x + 3] != 0;
        }
        writeRow = [&, anyAlpha](int y, std::uint8_t* row) {
            std::memcpy(row, source(y), 4 * std::size_t(w));
            if (!anyAlpha)
                for (int x = 0; x < w; ++x)
                    row[4 * x + 3] = 255;
        };
    } else {
        const TChannel red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]), alpha(h.masks[3]);
        writeRow = [&, red, green, blue, alpha](int y, std::uint8_t* row) {
            const std::uint8_t* in = source(y);
            for (int x = 0; x < w; ++x) {
                const std::uint32_t pixel = U32(in + 4 * x);
                row[4 * x] = blue.Get(pixel, 0);
                row[4 * x + 1] = green.Get(pixel, 0);
                row[4 * x + 2] = red.Get(pixel, 0);
                row[4 * x + 3] = alpha.Get(pixel, 255);
            }
        };
    }

    reduction = std::max(reduction, ReductionWithinLimit(w, hgt));
    if (reduction == 0) {
        auto out = MakeRef<TBitmap>(w, hgt, format, false);
        for (int y = 0; y < hgt; ++y)
            writeRow(y, out->Row(y));
        return out;
    }
    // 16-bit rows are widened to 24 bits for the reduction.
    const bool widen = BytesPerPixel(format) == 2;
    TRowReducer reducer(w, hgt, widen ? TPixelFormat::Bgr24 : format, reduction);
    std::vector<std::uint8_t> row(std::size_t(w) * BytesPerPixel(format));
    for (int y = 0; y < hgt; ++y) {
        writeRow(y, row.data());
        if (!widen) {
            reducer.AddRow(row.data());
            continue;
        }
        const auto line = MakeRef<TBitmap>(w, 1, format, row.data(), static_cast<std::ptrdiff_t>(row.size()),
                                           TRef<TRefObject>());
        reducer.AddRow(ConvertBitmap(*line, TPixelFormat::Bgr24)->Row(0));
    }
    return reducer.Finish();
}

TRef<TBitmapStore> LoadBmpPicture(TStream& stream, const std::string& name, TRotationQuery query,
                                  void* context) {
    return DecodeOrRewind(stream, [&]() -> TRef<TBitmapStore> {
        const std::vector<std::uint8_t> data = ReadRest(stream, kMaxPictureFileBytes);
        TRef<TBitmap> bitmap = DecodeBmp(data.data(), data.size());
        return MakeRef<TWrapperBitmapStore>(name, std::move(bitmap), query, context);
    });
}

} // namespace kiv
