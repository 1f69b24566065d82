// Windows bitmap files (".bmp", ".dib"): the file header and an info header of 12 (OS/2), 40, 52,
// 56, 108 or 124 bytes; 1, 4 and 8 bits per pixel with a palette (expanded to 24-bit BGR), run-
// length compressed 8-bit (type 1) and 4-bit (type 2) pictures, 16 bits as 5-5-5 (uncompressed, or
// bit fields with green mask 0x3E0) or 5-6-5 (bit fields with green mask 0x7E0), 24 bits, and
// 32 bits uncompressed or with bit fields (32-bit BGRA). A negative height means top-down rows.
#pragma once

#include "images/BitmapStore.h"
#include "package/Stream.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kiv {

// Decodes a bitmap file held in memory. Raises EImageError for anything it does not support and
// for truncated pixel data. An uncompressed picture beyond the picture limit comes out reduced by
// the smallest power of two that fits (each pixel the mean of its square; 16-bit pictures then in
// 24 bits); a run-length one beyond it is refused. Run-length data that ends early leaves the rest
// of the picture black. Uncompressed 32-bit pictures whose fourth bytes are all zero (writers
// that leave it unused) come out opaque. `reduction` asks for at least that reduction (2^reduction)
// of an uncompressed picture.
TRef<TBitmap> DecodeBmp(const std::uint8_t* data, std::size_t size, int reduction = 0);

// The bitmap loader: a TWrapperBitmapStore over the decoded file, or null.
TRef<TBitmapStore> LoadBmpPicture(TStream& stream, const std::string& name, TRotationQuery query,
                                  void* context);

} // namespace kiv
