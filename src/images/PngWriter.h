// Writes our 32-bit BGRA pictures as 8-bit RGBA PNG files: the look at a picture or a frame that
// kivtool and the tests hand to a person or an image viewer.
#pragma once

#include "images/Bitmap.h"

#include <string>

namespace kiv {

// False when the file cannot be created or written completely. Writes at deflate level 1: at the
// default level, writing a photo took longer than decoding it, and these files are looked at, not kept.
bool WritePngFile(const TBitmap& bitmap, const std::string& path);

} // namespace kiv
