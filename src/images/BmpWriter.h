// Writes pictures as Windows bitmap files: 24 bits per pixel, bottom-up rows padded to four bytes,
// a 40-byte info header at 96 dpi. Pictures with alpha are written over white.
#pragma once

#include "images/Bitmap.h"

#include <cstdint>
#include <vector>

namespace kiv {

// The file's bytes. Raises EImageError when the picture is too large for the format (a file
// above 4 GiB).
std::vector<std::uint8_t> EncodeBmp(const TBitmap& bitmap);

} // namespace kiv
