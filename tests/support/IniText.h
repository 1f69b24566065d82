// A project document parsed from text, as tests write them.
#pragma once

#include "ini/IniFile.h"

#include <string_view>

namespace kiv::test {

inline TRef<TIniFile> ParseIni(std::string_view text) {
    TRef<TIniFile> document = MakeRef<TIniFile>();
    document->LoadFromText(text);
    return document;
}

} // namespace kiv::test
