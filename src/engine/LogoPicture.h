// The logo's picture made ready for drawing: halved (each side becoming (side + 1) div 2) as long as
// both sides stay at least twice the target size, and a halved picture resampled once to the target
// size, so that a large logo is neither drawn from a huge texture nor shimmers when scaled down.
#pragma once

#include "images/Bitmap.h"

namespace kiv {

struct TPictureSize {
    int width = 0;
    int height = 0;
    bool operator==(const TPictureSize&) const = default;
};

// The size after the halvings for a target of width × height pixels (not rounded).
TPictureSize HalvedLogoSize(int width, int height, double targetWidth, double targetHeight);

// A 32-bit BGRA picture: the source itself when no halving applies, else the halved picture
// resampled to round(target width) × round(target height) (each at least 1).
TRef<TBitmap> PrepareLogo(const TBitmap& source, double targetWidth, double targetHeight);

} // namespace kiv
