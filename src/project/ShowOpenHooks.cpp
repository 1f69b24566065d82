#include "project/ShowOpenHooks.h"

#include "base/Log.h"
#include "project/KivShowLocator.h"
#include "project/ShowColorSetup.h"

namespace kiv {

namespace {

bool videoSettled = false;
bool exclusiveAllowed = true;

void LogIgnoredCopy(TKivShowLocator* show, const char* entry, const char* instead) {
    TPackedFileSource* packed = show ? show->PackedSource() : nullptr;
    if (packed && packed->HasEntry(entry))
        TLog::Line(std::string("The show's copy of ") + entry + " was ignored: " + instead + " is used");
}

} // namespace

void InstallShowOpenHooks() {
    SetColorLibraryHook(ColorLibraryHook);
}

bool ColorLibraryHook(TKivShowLocator* show) {
    LogIgnoredCopy(show, "lcms2.dll", "the linked Little CMS");
    return true;
}

bool VideoLibraryHook(TKivShowLocator* show) {
    if (videoSettled) return true;
    LogIgnoredCopy(show, "ffmpeg.dll", "the linked FFmpeg");
    videoSettled = true;
    return true;
}

bool VideoLibrarySettled() {
    return videoSettled;
}

void ExclusiveModeHook(TKivShowLocator& show) {
    const TIniFile* project = show.Project();
    exclusiveAllowed = !(project && project->ReadBool("Main", "opt_scr_noexclusive", false));
}

bool ExclusiveModeAllowed() {
    return exclusiveAllowed;
}

} // namespace kiv
