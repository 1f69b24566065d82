// Turning the bytes of a text file into UTF-8: a UTF-8 byte-order mark (EF BB BF) keeps the rest
// as it is, a UTF-16 little-endian mark (FF FE) converts the rest (an odd last byte is dropped),
// anything else is read in the ANSI code page of the projects we receive, Windows-1252.
// No other byte-order mark is recognised: UTF-16 big-endian text is read as Windows-1252.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kiv {

// Texts above this many bytes are refused.
inline constexpr std::int64_t kMaxTextBytes = 134217727;

// Decodes the bytes of a whole text file to UTF-8.
std::string DecodeTextBytes(std::string_view bytes);
// The same for bytes the caller hands over: text that is UTF-8 already (after a UTF-8 mark, or
// plain ASCII) keeps their storage instead of being copied.
std::string DecodeOwnedTextBytes(std::string bytes);

// Windows-1252 bytes to UTF-8. The five bytes the code page leaves unassigned (81, 8D, 8F, 90,
// 9D) map to the control characters of the same value, as Windows converts them.
std::string Windows1252ToUtf8(std::string_view bytes);

} // namespace kiv
