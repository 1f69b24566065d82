#include "objects/Hsl.h"

#include "base/NumberText.h"

#include <algorithm>
#include <cmath>

namespace kiv {

namespace {

int RoundToInt(double value) noexcept {
    return static_cast<int>(RoundHalfEven(value));
}

int Clamp255(int value) noexcept {
    return std::clamp(value, 0, 255);
}

// The usual hue-to-value function with hue in 0-255 units.
double HueToValue(double m1, double m2, double hue) noexcept {
    if (hue < 0.0) hue += 255.0;
    if (hue > 255.0) hue -= 255.0;
    if (hue < 42.5) return m1 + (m2 - m1) * hue / 42.5;
    if (hue < 127.5) return m2;
    if (hue < 170.0) return m1 + (m2 - m1) * (170.0 - hue) / 42.5;
    return m1;
}

} // namespace

THslColor RgbToHsl(int r, int g, int b) noexcept {
    r = Clamp255(r);
    g = Clamp255(g);
    b = Clamp255(b);
    const int mx = std::max({r, g, b});
    const int mn = std::min({r, g, b});
    const double l = (mx + mn) / 2.0;
    THslColor hsl;
    hsl.l = RoundToInt(l);
    if (mx == mn) return hsl;
    const double delta = mx - mn;
    const double s = l < 128.0 ? delta * 255.0 / (mx + mn) : delta * 255.0 / (511.0 - mx - mn);
    double h;
    if (r == mx) {
        h = 42.5 * ((g - b) / delta);
    } else if (g == mx) {
        h = 42.5 * (2.0 + (b - r) / delta);
    } else {
        h = 42.5 * (4.0 + (r - g) / delta);
    }
    if (h < 0.0) h += 255.0;
    if (h > 255.0) h -= 255.0;
    hsl.h = RoundToInt(h);
    hsl.s = RoundToInt(s);
    return hsl;
}

TRgbColor HslToRgb(int h, int s, int l) noexcept {
    h = Clamp255(h);
    s = Clamp255(s);
    l = Clamp255(l);
    if (s == 0) return {l, l, l};
    const double m2 = l < 128 ? l * (255.0 + s) / 65025.0 : (l + s - l * s / 255.0) / 255.0;
    const double m1 = l / 127.5 - m2;
    auto channel = [&](double hue) { return Clamp255(RoundToInt(HueToValue(m1, m2, hue) * 255.0)); };
    return {channel(h + 85.0), channel(h), channel(h - 85.0)};
}

} // namespace kiv
