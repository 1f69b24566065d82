// Switching to another show ("runpresentation(" and "runpresentationandreturn("): the show's file is
// found next to the current show when the name was written for the author's folders, its package
// version must match the current show's, and a show left with "...andreturn(" is remembered on the
// run stack so that closing the new show returns to it. Names are in the program's inner form
// ("\" between folders). Main thread only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kiv {

class TMainWindowActions;
struct TKivActionInfo;

// What the switch needs of the show files on disk (the show locator implements it).
class TShowFiles {
public:
    virtual ~TShowFiles() = default;
    virtual bool FileExists(const std::string& name) const = 0;
    // The package version of a package file; nothing when it is not a readable show package.
    virtual std::optional<std::string> PackageVersion(const std::string& packageFile) const = 0;
    // The executable alias of a show opened from its project file (its opt_exefn) and the project
    // file it really came from; both empty when there is none.
    virtual std::string AliasExecutable() const = 0;
    virtual std::string AliasFile() const = 0;
};

// The package file of a show name: the name itself when it is the remembered executable alias; for
// an application bundle (".app") its Contents\Resources\slideshow.dat when present, else the name
// with the extension ".kvshow"; any other name unchanged.
std::string PackageFileOf(const std::string& name, const TShowFiles& files);

// Inner-form path helpers ("\" separates folders, "C:" is a drive).
std::string FolderOf(std::string_view name);   // "C:\a\b.exe" -> "C:\a" (no trailing "\")
std::string FileNameOf(std::string_view name); // "C:\a\b.exe" -> "b.exe"
// `folder` relative to `base`, compared without regard to case ("C:\a\x" from "C:\a\b" is
// "..\x"); nothing when the two lie on different drives or roots.
std::optional<std::string> RelativeFolder(std::string_view folder, std::string_view base);

class TShowSwitcher {
public:
    TShowSwitcher(TMainWindowActions& window, const TShowFiles& files) : window_(window), files_(files) {}

    // The file a presentation action names, after "/" became "\": used as it is when its package
    // file exists; else, for a show whose project names its executable (opt_exefn), the same
    // place relative to the current show's folder, or the file name in the current show's folder.
    std::string ResolveShowFile(std::string file) const;

    // Performs kind 12 or 14. Returns true when the other show is open. Errors are shown in the
    // error box and keep the current show; a failed open of kind 12 closes the window.
    bool Switch(const TKivActionInfo& action);

private:
    TMainWindowActions& window_;
    const TShowFiles& files_;
};

} // namespace kiv
