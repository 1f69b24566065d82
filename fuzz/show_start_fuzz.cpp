// Command lines (as the start-up and the presentation actions parse them), the start choice, the
// show name mapping and the file tables of a project, from arbitrary text.
#include "app/ShowStart.h"
#include "framework/CommandLine.h"
#include "ini/IniFile.h"
#include "package/ProjectFileTables.h"
#include "project/ShowNames.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const kiv::TCommandLine line = kiv::TCommandLine::FromText(text);
    for (const std::string& token : line.Tokens()) {
        // Tokens lose every quote.
        if (token.find('"') != std::string::npos) std::abort();
    }
    const kiv::TShowStart start = kiv::ChooseShowStart(line, "/opt/kiv/kivviewer", {});
    if (start.position < 0) std::abort();
    kiv::MapToPackageFile(start.name, [](const std::string& name) { return name.size() % 2 == 0; });
    kiv::ChangeFileExtension(text, ".kvshow");

    if (const auto mapped = kiv::TFileMap::ParseLine(text)) {
        if (mapped->first.empty() || mapped->second.empty()) std::abort();
    }
    if (const auto rotation = kiv::TRotationState::ParseLine(text)) {
        const int r = rotation->second;
        if (rotation->first.empty() || (r != 1 && r != 3 && r != 6 && r != 8)) std::abort();
    }
    kiv::TRef<kiv::TIniFile> file = kiv::MakeRef<kiv::TIniFile>();
    file->LoadFromText(text);
    for (int i = 0; i < file->SectionCount(); ++i) {
        kiv::TFileMap map;
        kiv::TRotationState rotation;
        map.Fill(*file->Section(i));
        rotation.Fill(*file->Section(i));
    }
    return 0;
}
