// The colour-depth check at start-up: a display with fewer than 16 bits per pixel cannot show a
// show. Without a display there is nothing to check.
#pragma once

#include <string_view>

namespace kiv {

inline constexpr std::string_view kColorDepthMessage =
    "Currently you have 256 or 16 colors display mode.\rSet True color or High color display mode.";

// True when a display is available and has fewer than 16 bits per pixel.
bool DisplayColorDepthTooLow();

} // namespace kiv
