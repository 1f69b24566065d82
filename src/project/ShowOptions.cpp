#include "project/ShowOptions.h"

#include "base/CaseFold.h"

#include <array>
#include <cmath>
#include <limits>
#include <string>

namespace kiv {

namespace {

constexpr std::array<std::string_view, 3> kEndModeWords = {"repeat", "close", "stop"};

} // namespace

std::string_view EndModeWord(TEndMode mode) {
    return kEndModeWords[static_cast<std::size_t>(mode)];
}

TShowOptions ReadShowOptions(const TIniFile& document) {
    TShowOptions options;
    const TIniSection* main = document.FindSection("Main");
    const TIniSection* times = document.FindSection("Times");
    if (main) {
        options.designWidth = main->GetInt32("opt_scr_width", 1920);
        options.designHeight = main->GetInt32("opt_scr_height", 1080);
        options.pauseWhenInactive = main->GetBool("opt_pausewheninactive", true);
        options.endMode = static_cast<TEndMode>(main->GetChoice("opt_repeat", kEndModeWords, true, 0));
        const auto hider = static_cast<std::uint32_t>(main->GetInt32("opt_scr_hidercolor", 0));
        options.hiderColor.blue = static_cast<std::uint8_t>(hider >> 16);
        options.hiderColor.green = static_cast<std::uint8_t>(hider >> 8);
        options.hiderColor.red = static_cast<std::uint8_t>(hider);
        options.unsharpAmount = ClampToFloat(main->GetReal("opt_scr_unsharpamount", 0));
    }
    if (times) options.declaredSlideCount = times->GetInt32("opt_slidescount", 0);
    return options;
}

std::int32_t ReadSlideCount(const TIniFile& document) {
    const TIniSection* times = document.FindSection("Times");
    const std::int32_t count = times ? times->GetInt32("opt_slidescount", 0) : 0;
    if (count < 0) return 0;
    return count > kMaxSlideCount ? kMaxSlideCount : count;
}

bool IsScreenSaverProgram(std::string_view programFileName) {
    const std::size_t folder = programFileName.find_last_of("/\\");
    const std::string_view name =
        folder == std::string_view::npos ? programFileName : programFileName.substr(folder + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return false;
    return FoldUtf8(name.substr(dot)) == ".scr";
}

void WriteScreenSaverOptions(TIniFile& document, bool screenSaver) {
    TIniSection* main = document.FindOrCreateSection("Main");
    if (!screenSaver) {
        main->SetText("opt_ssaver", "0");
        return;
    }
    main->SetText("opt_ssaver", "1");
    main->SetText("opt_fcp", "0");
    main->SetText("opt_hidecursor", "1");
    main->SetText("opt_scr_full", "1");
    main->SetText("opt_repeat", "repeat");
}

TIniSection* SlideSection(const TIniFile& document, std::int32_t index) {
    if (index < 0 || index == std::numeric_limits<std::int32_t>::max()) return nullptr;
    return document.FindSection("Slide" + std::to_string(index + 1));
}

float ClampToFloat(double value) {
    if (std::isnan(value)) return 0;
    constexpr double kMax = std::numeric_limits<float>::max();
    if (value > kMax) return std::numeric_limits<float>::max();
    if (value < -kMax) return -std::numeric_limits<float>::max();
    return static_cast<float>(value);
}

} // namespace kiv
