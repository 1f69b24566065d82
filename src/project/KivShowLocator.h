// TKivShowLocator: the open show — its file accessor (package entries or disk files), its project
// document, the project's version and, built on first request, the parsed project (TKivSource).
//
// A show opens either from a package (the player's own executable, another executable, a ".kvshow"
// file, an application bundle's "slideshow.dat") or from a project file on disk. Both opens read
// the project's file tables (FileMap, RotationState) into the source and run the colour set-up; a
// project file also replaces the process-wide path modifiers when it has [PathModifiers].
//
// Opening and the current show belong to the main thread; the accessor and the parsed project are
// then used from the engine and loader threads too.
#pragma once

#include "base/RefObject.h"
#include "ini/IniFile.h"
#include "package/FileAccessor.h"
#include "package/MappedFileSource.h"
#include "package/PackedFileSource.h"
#include "project/KivSource.h"

#include <string>

namespace kiv {

class TKivShowLocator : public TRefObject {
public:
    // Reads the project `projectName` through `accessor` (see the .cpp for the steps). The project
    // stays absent when it cannot be opened or parsed.
    TKivShowLocator(TRef<TFileAccessor> accessor, std::string projectName);

    TFileAccessor& Accessor() const { return *accessor_; }
    const TRef<TFileAccessor>& AccessorRef() const { return accessor_; }
    // Null when the project could not be read.
    TIniFile* Project() const { return project_.Get(); }
    const TRef<TIniFile>& ProjectRef() const { return project_; }
    const std::string& ProjectName() const { return projectName_; }
    // [Main] KivVersion; empty when absent.
    const std::string& Version() const { return version_; }
    bool Packaged() const { return packaged_; }
    void SetPackaged(bool packaged) { packaged_ = packaged; }

    // The package source of a packaged show, else null.
    TPackedFileSource* PackedSource() const;

    // The parsed project, built from this locator's accessor and project on the first call and
    // kept. The project must be present (assertion). Raises EProjectError when the project cannot
    // be played (a timeline that goes backwards, too many slides). Main thread.
    TKivSource& ParsedProject();

protected:
    ~TKivShowLocator() override = default;

private:
    TRef<TFileAccessor> accessor_;
    TRef<TIniFile> project_;
    std::string projectName_;
    std::string version_;
    TRef<TKivSource> parsed_;
    bool packaged_ = false;
};

// The result of opening a packaged show: the show, or none and the reason ("Slideshow File not
// Found", "Slide-show File Modified", "Slide-show File Damaged", "Executable SlideShow Open Error",
// or empty when the file holds no package).
struct TPackagedOpen {
    TRef<TKivShowLocator> show;
    std::string error;
};

// Opens the package held in the file `name`. The name equal to the executable alias (while the
// alias pair's file is set) opens the remembered project file instead.
TPackagedOpen OpenPackagedShow(const std::string& name);

// Opens the project file `name` from disk; none when it cannot be read or is not a project.
TRef<TKivShowLocator> OpenProjectFile(const std::string& name);

// The version text of the package in `name` ("$protection$" kivversion); false on any failure.
bool PackageVersion(const std::string& name, std::string& version);

// The program's own file name as the parsed project sees it (its extension ".scr" selects
// screen-saver mode). Set at start-up.
void SetShowProgramFileName(std::string name);
const std::string& ShowProgramFileName();

// The process-wide current show (replaced on every successful open); null before the first.
TKivShowLocator* CurrentShow();
void SetCurrentShow(TRef<TKivShowLocator> show);

} // namespace kiv
