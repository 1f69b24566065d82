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

// Decodes a bitmap file held in memory. Raises EImageError for anything it does not support,
// for truncated pixel data and for sizes beyond the picture limit. Run-length data that ends
// early leaves the rest of the picture black. Uncompressed 32-bit pictures whose fourth bytes are
// all zero (writers that leave it unused) come out opaque.
TRef<TBitmap> DecodeBmp(const std::uint8_t* data, std::size_t size);

// The bitmap loader: a TWrapperBitmapStore over the decoded file, or null.
TRef<TBitmapStore> LoadBmpPicture(TStream& stream, const std::string& name, TRotationQuery query,
                                  void* context);

} // namespace kiv
