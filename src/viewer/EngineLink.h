// TEngineLink: the main window's way to the playback engine, which runs on its own thread. Every
// call is made on the main thread and its name says how it crosses:
//   Post... puts a message on the engine's queue and returns at once; the engine acts on its next
//           pass. Posts made while no engine exists are dropped.
//   Send... waits until the engine thread has answered (or has done what was asked), so the
//           caller sees the engine's state as it is now.
// The show viewer implements it; tests implement it with a recording fake.
#pragma once

#include "viewer/ActionInfo.h"

namespace kiv {

// A mouse event passed on to the engine.
struct TMouseInput {
    int modifiers = 0;
    int x = 0;
    int y = 0;
    int event = 0;  // TWindowMouseEvent as an integer
    int button = 0; // TMouseButton as an integer
};

class TEngineLink {
public:
    virtual ~TEngineLink() = default;

    // --- Posts ---
    // Moves the show to `time` (ms); the pause state stays as it is. The viewer records the time as
    // the current time at once (TMainWindowActions::CurrentTime).
    virtual void PostSeek(double time) = 0;
    // Pauses or resumes; the viewer records the state at once (TMainWindowActions::Paused) and
    // posts only a change.
    virtual void PostPaused(bool paused) = 0;
    // Prints the picture on screen (the engine hands it back to the print path).
    virtual void PostPrint() = 0;
    virtual void PostCloseTopDialog() = 0;
    // An action for the engine's overlay ("help" while a show runs).
    virtual void PostAction(const TKivActionInfo& action) = 0;
    // A mouse event with the action the mapping chose; objects under the pointer see it first.
    virtual void PostMouse(const TMouseInput& input, const TKivActionInfo& action) = 0;

    // --- Sends ---
    // True while the engine stops at a slide that waits for the user.
    virtual bool SendHolding() = 0;
    // Ends such a stop; the engine holds no longer when this returns.
    virtual void SendClearHold() = 0;
    // True while the engine's overlay shows a dialog.
    virtual bool SendDialogOpen() = 0;
    // The cursor poll run before each mouse event: asks the engine what lies under the pointer and
    // shows the hand cursor over objects with actions.
    virtual void SendPollCursor() = 0;
};

} // namespace kiv
