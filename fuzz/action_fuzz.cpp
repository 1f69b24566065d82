// Action words and the command texts of program-start actions, as a show may write them: parsing,
// the prohibited check, the file and parameter split, argument splitting and show command lines.
// Nothing is started.
#include "viewer/ActionInfo.h"
#include "viewer/CommandLine.h"
#include "viewer/ProgramRunner.h"
#include "viewer/ShowSwitcher.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const kiv::TKivActionInfo action = kiv::ParseActionWord(text);
    if (action.text.size() > text.size()) std::abort();
    for (const std::string& command : kiv::SplitCommands(text)) {
        const bool prohibited = kiv::IsProhibitedCommand(command);
        // A ">" anywhere always refuses the command.
        if (command.find('>') != std::string::npos && !prohibited) std::abort();
        const kiv::TCommandParts parts = kiv::SplitFileAndParameters(command);
        kiv::SplitArguments(parts.rawParameters);
    }
    const kiv::TCommandLine line = kiv::TCommandLine::Parse(text);
    kiv::StartPositionOf(line);
    const std::size_t half = text.size() / 2;
    kiv::RelativeFolder(text.substr(0, half), text.substr(half));
    kiv::FolderOf(text);
    return 0;
}
