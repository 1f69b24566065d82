// Colour values of the project text, read into 32-bit 0xAARRGGBB.
//   "#RRGGBB" or a decimal 0x00BBGGRR (red in the low byte), optionally ",ALPHA" (decimal or
//   "#"-hexadecimal, default 255, above 255 gives 255, below 0 gives 0); a first part that is
//   neither reads as 0 (black);
//   "R,G,B" or "R,G,B,A" in decimal, each taken modulo 256 (defaults 0, 0, 0, 255);
//   any other count of comma-separated parts, the empty text included: the caller's default.
#pragma once

#include <cstdint>
#include <string_view>

namespace kiv {

std::uint32_t ReadColorValue(std::string_view text, std::uint32_t fallback);

// 0x00BBGGRR (the Windows COLORREF layout) to 0xAARRGGBB with the given alpha.
std::uint32_t ColorRefToArgb(std::uint32_t colorRef, std::uint8_t alpha = 255);

} // namespace kiv
