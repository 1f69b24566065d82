// A rectangle of whole pixels on the screen or a canvas, right and bottom excluded: the show's
// place in the window, overlay items, navigation bar pieces.
#pragma once

namespace kiv {

struct TShowRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const noexcept { return right - left; }
    int Height() const noexcept { return bottom - top; }
    bool IsEmpty() const noexcept { return right <= left || bottom <= top; }
    bool Contains(int x, int y) const noexcept { return x >= left && x < right && y >= top && y < bottom; }
    bool operator==(const TShowRect&) const = default;
};

} // namespace kiv
