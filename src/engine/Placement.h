// Placement of overlay items: a position and an alignment, both in percent from −100 to 100 across
// an area, or one of nine anchors with an offset.
#pragma once

#include "objects/PixelRect.h"

namespace kiv {

// Anchors of placements.
enum TAnchor : int {
    kAnchorLeftTop = 0,
    kAnchorTop = 1,
    kAnchorRightTop = 2,
    kAnchorRight = 3,
    kAnchorRightBottom = 4,
    kAnchorBottom = 5,
    kAnchorLeftBottom = 6,
    kAnchorLeft = 7,
    kAnchorCenter = 8,
};

// A rectangle of window pixels.
using TPlacedRect = TShowRect;

// The rectangle of a w × h item at position (px, py) and alignment (ax, ay) across `area`:
// left = round((px/100 + 1) × area width / 2) + area left − round(w × (ax + 100) / 200), top alike.
TPlacedRect PlaceItem(double px, double py, double ax, double ay, const TShowRect& area, int w, int h);
// The same by anchor (any value outside 0 … 7 is the centre) with an offset in percent.
TPlacedRect PlaceAnchored(int anchor, double offset, const TShowRect& area, int w, int h);

} // namespace kiv
