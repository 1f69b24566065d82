#include "project/ShowOpen.h"

#include "base/Log.h"
#include "package/FolderPath.h"
#include "package/KivUnpack.h"
#include "package/PackageFormat.h"
#include "package/RegularFile.h"
#include "package/Stream.h"
#include "package/WindowsPath.h"
#include "project/ProjectError.h"
#include "project/ShowNames.h"
#include "project/ShowOpenHooks.h"
#include "project/ShowOptions.h"

#include <sys/stat.h>

#include <cerrno>

namespace kiv {

namespace {

constexpr const char* kCantLoadShow = "Can`t Load Show";
// How much of a project that did not open is decoded again to find out why.
constexpr std::int64_t kMaxDiagnosedBytes = std::int64_t{64} << 20;

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// Opens `name` as a package; `file` gets the file really tried.
TPackagedOpen OpenMapped(const std::string& name, std::string& file) {
    file = MapToPackageFile(name, [](const std::string& candidate) { return DiskFileExists(candidate); });
    if (file != name) TLog::Line("Show " + name + " is read from " + file);
    return OpenPackagedShow(file);
}

bool Missing(const std::string& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

// Why the package in a readable file did not open, found by reading it again.
std::string InsidePackageCause(const std::string& file) {
    try {
        TRef<TKivUnpack> unpack = MakeRef<TKivUnpack>(file);
        if (!unpack->IsOpen()) return "holds no show package (no package trailer at its end)";
        TPackageEntry entry;
        if (!unpack->FindEntry(kProjectEntryName, entry))
            return std::string("holds no ") + std::string(kProjectEntryName);
        TRef<TStream> project = unpack->OpenEntry(kProjectEntryName);
        if (!project) return "its " + std::string(kProjectEntryName) + " cannot be opened";
        // Read to find the failure, not to keep: a bounded amount through one small buffer.
        char buffer[32768];
        for (std::int64_t read = 0; read < kMaxDiagnosedBytes;) {
            const std::int32_t got = project->Read(buffer, sizeof buffer);
            if (got <= 0) break;
            read += got;
        }
        return "its " + std::string(kProjectEntryName) + " is not a project text";
    } catch (const std::exception& error) {
        return FailureCause(error);
    }
}

bool PasswordWanted(const TKivShowLocator& show) {
    return show.Project() && show.Project()->ReadBool("Main", "opt_usepass", false);
}

} // namespace

bool PasswordMatches(const TIniFile& project, const std::string& typed) {
    return typed == project.ReadString("Main", "opt_pass", kDefaultShowPassword);
}

std::string PackageOpenMessage(const std::string& lastError, const std::string& name,
                               const std::string& kvshowName) {
    return (lastError.empty() ? std::string(kCantLoadShow) : lastError) + "\r" + Quoted(name) + " or " +
           Quoted(kvshowName);
}

std::string ProjectOpenMessage(const std::string& name) {
    return "Can`t Load .kiv File\r" + Quoted(name);
}

std::string PackageFileCause(const std::string& file, const std::string& error) {
    if (Missing(file)) return {};
    if (std::string problem = RegularFileProblem(file); !problem.empty()) return problem;
    if (struct stat info {}; ::stat(file.c_str(), &info) == 0 && info.st_size == 0) return "is empty";
    if (error.empty()) return InsidePackageCause(file);
    if (error == "Slide-show File Modified") return "was changed after it was made (" + error + ")";
    if (error == "Slide-show File Damaged") return "its package directory is damaged (" + error + ")";
    if (error == "Executable SlideShow Open Error") return InsidePackageCause(file);
    return error;
}

std::string ProjectFileCause(const std::string& file) {
    if (Missing(file)) return {};
    if (std::string problem = RegularFileProblem(file); !problem.empty()) return problem;
    return "is not a project text the player can read";
}

std::string FailureCause(const std::exception& error) {
    const std::string words = error.what();
    if (dynamic_cast<const EZLibError*>(&error))
        return "its compressed data is damaged or cut short (zlib: " + words + ")";
    if (const auto* open = dynamic_cast<const EFileOpenError*>(&error))
        return "cannot open " + open->Message() + (open->Cause().empty() ? "" : ": " + open->Cause());
    if (dynamic_cast<const EFileError*>(&error)) return "cannot be read (" + words + ")";
    if (dynamic_cast<const EStreamError*>(&error))
        return "its data is damaged or cut short: a read went outside it (" + words + ")";
    return words;
}

double SlideStartTime(const TKivSource& source, std::int32_t index) {
    if (index < 0) index = 0;
    TSlideInfo info;
    source.GetSlideTimes(index, info);
    return SlideEntryTime(info, source.EndMode() != TEndMode::Repeat && index == source.SlideCount());
}

TOpenShowResult OpenShow(const TOpenShowRequest& request, const TCommandLine& commandLine) {
    TOpenShowResult result;
    TRef<TKivShowLocator> show;
    const auto detail = [&result](const std::string& file, const std::string& cause) {
        if (cause.empty()) return;
        const std::string line = file + ": " + cause;
        for (const std::string& earlier : result.details)
            if (earlier == line) return;
        result.details.push_back(line);
    };
    if (request.asPackage) {
        std::string file;
        TPackagedOpen opened = OpenMapped(request.name, file);
        if (!opened.show) {
            detail(file, PackageFileCause(file, opened.error));
            const std::string kvshow = ChangeFileExtension(request.name, ".kvshow");
            opened = OpenMapped(kvshow, file);
            if (!opened.show) {
                detail(file, PackageFileCause(file, opened.error));
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
            detail(request.name, ProjectFileCause(request.name));
            result.message = ProjectOpenMessage(request.name);
            return result;
        }
        ExclusiveModeHook(*show);
    }

    if (request.checkPassword && PasswordWanted(*show)) {
        if (!request.askPassword) {
            result.message =
                "This show asks for a password, and nobody can be asked for it here:\r" +
                Quoted(request.name);
            return result;
        }
        const std::optional<std::string> typed = request.askPassword(*show->Project());
        if (!typed || !PasswordMatches(*show->Project(), *typed)) {
            // Silent, and the new show goes with `show` as it leaves this scope.
            TLog::Line(std::string("Show password ") + (typed ? "refused" : "not given"));
            return result;
        }
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
        // The box keeps the project's own words; which show said them goes beside it.
        result.message = error.Message();
        detail(request.name, error.Message());
        return result;
    } catch (const Exception& error) {
        result.message = error.Message() + "\r" + Quoted(request.name);
        detail(request.name, FailureCause(error));
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
