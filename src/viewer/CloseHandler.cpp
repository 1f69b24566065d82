#include "viewer/CloseHandler.h"

#include "ini/IniFile.h"
#include "viewer/ActionPerformer.h"
#include "viewer/MainWindowActions.h"

namespace kiv {

bool TCloseHandler::AllowClose() {
    TShellState& state = window_.State();
    if (state.closing) return false;
    state.closing = true;

    const TIniFile* project = window_.Project();
    int kind = project ? project->ReadInteger("Main", "opt_runapponexit", 0) : 0;
    const bool onlyAfterLastSlide =
        project ? project->ReadBool("Main", "opt_runapponexitiflastslide", true) : true;
    const std::string fileName =
        project ? project->ReadString("Main", "opt_runapponexitfn", "") : std::string();
    const bool exitRequested = state.exitRequested;
    if (onlyAfterLastSlide && !state.endedByShow) kind = 0;
    if (!exitRequested) kind = 0;
    state.exitRequested = false;
    state.endedByShow = false;

    bool keepOpen = false;
    if (kind > 0) {
        if (!fileName.empty() && kind == 1) {
            performer_.Perform(MakeAction(kActionRunApp, 0, fileName));
        } else if (!fileName.empty() && kind == 2) {
            performer_.Perform(MakeAction(kActionRunPresentation, 0, fileName));
            keepOpen = performer_.LastSwitchSucceeded();
        }
    } else if (exitRequested && !state.runStack.Empty()) {
        const std::optional<TRunStackItem> item = state.runStack.Pop();
        performer_.Perform(MakeAction(kActionRunPresentation, 0, item->text));
        keepOpen = performer_.LastSwitchSucceeded();
    }
    // A close that goes on stays "closing": later requests are ignored.
    if (keepOpen) state.closing = false;
    return !keepOpen;
}

} // namespace kiv
