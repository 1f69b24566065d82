// TMainWindowActions: what input handling and actions need of the main window and the show viewer
// it owns. The main window implements it; tests implement it with a recording fake. Every call is
// made on the main thread. TShellState holds the window's flags that the actions and the close
// handler share.
#pragma once

#include "viewer/ActionInfo.h"
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

// A mouse event passed on to the engine.
struct TMouseInput {
    int modifiers = 0;
    int x = 0;
    int y = 0;
    int event = 0;  // TMouseEventKind as an integer
    int button = 0; // TMouseButton as an integer
};

class TMainWindowActions {
public:
    virtual ~TMainWindowActions() = default;

    virtual TShellState& State() = 0;

    // --- The viewer and its show ---
    virtual bool HasViewer() const = 0;
    // True while a show is open in the viewer.
    virtual bool ShowRunning() const = 0;
    virtual double CurrentTime() const = 0;
    virtual bool Paused() const = 0;
    virtual void SetPaused(bool paused) = 0;
    // Moves the show to `time` (ms); the pause state stays as it is.
    virtual void SeekTo(double time) = 0;
    // True while the engine stops at a slide that waits for the user.
    virtual bool EngineHolding() const = 0;
    virtual void ClearHold() = 0;
    // The open show's timeline; nullptr without a show.
    virtual const TSlideTimes* SlideTimes() const = 0;
    // The open show's project; nullptr without a show.
    virtual const TIniFile* Project() const = 0;

    // --- The engine's overlay ---
    virtual bool DialogOpen() const = 0;
    virtual void CloseTopDialog() = 0;
    // Hands an action to the engine ("help" while a show runs).
    virtual void SendActionToEngine(const TKivActionInfo& action) = 0;
    virtual bool CursorShown() const = 0;
    // The cursor poll run before each mouse event (hand cursor over objects with actions).
    virtual void PollCursor() = 0;
    // Hands a mouse event with its mapped action to the engine (objects under the pointer first).
    virtual void SendMouseToEngine(const TMouseInput& input, const TKivActionInfo& action) = 0;

    // --- The window ---
    // Asks the window to close; the close handler decides.
    virtual void Close() = 0;
    virtual void SetExitCode(int code) = 0;
    virtual void PrintCurrentSlide() = 0;
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
