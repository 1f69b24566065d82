// Printing through CUPS: a picture becomes one page, rendered by us at 300 dpi into the printable
// area of the destination's default medium (A4 without margins for a file), laid out as
// PrintPage.h says, written as a PNG document and submitted as the job "Slideshow". A destination
// that is a path (it begins with "/") is a file: the same document is written there instead, which
// is how the print path is checked without a printer.
#pragma once

#include "images/Bitmap.h"

#include <string>
#include <vector>

namespace kiv {

inline constexpr int kPrintDpi = 300;
inline constexpr const char* kPrintJobName = "Slideshow";

struct TPrintDestination {
    std::string name;
    bool isDefault = false;
};

// The destinations CUPS knows. Empty with `error` set when the print service does not answer or
// knows no printer.
std::vector<TPrintDestination> PrintDestinations(std::string& error);

inline bool IsFileDestination(const std::string& destination) {
    return !destination.empty() && destination[0] == '/';
}

// The printable page of a destination in pixels at 300 dpi, portrait (width below height). False
// with `error` when CUPS cannot name the destination.
bool PrintablePage(const std::string& destination, int& width, int& height, std::string& error);

// Prints the picture on `destination` (a CUPS name, empty for the default destination, or a file
// path). False with `error`, a message for the viewer, when nothing could be printed.
bool PrintPicture(const TBitmap& picture, const std::string& destination, std::string& error);

} // namespace kiv
