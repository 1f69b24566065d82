// JPEG pictures through libjpeg-turbo. The store keeps the file in memory and decodes levels 0-3
// directly at scales 1, 1/2, 1/4 and 1/8 (higher levels are halved from level 3), in 32-bit BGRA
// when that is what the caller asks for and 24-bit BGR otherwise. The embedded ICC profile
// (APP2 "ICC_PROFILE" markers) becomes the store's colour profile.
#pragma once

#include "images/BitmapStore.h"
#include "package/Stream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

class TJpegBitmapStore : public TSysBitmapStore {
public:
    TJpegBitmapStore(std::string name, std::vector<std::uint8_t> data, int width, int height,
                     TRotationQuery query, void* context);
    const char* ClassName() const override { return "TJpegBitmapStore"; }

protected:
    TRef<TBitmap> ReadSourceLevel(int level, TPixelFormat format) override;

private:
    std::vector<std::uint8_t> data_;
    int rawWidth_;
    int rawHeight_;
};

// The picture size from the header; false when the header cannot be read.
bool ReadJpegSize(const std::uint8_t* data, std::size_t size, int& width, int& height);

// Decodes at scale 1 / `denominator` (1, 2, 4 or 8) into `format` (24-bit BGR or 32-bit BGRA).
// Grey, RGB, YCbCr, CMYK and YCCK pictures are accepted. Data that breaks off or goes bad after
// the header leaves the rows not decoded mid-grey. Raises EImageError when the header is unreadable
// or the size is beyond the picture limit.
TRef<TBitmap> DecodeJpeg(const std::uint8_t* data, std::size_t size, int denominator, TPixelFormat format);

// The embedded ICC profile, found by scanning the markers from the start up to the start of scan:
// the APP2 segments that carry the "ICC_PROFILE" signature, joined in the order of their chunk
// numbers (a profile of more than 64 KB spans several). Empty when there is none. Scanning
// problems are logged ("Error: duplicate $FF encountered at ", "Error: marker expected at ",
// "Jpeg Marker expected") and end the scan.
std::vector<std::uint8_t> ReadJpegProfile(const std::uint8_t* data, std::size_t size);

// Streams longer than this are not scanned for a profile (100 MB).
inline constexpr std::size_t kMaxProfileScanBytes = 104857600;

// The JPEG loader: a TJpegBitmapStore, or null (stream put back) when the header is unreadable or
// gives a zero or oversized picture.
TRef<TBitmapStore> LoadJpegPicture(TStream& stream, const std::string& name, TRotationQuery query,
                                   void* context);

} // namespace kiv
