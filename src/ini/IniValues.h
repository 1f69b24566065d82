// The rules that read and write typed values in the INI text format, on plain text. The document
// classes (IniFile.h) apply them to stored values; other code may use them on text it holds.
// Integers follow base/NumberText.h (ParseInt32 / ParseInt64).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// Real rule: optional leading spaces, one optional sign, decimal digits with at most one ".",
// then optionally "E"/"e" and a 32-bit integer exponent; nothing else may follow. The value is
// digits x 10^(exponent - digits after the point), correctly rounded ("0.1" is the nearest double,
// "1e3" is 1000). No digits, any other character, or a value too large for a double: nullopt.
// A value too small for a double reads as zero.
std::optional<double> ParseIniReal(std::string_view text);

// Fixed notation with 16 digits after the point, then trailing zeros and a bare trailing point
// removed: 1.5 -> "1.5", 2 -> "2". Infinities and NaN write "inf", "-inf", "nan" (which read back
// as the caller's default).
std::string FormatIniReal(double value);

// Boolean rule: exactly "0" (false) or "1" (true); anything else is nullopt.
std::optional<bool> ParseIniBool(std::string_view text);

// Index of `text` in `words`, compared exactly or by simple case folding; nullopt without a match.
std::optional<int> ParseIniChoice(std::string_view text, std::span<const std::string_view> words,
                                  bool ignoreCase);

// Splits at every `separator` (no quoting). An empty text has no parts; "a," has two.
std::vector<std::string_view> SplitIniList(std::string_view text, char separator);

// Escaped text: "\\" is one backslash and "\n" is CR LF. Any other backslash pair, or a backslash
// at the end, makes the whole text invalid (nullopt).
std::optional<std::string> UnescapeIniText(std::string_view text);

// The inverse: each CR, LF, CR LF or LF CR becomes "\n", each backslash "\\"; every other
// character below 32 is dropped.
std::string EscapeIniText(std::string_view text);

} // namespace kiv
