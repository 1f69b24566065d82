#include "base/NumberText.h"

#include <cmath>
#include <limits>

namespace kiv {

namespace {

// Reads the integer rule, refusing values outside [minValue, maxValue].
std::optional<std::int64_t> ParseBounded(std::string_view text, std::int64_t minValue, std::int64_t maxValue) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\b')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    // Accumulate negatively so that the minimum of the range is reachable.
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        const int digit = c - '0';
        if (value < (minValue + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value < -maxValue) return std::nullopt;
        value = -value;
    }
    return value;
}

} // namespace

std::optional<std::int32_t> ParseInt32(std::string_view text) {
    auto value = ParseBounded(text, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max());
    if (!value) return std::nullopt;
    return static_cast<std::int32_t>(*value);
}

std::optional<std::int64_t> ParseInt64(std::string_view text) {
    return ParseBounded(text, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max());
}

std::int64_t RoundHalfEven(double value) {
    // The default floating-point environment rounds to nearest, halves to even. Values that have
    // no 64-bit integer (NaN, infinities, huge magnitudes) are clamped instead of overflowing.
    if (std::isnan(value)) return 0;
    const double rounded = std::nearbyint(value);
    if (rounded >= 9.2233720368547758e18) return std::numeric_limits<std::int64_t>::max();
    if (rounded <= -9.2233720368547758e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(rounded);
}

} // namespace kiv
