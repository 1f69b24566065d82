// UTF-8 <-> UTF-16 conversion and code-point decoding. Text is held as UTF-8 bytes; malformed
// sequences decode as U+FFFD and never read past the end of the input.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kiv {

inline constexpr char32_t kReplacementChar = 0xFFFD;

// Decodes the code point at `pos` and advances `pos` past it. An invalid or truncated sequence
// (overlong forms, surrogates, values above U+10FFFF) yields U+FFFD and advances by one byte.
char32_t DecodeUtf8(std::string_view text, std::size_t& pos, bool* valid = nullptr);
void AppendUtf8(std::string& out, char32_t codePoint);

std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

} // namespace kiv
