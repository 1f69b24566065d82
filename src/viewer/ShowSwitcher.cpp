#include "viewer/ShowSwitcher.h"

#include "project/ShowNames.h"

#include "base/CaseFold.h"
#include "base/Log.h"
#include "ini/IniFile.h"
#include "viewer/ActionInfo.h"
#include "viewer/CommandLine.h"
#include "viewer/MainWindowActions.h"
#include "viewer/SlideNavigation.h"

#include <vector>

namespace kiv {

namespace {

std::string Slashes(std::string text) {
    for (char& c : text)
        if (c == '/') c = '\\';
    return text;
}

std::vector<std::string> Components(std::string_view path) {
    std::vector<std::string> parts;
    std::size_t begin = 0;
    while (begin <= path.size()) {
        const std::size_t end = std::min(path.find('\\', begin), path.size());
        if (end > begin) parts.emplace_back(path.substr(begin, end - begin));
        begin = end + 1;
    }
    return parts;
}

// "C:", "\" (a root) or "" (relative).
std::string RootOf(std::string_view path) {
    if (path.size() >= 2 && path[1] == ':') return std::string(path.substr(0, 2));
    if (!path.empty() && path[0] == '\\') return "\\";
    return {};
}

std::string JoinName(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '\\') return folder + name;
    return folder + "\\" + name;
}

} // namespace

std::string FolderOf(std::string_view name) {
    const std::size_t slash = name.find_last_of("\\:");
    if (slash == std::string_view::npos) return {};
    if (name[slash] == ':') return std::string(name.substr(0, slash + 1));
    if (slash == 0 || name[slash - 1] == ':') return std::string(name.substr(0, slash + 1)); // a root
    return std::string(name.substr(0, slash));
}

std::string FileNameOf(std::string_view name) {
    const std::size_t slash = name.find_last_of("\\:");
    return std::string(slash == std::string_view::npos ? name : name.substr(slash + 1));
}

std::optional<std::string> RelativeFolder(std::string_view folder, std::string_view base) {
    const std::string folderRoot = RootOf(folder);
    if (!SameTextFolded(folderRoot, RootOf(base))) return std::nullopt;
    const std::vector<std::string> to = Components(folder.substr(folderRoot.size()));
    const std::vector<std::string> from = Components(base.substr(folderRoot.size()));
    std::size_t common = 0;
    while (common < to.size() && common < from.size() && SameTextFolded(to[common], from[common]))
        ++common;
    std::string relative;
    for (std::size_t i = common; i < from.size(); ++i)
        relative += "..\\";
    for (std::size_t i = common; i < to.size(); ++i)
        relative += to[i] + "\\";
    if (!relative.empty()) relative.pop_back();
    return relative;
}

std::string PackageFileOf(const std::string& name, const TShowFiles& files) {
    if (!files.AliasFile().empty() && SameTextFolded(name, files.AliasExecutable())) return name;
    return MapToPackageFile(name, [&files](const std::string& candidate) { return files.FileExists(candidate); });
}

std::string TShowSwitcher::ResolveShowFile(std::string file) const {
    file = Slashes(std::move(file));
    if (files_.FileExists(PackageFileOf(file, files_))) return file;
    const TIniFile* project = window_.Project();
    const std::string exeName =
        project ? Slashes(project->ReadString("Main", "opt_exefn", "")) : std::string();
    if (exeName.empty()) return file;

    const TCurrentShow current = window_.CurrentShow();
    const std::string showFolder = Slashes(current.folder);
    const std::string fileFolder = FolderOf(file);
    // A folder written without a root is already relative to the show.
    const std::optional<std::string> relative = RootOf(fileFolder).empty()
                                                    ? std::optional<std::string>(fileFolder)
                                                    : RelativeFolder(fileFolder, FolderOf(exeName));
    if (relative) {
        const std::string candidate = JoinName(JoinName(showFolder, *relative), FileNameOf(file));
        if (files_.FileExists(PackageFileOf(candidate, files_))) return candidate;
    }
    const std::string beside = JoinName(showFolder, FileNameOf(file));
    if (files_.FileExists(beside)) return beside;
    return file;
}

bool TShowSwitcher::Switch(const TKivActionInfo& action) {
    const bool andReturn = action.kind == kActionRunPresentationAndReturn;
    const TCommandLine commandLine = TCommandLine::Parse(action.text);
    const std::optional<std::string> written = commandLine.Value("");
    const TStartPosition start = StartPositionOf(commandLine);
    const std::string file = ResolveShowFile(written.value_or(std::string()));

    const TCurrentShow current = window_.CurrentShow();
    const bool startingProject = !current.projectFileName.empty() && file == Slashes(current.projectFileName);
    if (!startingProject) {
        const std::optional<std::string> version = files_.PackageVersion(PackageFileOf(file, files_));
        if (!version) {
            window_.ShowErrorBox(files_.FileExists(file)
                                     ? "Not KivShow Executable File or File Corrupted:\r" + file
                                     : "KivShow File not Found:\r" + file);
            return false;
        }
        if (*version != current.version) {
            window_.ShowErrorBox("KivShow ExeFile Version Mismatch:\r" + file);
            return false;
        }
    }
    TLog::Line("Open show: " + file);

    std::optional<TRunStackItem> item;
    if (andReturn) {
        const TSlideTimes* times = window_.SlideTimes();
        const int slide = times ? times->FindSlideAt(window_.CurrentTime()) + 1 : 0;
        item = TRunStackItem{"\"" + current.path + "\" -slide " + std::to_string(slide)};
    }
    const bool wasPaused = window_.Paused();
    if (window_.OpenShow(file, !startingProject, start.isTime, true, start.position)) {
        if (item) window_.State().runStack.Push(std::move(*item));
        window_.Engine().PostPaused(false);
        return true;
    }
    if (andReturn) {
        window_.Engine().PostPaused(wasPaused);
    } else {
        window_.State().exitRequested = true;
        window_.Close();
    }
    return false;
}

} // namespace kiv
