// TInputHandler: the main window's handling of keys, mouse buttons, mouse moves and the wheel. It
// looks events up in the open show's input mapping and performs the actions, or hands them to the
// engine where the show's objects and dialogs see them first. Main thread only.
#pragma once

#include "base/RefObject.h"
#include "viewer/InputMapping.h"

#include <cstdint>
#include <functional>

namespace kiv {

class TMainWindowActions;
class TActionPerformer;

class TInputHandler {
public:
    // Mouse events this soon after the window was made are ignored (ms).
    static constexpr std::int64_t kStartGuardMs = 1000;
    // A wheel notch seeks this far without Ctrl (ms).
    static constexpr double kWheelStepMs = 700;

    // `clock` gives the process milliseconds (an injectable clock for tests); empty: the process
    // clock.
    TInputHandler(TMainWindowActions& window, TActionPerformer& performer,
                  std::function<std::int64_t()> clock = {});

    // The mapping of the show just opened, and whether the wheel may be used
    // (not [Main] opt_lockwheel).
    void SetMapping(TRef<TInputMappingClass> mapping) { mapping_ = std::move(mapping); }
    TInputMappingClass* Mapping() const { return mapping_.Get(); }
    void SetWheelEnabled(bool enabled) { wheelEnabled_ = enabled; }

    // A key event. Returns true when the handling ends here (the window's default key handling
    // must not follow): the startup-mode Enter, keys swallowed while a dialog is open, and a
    // "help" binding handed to the engine.
    bool KeyEvent(int modifiers, int keyCode, int eventFlag);

    // A mouse button event or move at (x, y) in window pixels.
    void MouseEvent(int modifiers, int x, int y, TWindowMouseEvent event, TMouseButton button);

    // A wheel turn in the window's units (120 per notch, positive away from the user); remainders
    // are carried to the next turn.
    void WheelEvent(int modifiers, int delta);

private:
    TMainWindowActions& window_;
    TActionPerformer& performer_;
    std::function<std::int64_t()> clock_;
    TRef<TInputMappingClass> mapping_;
    bool wheelEnabled_ = true;
    int wheelRest_ = 0;
};

} // namespace kiv
