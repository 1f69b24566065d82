// Helpers of the show project tests: project documents from text and show projects built over them.
#pragma once

#include "ini/IniFile.h"
#include "project/KivSource.h"
#include "support/IniText.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kiv::test {

inline TRef<TKivSource> MakeSource(TRef<TIniFile> document, std::string programFileName = "kivviewer",
                                   std::uint64_t seed = 1) {
    TKivSourceSetup setup;
    setup.document = std::move(document);
    setup.programFileName = std::move(programFileName);
    setup.random = MakeRef<TTransitionRandom>(seed);
    return MakeRef<TKivSource>(std::move(setup));
}

inline TRef<TKivSource> MakeSource(std::string_view text, std::string programFileName = "kivviewer",
                                   std::uint64_t seed = 1) {
    return MakeSource(ParseIni(text), std::move(programFileName), seed);
}

// A slide section whose transition names `effect` with its own `time` (no time when negative).
inline std::string SlideText(int number, std::string_view effect, int time, std::string_view extra = {}) {
    std::string text = "[Slide" + std::to_string(number) + "]\n";
    text += extra;
    text += "object TheEffect:AnEffect\n  ref=" + std::string(effect) + "\n";
    if (time >= 0) text += "  time=" + std::to_string(time) + "\n";
    text += "end\n";
    return text;
}

// [Times] with the given synchronisation points.
inline std::string TimesText(std::initializer_list<int> syncPoints) {
    std::string text = "[Times]\nopt_slidescount=" + std::to_string(syncPoints.size()) + "\n";
    int number = 1;
    for (const int point : syncPoints)
        text += "opt_synchpos" + std::to_string(number++) + "=" + std::to_string(point) + "\n";
    return text;
}

} // namespace kiv::test
