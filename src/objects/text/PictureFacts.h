// The EXIF and IPTC fields of a picture that text macros show, read with exiv2 from the picture's
// bytes. Anything that cannot be read leaves the fields empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kiv {

struct TPictureFacts {
    std::string exifComment;         // UserComment (37510), without its character-set prefix
    std::string exifDescription;     // ImageDescription (270)
    std::string exifDateTime;        // DateTime (306) as stored, "YYYY:MM:DD HH:MM:SS"
    std::map<int, std::string> iptc; // record 2 datasets: the first value of each, as stored
};

// Reads the facts of a picture file held in memory; false (with the fields empty) when its
// metadata cannot be read.
bool ReadPictureFacts(const std::uint8_t* data, std::size_t size, TPictureFacts& facts);

// Leading and trailing spaces removed.
std::string TrimSpaces(const std::string& text);

} // namespace kiv
