#include "viewer/ActionPerformer.h"

#include "base/Log.h"
#include "viewer/MainWindowActions.h"
#include "viewer/ProgramRunner.h"
#include "viewer/ShowSwitcher.h"
#include "viewer/SlideNavigation.h"

#include <vector>

namespace kiv {

bool TActionPerformer::PerformFromViewer(const TKivActionInfo& action) {
    TShellState& state = window_.State();
    if (state.actionBusy) return false;
    state.actionBusy = true;
    struct TReset {
        bool& flag;
        ~TReset() { flag = false; }
    } reset{state.actionBusy};
    return Perform(action);
}

bool TActionPerformer::Perform(const TKivActionInfo& action) {
    lastSwitch_ = false;
    if (!window_.HasViewer()) return false;
    const TSlideTimes* times = window_.SlideTimes();
    switch (action.kind) {
    case kActionExit:
        window_.State().exitRequested = true;
        window_.Close();
        return true;
    case kActionPrevSlide:
        if (times) window_.Engine().PostSeek(TSlideNavigation(*times).PrevSlideTime(window_.CurrentTime()));
        return true;
    case kActionNextSlide:
        if (window_.Engine().SendHolding())
            window_.Engine().SendClearHold();
        else if (times)
            window_.Engine().PostSeek(
                TSlideNavigation(*times).NextSlideTime(window_.CurrentTime(), window_.Paused()));
        return true;
    case kActionPause:
        if (window_.Engine().SendHolding())
            window_.Engine().SendClearHold();
        else
            window_.Engine().PostPaused(!window_.Paused());
        return true;
    case kActionPrint:
        window_.Engine().PostPrint();
        return true;
    case kActionGotoSlide:
        GotoSlide(action);
        return true;
    case kActionOpenWebsite: {
        std::string address = action.text;
        if (!address.starts_with("http://") && !address.starts_with("https://"))
            address = "http://" + address;
        RunCommands(address);
        return true;
    }
    case kActionWriteEmail: {
        std::string address = action.text;
        if (!address.starts_with("mailto:")) address = "mailto:" + address;
        RunCommands(address);
        return true;
    }
    case kActionRunApp:
        // A slide's program (number 1, from the engine at the slide's start) is one program.
        RunCommands(action.text, action.number == kSlideProgram ? 1 : kAllCommands);
        return true;
    case kActionRunAppAndExit:
        window_.Close();
        RunCommands(action.text);
        return true;
    case kActionRunPresentation:
    case kActionRunPresentationAndReturn:
        lastSwitch_ = switcher_.Switch(action);
        return true;
    case kActionStop:
        window_.Engine().PostPaused(true);
        window_.Engine().PostSeek(0);
        return true;
    case kActionCloseDialog:
        window_.State().exitRequested = true;
        window_.SetExitCode(1);
        window_.Close();
        return true;
    case kActionGotoTime:
        window_.Engine().PostSeek(action.number);
        return true;
    default:
        return false;
    }
}

void TActionPerformer::GotoSlide(const TKivActionInfo& action) {
    const TSlideTimes* times = window_.SlideTimes();
    if (!times) return;
    const TSlideNavigation navigation(*times);
    const int index = action.number == -1 ? navigation.SlideIndexByName(action.text) : action.number - 1;
    window_.Engine().PostSeek(navigation.SlideStartTime(index));
}

bool TActionPerformer::RunCommands(const std::string& text, std::size_t limit) {
    window_.ShowCaptionInactive();
    std::vector<std::string> commands = SplitCommands(text);
    if (commands.size() > limit) {
        for (std::size_t i = limit; i < commands.size(); ++i)
            TLog::Line("Program not started (one program per slide start): " + commands[i]);
        commands.resize(limit);
    }
    for (const std::string& command : commands) {
        if (IsProhibitedCommand(command)) {
            window_.ShowMessageBox("", kProhibitedCommandMessage);
            return false;
        }
    }
    for (const std::string& command : commands) {
        const bool topMost = window_.TopMost();
        if (topMost) window_.SetTopMost(false);
        const int result = runner_.RunCommand(command);
        if (topMost && result <= 32) window_.SetTopMost(true);
    }
    return true;
}

} // namespace kiv
