#include "viewer/dialogs/PrintPage.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace kiv {

TShowRect PlacePrintedPicture(int pageWidth, int pageHeight, int width, int height) {
    int printedWidth = pageWidth;
    int printedHeight = pageHeight;
    const std::int64_t heightFitted = std::int64_t{width} * pageHeight / height;
    if (heightFitted < pageWidth)
        printedWidth = static_cast<int>(heightFitted);
    else
        printedHeight = static_cast<int>(std::int64_t{height} * pageWidth / width);
    const int left = (pageWidth - printedWidth) / 2;
    const int top = (pageHeight - printedHeight) / 2;
    return {left, top, left + printedWidth, top + printedHeight};
}

TRef<TBitmap> RenderPrintPage(const TBitmap& source, int pageWidth, int pageHeight) {
    if (source.Width() <= 0 || source.Height() <= 0 || pageWidth <= 0 || pageHeight <= 0) return nullptr;
    TRef<TBitmap> converted;
    const TBitmap* picture = &source;
    if (source.Format() != TPixelFormat::Bgra32) {
        converted = ConvertBitmap(source, TPixelFormat::Bgra32);
        if (!converted) return nullptr;
        picture = converted.Get();
    }
    TRef<TBitmap> page;
    try {
        page = MakeRef<TBitmap>(pageWidth, pageHeight, TPixelFormat::Bgra32, false);
    } catch (const EImageError&) {
        return nullptr;
    }
    page->Fill32(0xFFFFFFFF);
    const TShowRect place = PlacePrintedPicture(pageWidth, pageHeight, picture->Width(), picture->Height());
    if (place.Width() <= 0 || place.Height() <= 0) return page;

    // Source positions of each destination column and row, sampled at pixel centres, with the
    // weight of the second source pixel in 1/256.
    struct TTap {
        int i0, i1;
        std::uint32_t f;
    };
    const auto taps = [](int destination, int sourceSize) {
        std::vector<TTap> result(static_cast<std::size_t>(destination));
        const double step = static_cast<double>(sourceSize) / destination;
        for (int d = 0; d < destination; ++d) {
            const double s = std::clamp((d + 0.5) * step - 0.5, 0.0, sourceSize - 1.0);
            const int i0 = static_cast<int>(s);
            result[static_cast<std::size_t>(d)] = {i0, std::min(i0 + 1, sourceSize - 1),
                                                   static_cast<std::uint32_t>(std::lround((s - i0) * 256))};
        }
        return result;
    };
    const std::vector<TTap> columns = taps(place.Width(), picture->Width());
    const std::vector<TTap> rows = taps(place.Height(), picture->Height());
    for (int y = 0; y < place.Height(); ++y) {
        const TTap& row = rows[static_cast<std::size_t>(y)];
        const std::uint8_t* upper = picture->Row(row.i0);
        const std::uint8_t* lower = picture->Row(row.i1);
        std::uint8_t* out = page->Row(place.top + y) + 4 * static_cast<std::size_t>(place.left);
        for (int x = 0; x < place.Width(); ++x) {
            const TTap& column = columns[static_cast<std::size_t>(x)];
            std::uint32_t value[4];
            for (int c = 0; c < 4; ++c) {
                const std::uint32_t top =
                    upper[4 * column.i0 + c] * (256 - column.f) + upper[4 * column.i1 + c] * column.f;
                const std::uint32_t bottom =
                    lower[4 * column.i0 + c] * (256 - column.f) + lower[4 * column.i1 + c] * column.f;
                value[c] = (top * (256 - row.f) + bottom * row.f + 32768) >> 16;
            }
            // Over white paper.
            const std::uint32_t alpha = value[3];
            for (int c = 0; c < 3; ++c)
                out[4 * x + c] =
                    static_cast<std::uint8_t>((value[c] * alpha + 255 * (255 - alpha) + 127) / 255);
            out[4 * x + 3] = 255;
        }
    }
    return page;
}

} // namespace kiv
