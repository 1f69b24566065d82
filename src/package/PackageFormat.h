// Constants and name rules shared by the package reader and writer: the end marker of the
// trailer, the key of scrambled entries, the storage types and how a file name becomes the name of
// its directory section.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

// The four bytes that end the trailer.
inline constexpr std::string_view kPackageEndMarker = ".dne";
// The key scrambled entries are XORed with: byte i of an entry with key byte (i mod 32).
inline constexpr std::string_view kPackageKey = "5D27E0B9C4163AF8D05B9E21C7A4683F";
// The directory section that protects the package.
inline constexpr std::string_view kProtectionSection = "$protection$";
// The entry that holds the show's project text.
inline constexpr std::string_view kProjectEntryName = "Project.kiv";

enum class TEntryStorage : int { Stored = 0, Deflated = 1, Scrambled = 2 };

// The section name of an entry: "[" becomes "<", "]" becomes ">", and every character below 32
// becomes "#" and its code as two upper-case hexadecimal digits.
std::string EscapeEntryName(std::string_view name);

} // namespace kiv
