// The placeholder picture shown where a picture (or video) of a show is missing or broken, so that
// a slide still shows where the picture should be and why it is not there. Two lines of text, each
// with a space before and after:
//   " Image load error: " (the file opened but did not decode) or " Image not found " (it did not
//   open) — for videos " Video load error: " / " Video not found "
//   " <the file name without its folder> "
//
// Layout: the default sans font of fontconfig at 20 pixels, drawn with FreeType in RGB(100, 100,
// 100) on RGB(230, 230, 230), each line centred; a margin of half a line all round and a one-pixel
// frame in the darker grey. The picture is as large as its text needs. Without any font the frame
// and background are drawn at 200 × 60 pixels and the text is left out.
#pragma once

#include "images/BitmapStore.h"

#include <string>
#include <string_view>
#include <vector>

namespace kiv {

enum class TPlaceholderKind { Image, Video };

inline constexpr std::uint32_t kPlaceholderBackground = 0xFFE6E6E6; // RGB(230, 230, 230)
inline constexpr std::uint32_t kPlaceholderInk = 0xFF646464;        // RGB(100, 100, 100)

// True for names of video files (by extension, without regard to case; a "|" part ignored).
bool IsVideoName(std::string_view name);

// The two lines for `name`; `opened` tells whether the file opened.
std::vector<std::string> PlaceholderLines(std::string_view name, TPlaceholderKind kind, bool opened);

// The placeholder as a store of one 32-bit BGRA bitmap named `name`. Thread-safe.
TRef<TBitmapStore> MakePlaceholderStore(std::string_view name, TPlaceholderKind kind, bool opened);

} // namespace kiv
