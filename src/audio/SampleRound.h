// Rounding of scaled samples as std::lround rounds them (to the nearest, halves away from zero),
// inline instead of a library call per sample: the mix rounds every sample that a gain scales.
#pragma once

#include <cmath>

namespace kiv {

inline long RoundHalfAway(double value) {
    // Beyond 2^52 every double is whole already; NaN and the far range keep the library's answer.
    if (!(std::fabs(value) < 4503599627370496.0)) return std::lround(value);
    const auto whole = static_cast<long>(value);            // towards zero
    const double rest = value - static_cast<double>(whole); // exact: the fraction of `value`
    // Without branches: the fractions of scaled samples fall either way at random.
    return whole + static_cast<long>(rest >= 0.5) - static_cast<long>(rest <= -0.5);
}

} // namespace kiv
