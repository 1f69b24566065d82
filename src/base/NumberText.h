// Reading and writing numbers in project text. Integers: optional leading spaces and backspace
// characters, one optional "+" or "-", then only decimal digits to the end; anything else, or a
// value outside the type's range, gives the caller's default.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kiv {

std::optional<std::int32_t> ParseInt32(std::string_view text);
std::optional<std::int64_t> ParseInt64(std::string_view text);

inline std::int32_t ParseInt32(std::string_view text, std::int32_t fallback) {
    return ParseInt32(text).value_or(fallback);
}
inline std::int64_t ParseInt64(std::string_view text, std::int64_t fallback) {
    return ParseInt64(text).value_or(fallback);
}

// Rounds to the nearest integer, halves to even (the player's floating-point rounding mode).
std::int64_t RoundHalfEven(double value);

} // namespace kiv
