// PNG pictures through libpng, standing in for the image library. Every PNG is delivered as 24-bit
// BGR, or 32-bit BGRA when it has an alpha channel or a transparent colour: palettes, grey, low bit
// depths and 16-bit samples are converted, interlaced files de-interlaced. The store keeps the file
// in memory and decodes level 0 straight into the picture's rows on first use; other levels are
// halved from it. A picture beyond the picture limit is reduced by the smallest power of two that
// fits while its rows are read, and that reduction serves level 0 and the levels down to it.
#pragma once

#include "images/BitmapStore.h"
#include "package/Stream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

class TImageLibStore : public TSysBitmapStore {
public:
    TImageLibStore(std::string name, std::vector<std::uint8_t> data, int width, int height,
                   TPixelFormat format, TRotationQuery query, void* context);
    const char* ClassName() const override { return "TImageLibStore"; }

protected:
    TRef<TBitmap> ReadSourceLevel(int level, TPixelFormat format) override;

private:
    std::vector<std::uint8_t> data_;
    int rawWidth_;
    int rawHeight_;
};

struct TPngInfo {
    int width = 0;
    int height = 0;
    TPixelFormat format = TPixelFormat::None;
};

// Reads the signature and header; false when they are missing or unreadable, or the picture is
// beyond the picture limit and interlaced (a picture beyond the limit is reduced while read, which
// needs its rows in order).
bool ReadPngInfo(const std::uint8_t* data, std::size_t size, TPngInfo& info);

// Decodes the whole picture, reduced by 2^shift while read when `shift` is above 0 (each pixel the
// mean of its square; non-interlaced files only). Data that breaks off or goes bad leaves the rest
// of the picture transparent black. Raises EImageError when the header is unreadable or the result
// would be beyond the picture limit.
TRef<TBitmap> DecodePng(const std::uint8_t* data, std::size_t size, int shift = 0);

// The PNG loader: a TImageLibStore, or null (stream put back).
TRef<TBitmapStore> LoadPngPicture(TStream& stream, const std::string& name, TRotationQuery query,
                                  void* context);

} // namespace kiv
