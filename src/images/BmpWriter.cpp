#include "images/BmpWriter.h"

namespace kiv {

namespace {

void Put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    out[at] = static_cast<std::uint8_t>(value);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    Put16(out, at, value & 0xFFFF);
    Put16(out, at + 2, value >> 16);
}

} // namespace

std::vector<std::uint8_t> EncodeBmp(const TBitmap& source) {
    TRef<TBitmap> converted;
    const TBitmap* bitmap = &source;
    if (source.Format() != TPixelFormat::Bgr24 && source.Format() != TPixelFormat::Bgra32) {
        converted = ConvertBitmap(source, TPixelFormat::Bgra32);
        if (!converted) throw EImageError("Picture format cannot be written as a bitmap file");
        bitmap = converted.Get();
    }
    const std::uint64_t width = static_cast<std::uint64_t>(bitmap->Width());
    const std::uint64_t height = static_cast<std::uint64_t>(bitmap->Height());
    const std::uint64_t rowBytes = (width * 3 + 3) & ~std::uint64_t{3};
    const std::uint64_t size = 54 + rowBytes * height;
    if (size > 0xFFFFFFFFu) throw EImageError("Picture too large for a bitmap file");
    std::vector<std::uint8_t> out(static_cast<std::size_t>(size), 0);
    out[0] = 'B';
    out[1] = 'M';
    Put32(out, 2, static_cast<std::uint32_t>(size));
    Put32(out, 10, 54);
    Put32(out, 14, 40);
    Put32(out, 18, static_cast<std::uint32_t>(width));
    Put32(out, 22, static_cast<std::uint32_t>(height));
    Put16(out, 26, 1);
    Put16(out, 28, 24);
    Put32(out, 34, static_cast<std::uint32_t>(rowBytes * height));
    Put32(out, 38, 3780); // 96 dpi in pixels per metre
    Put32(out, 42, 3780);
    const bool alpha = bitmap->Format() == TPixelFormat::Bgra32;
    for (std::uint64_t y = 0; y < height; ++y) {
        const std::uint8_t* src = bitmap->Row(static_cast<int>(height - 1 - y));
        std::uint8_t* dst = out.data() + 54 + y * rowBytes;
        for (std::uint64_t x = 0; x < width; ++x) {
            if (alpha) {
                const unsigned a = src[4 * x + 3];
                for (int c = 0; c < 3; ++c)
                    dst[3 * x + c] =
                        static_cast<std::uint8_t>((src[4 * x + c] * a + 255 * (255 - a) + 127) / 255);
            } else {
                dst[3 * x] = src[3 * x];
                dst[3 * x + 1] = src[3 * x + 1];
                dst[3 * x + 2] = src[3 * x + 2];
            }
        }
    }
    return out;
}

} // namespace kiv
