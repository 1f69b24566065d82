// JPEG pictures through libjpeg-turbo. The store keeps the file in memory and decodes levels 0-3
// directly at scales 1, 1/2, 1/4 and 1/8 (higher levels are halved from level 3), in 32-bit BGRA
// when that is what the caller asks for and 24-bit BGR otherwise. A level too large for the
// picture limit is decoded at the largest of those scales within it, so it comes out smaller than
// its nominal size; the store keeps the picture's full size. The embedded ICC profile
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

// The most memory the JPEG library may take for one decoding (1 GiB). A progressive file holds the
// coefficients of its whole full-size picture, about 2 to 6 bytes a pixel; a larger need (a header
// claiming an enormous picture) makes decoding fail rather than exhaust memory.
inline constexpr std::size_t kMaxJpegWorkBytes = std::size_t{1} << 30;

// Levels 0 to this one are decoded straight from the file (scales 1, 1/2, 1/4, 1/8).
inline constexpr int kMaxJpegScaledLevel = 3;

// The level whose scaled decoding serves `level` of a `width` × `height` JPEG: `level` itself when
// its decoded size is within the picture limit, else the first smaller scale that is; -1 when no
// scale up to 1/8 fits (or the size is not positive). The limit is checked on what is decoded, so a
// panorama too large at full size still shows, at half size or less.
int JpegDecodeLevel(int width, int height, int level);

// The picture size from the header; false when the header cannot be read.
bool ReadJpegSize(const std::uint8_t* data, std::size_t size, int& width, int& height);

// Decodes at scale 1 / `denominator` (1, 2, 4 or 8) into `format` (24-bit BGR or 32-bit BGRA).
// Grey, RGB, YCbCr, CMYK and YCCK pictures are accepted. Data that breaks off or goes bad after
// the header leaves the rows not decoded mid-grey. Raises EImageError when the header is unreadable
// or the decoded (scaled) size is beyond the picture limit.
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
// gives a zero picture or one too large even at 1/8.
TRef<TBitmapStore> LoadJpegPicture(TStream& stream, const std::string& name, TRotationQuery query,
                                   void* context);

} // namespace kiv
