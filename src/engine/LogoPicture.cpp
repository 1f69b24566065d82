#include "engine/LogoPicture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv {

TPictureSize HalvedLogoSize(int width, int height, double targetWidth, double targetHeight) {
    TPictureSize size{width, height};
    if (!(targetWidth > 0) || !(targetHeight > 0)) return size;
    while (2.0 * targetWidth <= size.width && 2.0 * targetHeight <= size.height && size.width > 1 &&
           size.height > 1) {
        size.width = (size.width + 1) / 2;
        size.height = (size.height + 1) / 2;
    }
    return size;
}

namespace {

// Each destination pixel the mean of its 2 × 2 source square (the part inside the source).
TRef<TBitmap> Halve(const TBitmap& source) {
    const int w = (source.Width() + 1) / 2;
    const int h = (source.Height() + 1) / 2;
    auto result = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32, false);
    for (int y = 0; y < h; ++y) {
        const int y0 = 2 * y;
        const int y1 = std::min(y0 + 1, source.Height() - 1);
        std::uint8_t* d = result->Row(y);
        for (int x = 0; x < w; ++x, d += 4) {
            const int x0 = 2 * x;
            const int x1 = std::min(x0 + 1, source.Width() - 1);
            for (int c = 0; c < 4; ++c) {
                const int sum = source.Row(y0)[x0 * 4 + c] + source.Row(y0)[x1 * 4 + c] +
                                source.Row(y1)[x0 * 4 + c] + source.Row(y1)[x1 * 4 + c];
                d[c] = static_cast<std::uint8_t>((sum + 2) / 4);
            }
        }
    }
    return result;
}

// Bilinear resampling to w × h.
TRef<TBitmap> Resample(const TBitmap& source, int w, int h) {
    auto result = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32, false);
    const double sx = static_cast<double>(source.Width()) / w;
    const double sy = static_cast<double>(source.Height()) / h;
    for (int y = 0; y < h; ++y) {
        const double fy = std::clamp((y + 0.5) * sy - 0.5, 0.0, source.Height() - 1.0);
        const int y0 = static_cast<int>(fy);
        const int y1 = std::min(y0 + 1, source.Height() - 1);
        const double ty = fy - y0;
        std::uint8_t* d = result->Row(y);
        for (int x = 0; x < w; ++x, d += 4) {
            const double fx = std::clamp((x + 0.5) * sx - 0.5, 0.0, source.Width() - 1.0);
            const int x0 = static_cast<int>(fx);
            const int x1 = std::min(x0 + 1, source.Width() - 1);
            const double tx = fx - x0;
            for (int c = 0; c < 4; ++c) {
                const double top = source.Row(y0)[x0 * 4 + c] * (1 - tx) + source.Row(y0)[x1 * 4 + c] * tx;
                const double bottom = source.Row(y1)[x0 * 4 + c] * (1 - tx) + source.Row(y1)[x1 * 4 + c] * tx;
                d[c] = static_cast<std::uint8_t>(
                    std::clamp(std::nearbyint(top * (1 - ty) + bottom * ty), 0.0, 255.0));
            }
        }
    }
    return result;
}

} // namespace

TRef<TBitmap> PrepareLogo(const TBitmap& source, double targetWidth, double targetHeight) {
    const TPictureSize halved = HalvedLogoSize(source.Width(), source.Height(), targetWidth, targetHeight);
    if (halved.width == source.Width() && halved.height == source.Height()) {
        auto copy = MakeRef<TBitmap>(source.Width(), source.Height(), TPixelFormat::Bgra32, false);
        for (int y = 0; y < source.Height(); ++y)
            std::memcpy(copy->Row(y), source.Row(y), source.RowBytes());
        return copy;
    }
    TRef<TBitmap> picture = Halve(source);
    while (picture->Width() > halved.width)
        picture = Halve(*picture);
    const int w = std::max(1, static_cast<int>(std::nearbyint(targetWidth)));
    const int h = std::max(1, static_cast<int>(std::nearbyint(targetHeight)));
    return Resample(*picture, w, h);
}

} // namespace kiv
