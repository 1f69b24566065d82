#include "project/ShowOpen.h"

#include "base/Log.h"
#include "base/NumberText.h"
#include "package/FolderPath.h"
#include "package/WindowsPath.h"
#include "project/ProjectError.h"
#include "project/ShowNames.h"
#include "project/ShowOpenHooks.h"
#include "project/ShowOptions.h"

namespace kiv {

namespace {

constexpr const char* kCantLoadShow = "Can`t Load Show";

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

TPackagedOpen OpenMapped(const std::string& name) {
    const std::string file =
        MapToPackageFile(name, [](const std::string& candidate) { return DiskFileExists(candidate); });
    if (file != name) TLog::Line("Show " + name + " is read from " + file);
    return OpenPackagedShow(file);
}

bool PasswordWanted(const TKivShowLocator& show) {
    return show.Project() && show.Project()->ReadBool("Main", "opt_usepass", false);
}

} // namespace

std::string PackageOpenMessage(const std::string& lastError, const std::string& name,
                               const std::string& kvshowName) {
    return (lastError.empty() ? std::string(kCantLoadShow) : lastError) + "\r" + Quoted(name) + " or " +
           Quoted(kvshowName);
}

std::string ProjectOpenMessage(const std::string& name) {
    return "Can`t Load .kiv File\r" + Quoted(name);
}

double SlideStartTime(const TKivSource& source, std::int32_t index) {
    if (index < 0) index = 0;
    TSlideInfo info;
    source.GetSlideTimes(index, info);
    const double start = static_cast<double>(RoundHalfEven(info.start));
    const bool endsHere = source.EndMode() != TEndMode::Repeat && index == source.SlideCount();
    if (info.transition != 0 || endsHere) return start;
    return start + 1;
}

TOpenShowResult OpenShow(const TOpenShowRequest& request, const TCommandLine& commandLine) {
    TOpenShowResult result;
    TRef<TKivShowLocator> show;
    if (request.asPackage) {
        TPackagedOpen opened = OpenMapped(request.name);
        if (!opened.show) {
            const std::string kvshow = ChangeFileExtension(request.name, ".kvshow");
            opened = OpenMapped(kvshow);
            if (!opened.show) {
                result.message = PackageOpenMessage(opened.error, request.name, kvshow);
                return result;
            }
        }
        show = opened.show;
        ExclusiveModeHook(*show);
        VideoLibraryHook(show.Get());
    } else {
        VideoLibraryHook(nullptr);
        show = OpenProjectFile(request.name);
        if (!show) {
            result.message = ProjectOpenMessage(request.name);
            return result;
        }
        ExclusiveModeHook(*show);
    }

    if (request.checkPassword && PasswordWanted(*show)) {
        result.message =
            "This show asks for a password, and this player cannot ask for one yet:\r" + Quoted(request.name);
        return result;
    }

    // A screen-saver program shows only when asked to ("/s"); configuration and preview requests
    // end without a word.
    if (IsScreenSaverProgram(ShowProgramFileName()) && !commandLine.HasToken("/s") &&
        !commandLine.HasToken("/S")) {
        TLog::Line("Screen saver started without /s: nothing to show");
        return result;
    }

    try {
        TKivSource& source = show->ParsedProject();
        if (request.timeGiven)
            result.seekTime = request.position;
        else if (request.position > 0)
            result.seekTime = SlideStartTime(source, request.position);
    } catch (const EProjectError& error) {
        result.message = error.Message();
        return result;
    }

    SetCurrentShow(show);
    result.showPath = request.name;
    if (!request.asPackage) {
        const std::string exeName = show->Project()->ReadString("Main", "opt_exefn", "");
        if (!exeName.empty()) {
            result.showPath = exeName;
            SetShowAlias({exeName, request.name});
        }
    }
    TLog::Line("Show opened: " + request.name + (show->Packaged() ? " (package)" : " (project file)"));
    result.show = std::move(show);
    result.ok = true;
    return result;
}

} // namespace kiv
