#include "app/ShowStart.h"

#include "base/CaseFold.h"
#include "project/ShowNames.h"
#include "viewer/CommandLine.h"

#include <cctype>
#include <filesystem>

namespace kiv {

namespace {

bool IsAbsoluteName(const std::string& name) {
    if (!name.empty() && (name.front() == '/' || name.front() == '\\')) return true;
    // A Windows drive ("C:") names a place of its own; the disk layer decides what it means here.
    return name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]));
}

} // namespace

std::optional<std::string> PlainShowName(const TCommandLine& commandLine) {
    const TCommand* plain = commandLine.Commands().Find({});
    if (!plain) return std::nullopt;
    // Screen-saver requests: "/s", "/c", "/c:HANDLE", "/p HANDLE" (the handle is no name either).
    const auto request = [](const std::string& value) {
        return value.size() >= 2 && value[0] == '/' && (value.size() == 2 || value[2] == ':');
    };
    for (std::size_t i = 1; i < plain->items.size(); ++i) {
        const std::string& value = plain->items[i].value;
        if (request(value)) {
            if (value.size() == 2 && (value[1] == 'p' || value[1] == 'P')) ++i;
            continue;
        }
        if (!value.empty()) return value;
    }
    return std::nullopt;
}

std::string ResolveProgramRelative(const std::string& name, const std::string& programPath,
                                   const std::string& workingFolder) {
    namespace fs = std::filesystem;
    if (name.empty() || IsAbsoluteName(name)) return name;
    std::error_code error;
    const fs::path inWorkingFolder = fs::path(workingFolder) / name;
    if (!workingFolder.empty() && fs::exists(inWorkingFolder, error))
        return inWorkingFolder.lexically_normal().string();
    return (fs::path(programPath).parent_path() / name).lexically_normal().string();
}

TShowStart ChooseShowStart(const TCommandLine& commandLine, const std::string& programPath,
                           const std::string& workingFolder) {
    TShowStart start;
    std::string name;
    if (commandLine.HasSwitch("filename")) {
        start.projectFileGiven = true;
        name = commandLine.Value("filename").value_or("");
    } else if (commandLine.HasSwitch("exename")) {
        name = commandLine.Value("exename").value_or("");
    } else if (auto plain = PlainShowName(commandLine)) {
        start.projectFileGiven = SameTextFolded(FileExtension(*plain), ".kiv");
        name = *plain;
    } else {
        name = programPath;
    }
    start.name = ResolveProgramRelative(name, programPath, workingFolder);
    if (start.projectFileGiven) start.projectFileName = start.name;

    const TStartPosition position = StartPositionOf(commandLine);
    start.position = position.position;
    start.timeGiven = position.isTime;
    return start;
}

} // namespace kiv
