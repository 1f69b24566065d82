#include "project/ShowColorSetup.h"

#include "base/CaseFold.h"
#include "base/Log.h"
#include "ini/IniFile.h"
#include "package/FileAccessor.h"
#include "package/OutsideReads.h"
#include "package/RegularFile.h"
#include "package/Stream.h"
#include "package/WindowsPath.h"
#include "project/KivShowLocator.h"

#include <algorithm>

namespace kiv {

namespace {

struct TColorGlobals {
    TColorCommandLine commandLine;
    TShowColorState state;
    TColorLibraryHook libraryHook;
    TColorApplyHook applyHook;
};

TColorGlobals& Globals() {
    static TColorGlobals globals;
    return globals;
}

constexpr std::string_view kSrgbDescription = "sRGB IEC61966-2.1";
constexpr std::size_t kDescriptionWindow = 512;

// A profile file the project names: read like the show's other files outside its folder. The
// display's own profile ("?") is the user's and always read.
bool ProjectMayRead(TKivShowLocator* show, const std::string& file) {
    const std::string folder = show ? show->Accessor().BaseFolder() : std::string();
    return OutsideReadAllowed(DiskPath(file), folder);
}

TShowColorState Decide(TKivShowLocator* show, const TIniFile* project) {
    const TColorCommandLine& commandLine = Globals().commandLine;
    TShowColorState state;
    const std::string value = project ? project->ReadString("Main", "ColorManagement", "") : std::string();
    if (commandLine.noIcc || value.empty()) {
        state.managementOff = true;
        return state;
    }
    if (value == "*" && !commandLine.profile) {
        state.output = TProfileChoice{TProfileChoice::TKind::BuiltIn, "FunkyRGB", {}};
        return state;
    }
    const TColorLibraryHook& hook = Globals().libraryHook;
    if (!hook || !hook(show)) return state;

    if (commandLine.profile) {
        state.output = commandLine.profile;
    } else {
        const std::string wanted = value == "?" ? commandLine.displayProfileFile : value;
        if (const std::string builtIn = BuiltInProfileName(wanted); !builtIn.empty())
            state.output = TProfileChoice{TProfileChoice::TKind::BuiltIn, builtIn, {}};
        else if (!wanted.empty() && (value == "?" || ProjectMayRead(show, wanted)))
            state.output = ReadProfileFile(wanted);
        if (!state.output)
            TLog::Line("Colour profile not readable: \"" + wanted + "\"; the output profile stays");
    }
    state.libraryActive = true;
    return state;
}

} // namespace

std::string BuiltInProfileName(std::string_view text) {
    for (std::string_view name : {"sRGB", "AdobeRGB", "FunkyRGB"})
        if (SameTextFolded(text, name)) return std::string(name);
    return {};
}

std::optional<TProfileChoice> ReadProfileFile(const std::string& fileName) {
    std::vector<std::uint8_t> data;
    try {
        data = ReadRegularFile(fileName, kMaxColorProfileBytes);
    } catch (const EFileOpenError& error) {
        TLog::Line("Colour profile \"" + fileName + "\" " + error.Cause());
        return std::nullopt;
    } catch (const EFileError& error) {
        TLog::Line("Colour profile \"" + fileName + "\" not read: " + error.Message());
        return std::nullopt;
    }
    if (data.empty()) return std::nullopt;
    const std::string_view head(reinterpret_cast<const char*>(data.data()),
                                std::min(data.size(), kDescriptionWindow));
    if (head.find(kSrgbDescription) != std::string_view::npos)
        return TProfileChoice{TProfileChoice::TKind::BuiltIn, "sRGB", {}};
    return TProfileChoice{TProfileChoice::TKind::File, fileName, std::move(data)};
}

const TColorCommandLine& ColorCommandLine() {
    return Globals().commandLine;
}
void SetColorCommandLine(TColorCommandLine settings) {
    Globals().commandLine = std::move(settings);
}
const TShowColorState& ShowColorState() {
    return Globals().state;
}
void SetColorLibraryHook(TColorLibraryHook hook) {
    Globals().libraryHook = std::move(hook);
}
void SetColorApplyHook(TColorApplyHook hook) {
    Globals().applyHook = std::move(hook);
}

TShowColorState RunColorSetup(TKivShowLocator* show, const TIniFile* project) {
    TShowColorState state = Decide(show, project);
    Globals().state = state;
    if (Globals().applyHook) Globals().applyHook(state, show);
    return state;
}

} // namespace kiv
