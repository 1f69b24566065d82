// The integer HSL conversion of the colour filters: hue, saturation and lightness on a 0-255
// scale (a full hue circle is 255 units, 42.5 per sixth).
#pragma once

namespace kiv {

struct THslColor {
    int h = 0;
    int s = 0;
    int l = 0;
};

struct TRgbColor {
    int r = 0;
    int g = 0;
    int b = 0;
};

// Channels outside 0-255 are clamped first.
THslColor RgbToHsl(int r, int g, int b) noexcept;
// Components outside 0-255 are clamped first.
TRgbColor HslToRgb(int h, int s, int l) noexcept;

} // namespace kiv
