// TMainWindowActions: what input handling and actions need of the main window and the show viewer
// it owns, as far as the window answers it itself on the main thread (its flags, dialogs, the
// viewer's record of time and pause, the open show). Whatever crosses to the engine thread goes
// through the engine link it hands out (EngineLink.h). The main window implements it; tests
// implement it with a recording fake. Every call is made on the main thread. TShellState holds the
// window's flags that the actions and the close handler share.
#pragma once

#include "viewer/ActionInfo.h"
#include "viewer/EngineLink.h"
#include "viewer/RunStack.h"

#include <cstdint>
#include <string>

namespace kiv {

class TIniFile;
class TSlideTimes;

struct TShellState {
    bool startupMode = false;   // the token "-startup" is on the command line
    bool exitRequested = false; // the user or the show asked to exit (not the system)
    bool endedByShow = false;   // the show closed itself at its end
    bool closing = false;       // re-entrance guard of the close handler
    bool actionBusy = false;    // re-entrance guard for actions coming from the viewer
    std::int64_t createdAt = 0; // process milliseconds when the window finished its creation
    TRunStack runStack;
};

// The open show as the presentation switch needs it. Names are in the program's inner form
// ("\" between folders).
struct TCurrentShow {
    std::string path;            // the file the show came from, or its opt_exefn
    std::string folder;          // folder part of path
    std::string version;         // [Main] KivVersion of the show's project
    std::string projectFileName; // the value of "-filename" the player was started with, else empty
};

class TMainWindowActions {
public:
    virtual ~TMainWindowActions() = default;

    virtual TShellState& State() = 0;

    // The link to the viewer's engine thread.
    virtual TEngineLink& Engine() = 0;

    // --- The viewer and its show ---
    virtual bool HasViewer() const = 0;
    // True while a show is open in the viewer.
    virtual bool ShowRunning() const = 0;
    // The viewer's record: the last position the engine reported or a seek asked for (ms).
    virtual double CurrentTime() const = 0;
    // The viewer's record: the last pause state handed to the engine.
    virtual bool Paused() const = 0;
    // The open show's timeline; nullptr without a show.
    virtual const TSlideTimes* SlideTimes() const = 0;
    // The open show's project; nullptr without a show.
    virtual const TIniFile* Project() const = 0;

    // --- The window ---
    // Whether the mouse cursor is shown (the window's cursor monitor).
    virtual bool CursorShown() const = 0;
    // Asks the window to close; the close handler decides.
    virtual void Close() = 0;
    virtual void SetExitCode(int code) = 0;
    // Shows the caption as inactive (before another program starts).
    virtual void ShowCaptionInactive() = 0;
    virtual bool TopMost() const = 0;
    virtual void SetTopMost(bool topMost) = 0;
    // A message box with an OK button.
    virtual void ShowMessageBox(const std::string& caption, const std::string& text) = 0;
    // The error box: caption "Slideshow Error", warning icon, OK.
    virtual void ShowErrorBox(const std::string& text) = 0;

    // --- Shows ---
    // Opens another show and makes it current (password checked when asked); false keeps the
    // current show. `position` is a slide index, or a time in ms when `timeGiven`.
    virtual bool OpenShow(const std::string& name, bool asPackage, bool timeGiven, bool checkPassword,
                          int position) = 0;
    virtual TCurrentShow CurrentShow() const = 0;
};

} // namespace kiv
