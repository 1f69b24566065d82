// Rounding of scaled samples as std::lround rounds them (to the nearest, halves away from zero),
// inline instead of a library call per sample: the mix rounds every sample that a gain scales. And
// the clamping of mixed sums to 16 bits.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kiv {

inline long RoundHalfAway(double value) {
    // Beyond 2^52 every double is whole already; NaN and the far range keep the library's answer.
    if (!(std::fabs(value) < 4503599627370496.0)) return std::lround(value);
    const auto whole = static_cast<long>(value);            // towards zero
    const double rest = value - static_cast<double>(whole); // exact: the fraction of `value`
    // Without branches: the fractions of scaled samples fall either way at random.
    return whole + static_cast<long>(rest >= 0.5) - static_cast<long>(rest <= -0.5);
}

// RoundHalfAway for products whose magnitude stays below 2^31: there truncation to 32 bits is exact,
// and so is the fraction.
inline std::int32_t RoundHalfAway32(double value) {
    const auto whole = static_cast<std::int32_t>(value);
    const double rest = value - whole;
    return whole + static_cast<std::int32_t>(rest >= 0.5) - static_cast<std::int32_t>(rest <= -0.5);
}

#if defined(__SSE2__)
// RoundHalfAway32 of two products at once, in the low two lanes of the result.
inline __m128i RoundHalfAway32x2(__m128d value) {
    const __m128d whole = _mm_cvtepi32_pd(_mm_cvttpd_epi32(value));
    const __m128d rest = _mm_sub_pd(value, whole);
    const __m128d one = _mm_set1_pd(1.0);
    const __m128d up = _mm_and_pd(_mm_cmpge_pd(rest, _mm_set1_pd(0.5)), one);
    const __m128d down = _mm_and_pd(_mm_cmple_pd(rest, _mm_set1_pd(-0.5)), one);
    return _mm_cvttpd_epi32(_mm_sub_pd(_mm_add_pd(whole, up), down));
}
#endif

// out[i] = `sums[i]` clamped to -32768 ... 32767, for `count` samples.
inline void ClampTo16(const std::int32_t* sums, std::int16_t* out, std::size_t count) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // The saturating pack clamps eight sums at a time.
    for (; i + 8 <= count; i += 8) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + i));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + i + 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(low, high));
    }
#endif
    for (; i < count; ++i)
        out[i] = static_cast<std::int16_t>(std::clamp(sums[i], std::int32_t{-32768}, std::int32_t{32767}));
}

} // namespace kiv
