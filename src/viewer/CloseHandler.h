// The main window's close decision: when the user or the show asked to exit, the show may name a
// program or another show to run on exit ([Main] opt_runapponexit, opt_runapponexitfn), and a show
// reached through "runpresentationandreturn(" returns to the show it was left from. Either of the
// two show switches keeps the window open when it succeeds. Main thread only.
#pragma once

namespace kiv {

class TMainWindowActions;
class TActionPerformer;

class TCloseHandler {
public:
    TCloseHandler(TMainWindowActions& window, TActionPerformer& performer)
        : window_(window), performer_(performer) {}

    // Called when the window is asked to close. Returns true when the close goes on; false when a
    // show switch kept the window open, or while a close is already being decided (the request is
    // then ignored). The caller then stops the engine and ends the application.
    bool AllowClose();

private:
    TMainWindowActions& window_;
    TActionPerformer& performer_;
};

} // namespace kiv
