// Simple case folding of Unicode 6.1 (statuses C and S), used wherever names compare without
// regard to case: ASCII letters fold A-Z to a-z, every other code point by its mapping; code points
// without one (U+0130 and letters assigned after 6.1 among them) fold to themselves. The table is
// held in pages of 256 code points, built once on first use.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kiv {

char32_t FoldCodePoint(char32_t codePoint);

// Folds UTF-8 text. Bytes that are not valid UTF-8 are copied unchanged, so distinct byte
// strings never fold together by accident of decoding.
std::string FoldUtf8(std::string_view text);

// True when the two texts are equal after folding.
bool SameTextFolded(std::string_view a, std::string_view b);

// FNV-1a hash of the folded text; equal for texts that SameTextFolded calls equal.
std::uint32_t FoldedHash(std::string_view text);

} // namespace kiv
