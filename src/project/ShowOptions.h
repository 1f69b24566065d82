// The show-wide options of a project's [Main] and [Times] sections that the show project itself
// reads, the screen-saver writes, and the lookup of a slide's section. Everything here reads the
// document as it stands; only WriteScreenSaverOptions changes it (in memory).
#pragma once

#include "ini/IniFile.h"

#include <cstdint>
#include <string_view>

namespace kiv {

// Largest slide count a project may declare; a larger one is refused when the show is opened so that
// no text can make the player allocate or walk billions of slide records.
inline constexpr std::int32_t kMaxSlideCount = 100000;

// What happens after the last slide (`opt_repeat`).
enum class TEndMode : std::uint8_t { Repeat = 0, Close = 1, Stop = 2 };

// The end-mode word as the project writes it: "repeat", "close", "stop".
std::string_view EndModeWord(TEndMode mode);

// Colour of the letterbox bars, the three bytes of a 0x00BBGGRR value.
struct THiderColor {
    std::uint8_t blue = 0;
    std::uint8_t green = 0;
    std::uint8_t red = 0;
};

struct TShowOptions {
    std::int32_t designWidth = 1920;  // opt_scr_width
    std::int32_t designHeight = 1080; // opt_scr_height
    TEndMode endMode = TEndMode::Repeat;
    bool pauseWhenInactive = true;
    THiderColor hiderColor;
    float unsharpAmount = 0;
    // opt_slidescount of [Times] as written (may be negative or huge; see ReadShowOptions).
    std::int32_t declaredSlideCount = 0;
};

// Reads the options with their defaults; missing sections give the defaults.
TShowOptions ReadShowOptions(const TIniFile& document);

// The slide count of [Times] as the player uses it: negative counts read as 0, counts above
// kMaxSlideCount as kMaxSlideCount (the show project refuses such a show; other readers stay safe).
std::int32_t ReadSlideCount(const TIniFile& document);

// True when the program's own file name ends in the extension ".scr" (any case). Folders (after
// "/" or "\") are not part of the name.
bool IsScreenSaverProgram(std::string_view programFileName);

// Writes the screen-saver options into [Main] (created when missing): in screen-saver mode
// opt_ssaver=1, opt_fcp=0, opt_hidecursor=1, opt_scr_full=1, opt_repeat=repeat; otherwise only
// opt_ssaver=0.
void WriteScreenSaverOptions(TIniFile& document, bool screenSaver);

// The section of slide `index` (counted from 0): "Slide" + (index + 1); nullptr when the project
// lacks it or the index is negative. Only reads the document.
TIniSection* SlideSection(const TIniFile& document, std::int32_t index);

// A double narrowed to a float without leaving the float range (NaN reads as 0).
float ClampToFloat(double value);

} // namespace kiv
