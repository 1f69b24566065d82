// TActionPerformer: performs the actions that belong to the main window — exit, slide navigation,
// pause, print, running programs and links, switching shows — against the window interface and its
// engine link. The engine performs the overlay's actions (help, dialogs) itself and sends the rest
// here. Main thread only.
#pragma once

#include "viewer/ActionInfo.h"

#include <cstddef>
#include <string>

namespace kiv {

class TMainWindowActions;
class TProgramRunner;
class TShowSwitcher;

class TActionPerformer {
public:
    TActionPerformer(TMainWindowActions& window, TProgramRunner& runner, TShowSwitcher& switcher)
        : window_(window), runner_(runner), switcher_(switcher) {}

    // Performs the action; returns whether its kind is one the main window handles. Does nothing
    // (false) while the window has no viewer.
    bool Perform(const TKivActionInfo& action);
    // An action coming from the viewer (objects, dialogs): dropped while another one from the
    // viewer is being performed.
    bool PerformFromViewer(const TKivActionInfo& action);

    // Runs the commands of a text (one, or several separated by commas outside quotes) with the
    // program's folder as working folder. When any command is prohibited nothing runs and the
    // prohibited-command message is shown; returns false then. Failed starts are silent. Only
    // the first `limit` commands run (the rest are logged as refused).
    static constexpr std::size_t kAllCommands = static_cast<std::size_t>(-1);
    bool RunCommands(const std::string& text, std::size_t limit = kAllCommands);
    // The number the engine gives the program of a slide, started as the slide starts.
    static constexpr int kSlideProgram = 1;

    // Whether the last show switch opened the other show (for the close handler).
    bool LastSwitchSucceeded() const { return lastSwitch_; }

private:
    void GotoSlide(const TKivActionInfo& action);

    TMainWindowActions& window_;
    TProgramRunner& runner_;
    TShowSwitcher& switcher_;
    bool lastSwitch_ = false;
};

} // namespace kiv
