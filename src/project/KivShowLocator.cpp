#include "project/KivShowLocator.h"

#include "package/WindowsPath.h"

#include "base/Assert.h"
#include "base/CaseFold.h"
#include "base/Exception.h"
#include "base/Log.h"
#include "base/NumberText.h"
#include "package/FolderPath.h"
#include "package/IniStream.h"
#include "package/PathModifiers.h"
#include "project/ShowColorSetup.h"
#include "project/ShowNames.h"

#include <algorithm>
#include <filesystem>

namespace kiv {

namespace {

constexpr std::string_view kPackagedProjectName = "Project.kiv";
constexpr std::string_view kExecutableOpenError = "Executable SlideShow Open Error";

struct TLocatorGlobals {
    TRef<TKivShowLocator> current;
    std::string programFileName;
};

TLocatorGlobals& Globals() {
    static TLocatorGlobals globals;
    return globals;
}

// [PathModifiers] of a project file: Count entries of DefN, PathN and EnvN. None without the
// section (the process-wide list then stays as it is).
std::optional<std::vector<TPathModifier>> ReadPathModifiers(const TIniFile& project) {
    const TIniSection* section = project.FindSection("PathModifiers");
    if (!section) return std::nullopt;
    // Entries past the highest number present have no keys and change no name: a huge Count is
    // not a reason to loop for hours.
    std::int64_t present = 0;
    for (const TRef<TIniItem>& item : section->Items()) {
        const std::string_view name = item->Name();
        for (std::string_view prefix : {"Def", "Path", "Env"}) {
            if (name.size() > prefix.size() && SameTextFolded(name.substr(0, prefix.size()), prefix)) {
                if (auto index = ParseInt32(name.substr(prefix.size())); index && *index >= 0)
                    present = std::max<std::int64_t>(present, std::int64_t(*index) + 1);
            }
        }
    }
    std::vector<TPathModifier> list;
    const std::int64_t count = std::min<std::int64_t>(section->GetInt32("Count", 0), present);
    for (std::int64_t i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        list.push_back(
            {section->GetText("Env" + n), section->GetText("Path" + n), section->GetBool("Def" + n, false)});
    }
    return list;
}

// `name` taken against the current folder when it is relative; unchanged when it is absolute or
// the current folder is unknown.
std::string AbsoluteProjectName(const std::string& name) {
    if (name.empty() || IsAbsoluteName(name)) return name;
    std::error_code failed;
    const std::filesystem::path current = std::filesystem::current_path(failed);
    if (failed || current.empty()) return name;
    return (current / name).lexically_normal().string();
}

} // namespace

TKivShowLocator::TKivShowLocator(TRef<TFileAccessor> accessor, std::string projectName)
    : accessor_(std::move(accessor)), projectName_(std::move(projectName)) {
    KIV_ASSERT(accessor_, "Show locator without a file accessor");
    if (TRef<TStream> stream = accessor_->Open(projectName_)) {
        TRef<TIniFile> document = MakeRef<TIniFile>();
        try {
            if (LoadIniFromStream(*document, *stream)) project_ = std::move(document);
        } catch (const std::exception& error) {
            TLog::Line("Project not readable: " + projectName_ + " (" + error.what() + ")");
        }
    }
    if (!project_) return;
    version_ = project_->ReadString("Main", "KivVersion", "");
    if (auto* mapped = dynamic_cast<TMappedFileSource*>(&accessor_->Source())) {
        if (const TIniSection* section = project_->FindSection("FileMap")) {
            TFileMap map;
            if (map.Fill(*section)) mapped->SetFileMap(std::move(map));
        }
        if (const TIniSection* section = project_->FindSection("RotationState")) {
            TRotationState rotation;
            if (rotation.Fill(*section)) mapped->SetRotationState(std::move(rotation));
        }
    }
}

TPackedFileSource* TKivShowLocator::PackedSource() const {
    return dynamic_cast<TPackedFileSource*>(&accessor_->Source());
}

TKivSource& TKivShowLocator::ParsedProject() {
    if (!parsed_) {
        KIV_ASSERT(project_, "Parsed project of a show without a project");
        TKivSourceSetup setup;
        setup.document = project_;
        setup.fileAccessor = accessor_;
        setup.programFileName = Globals().programFileName;
        parsed_ = MakeRef<TKivSource>(std::move(setup));
    }
    return *parsed_;
}

TPackagedOpen OpenPackagedShow(const std::string& name) {
    TPackagedOpen result;
    if (MatchesShowAlias(name)) {
        result.show = OpenProjectFile(ShowAlias().realFile);
        return result;
    }
    TRef<TKivUnpack> unpack;
    try {
        // Names written in a show ("\" between folders, any case) reach the disk as every other
        // file of a show does.
        unpack = MakeRef<TKivUnpack>(DiskPath(name));
    } catch (const std::exception& error) {
        // A file too short for a trailer or a directory that does not inflate holds no package.
        TLog::Line("No package in " + name + " (" + error.what() + ")");
        return result;
    }
    if (!unpack->IsOpen()) {
        result.error = unpack->ErrorText();
        return result;
    }
    TRef<TPackedFileSource> source = MakeRef<TPackedFileSource>(unpack);
    TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(source, FolderPart(name));
    TRef<TKivShowLocator> show = MakeRef<TKivShowLocator>(accessor, std::string(kPackagedProjectName));
    if (!show->Project()) {
        result.error = kExecutableOpenError;
        return result;
    }
    show->SetPackaged(true);
    RunColorSetup(show.Get(), show->Project());
    result.show = std::move(show);
    return result;
}

TRef<TKivShowLocator> OpenProjectFile(const std::string& name) {
    // Relative names inside a project on disk are its own folder's files, as the show's author
    // laid them out beside the project. The project itself is read through that same source, so
    // a relative name ("kf/Project.kiv") is made absolute first: taken against its own folder it
    // would name "kf/kf/Project.kiv".
    const std::string file = AbsoluteProjectName(name);
    TRef<TMappedFileSource> source = MakeRef<TMappedFileSource>(FolderPart(file));
    TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(source);
    TRef<TKivShowLocator> show = MakeRef<TKivShowLocator>(accessor, file);
    if (!show->Project()) return nullptr;
    const std::string exeName = show->Project()->ReadString("Main", "opt_exefn", "");
    accessor->SetBaseFolder(exeName.empty() ? std::string() : FolderPart(exeName));
    if (auto modifiers = ReadPathModifiers(*show->Project())) SetPathModifiers(*modifiers);
    RunColorSetup(show.Get(), show->Project());
    return show;
}

bool PackageVersion(const std::string& name, std::string& version) {
    try {
        TRef<TKivUnpack> unpack = MakeRef<TKivUnpack>(DiskPath(name));
        if (!unpack->IsOpen()) return false;
        version = unpack->Version();
        return true;
    } catch (const EAssertionFailed&) {
        throw;
    } catch (...) {
        return false;
    }
}

void SetShowProgramFileName(std::string name) {
    Globals().programFileName = std::move(name);
}
const std::string& ShowProgramFileName() {
    return Globals().programFileName;
}

TKivShowLocator* CurrentShow() {
    return Globals().current.Get();
}
void SetCurrentShow(TRef<TKivShowLocator> show) {
    Globals().current = std::move(show);
}

} // namespace kiv
