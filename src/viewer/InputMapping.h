// TInputMappingClass: what the keys, mouse buttons and mouse moves of one open show mean. It is
// built from the show's project each time a show opens and replaced by the next successful open.
// Key bindings live in 256 chains indexed by Windows virtual-key code (KeyMap.h); the mouse has one
// action each for the left and right button releases and the left double-click. A show running as
// a screen saver ends on any key, any button and any move of more than 5 pixels. Main thread only.
#pragma once

#include "base/RefObject.h"
#include "viewer/ActionInfo.h"
#include "viewer/KeyMap.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kiv {

class TIniFile;

// Mouse events as the mapping sees them.
enum class TWindowMouseEvent { Move, ButtonDown, ButtonUp, DoubleClick };
enum class TMouseButton { None, Left, Right, Middle };

// Turns a mouse display name of the project ("Exit", "Next slide", "Prev. slide", "Help", "Pause",
// "Go to first", compared exactly) into its action; any other text gives kind 0.
TKivActionInfo MouseActionFromName(std::string_view name);

class TInputMappingClass : public TRefObject {
public:
    // Fires when the pointer has moved more than 5 pixels (|dx| + |dy|) from the reference
    // position; the first position seen is the first reference, and each firing position becomes
    // the next one. (The overlay's detector of the same name is another class: this one lives in
    // the mapping's scope so that the two never meet in one program.)
    class TMouseMoveDetector : public TRefObject {
    public:
        static constexpr int kThreshold = 5;
        // True when (x, y) fires.
        bool Check(int x, int y);

    protected:
        ~TMouseMoveDetector() override = default;

    private:
        std::optional<std::array<std::int64_t, 2>> reference_;
    };

    // An empty mapping: no bindings, control permitted.
    TInputMappingClass();
    // Builds the mapping from the project's [Main] and [Times] options.
    explicit TInputMappingClass(const TIniFile& project);

    // Adds a binding in front of the key's chain (so it is found before the older ones). Key codes
    // outside 0..255 are ignored.
    void AddKey(int keyCode, int modifierMask, int modifierValue, int eventFlag, TKivActionInfo action);
    // The binding for this key event, or nullptr. In screen-saver mode every key event (any code,
    // down or up) finds the one "exit" binding.
    const TKeyMap* FindKey(int modifiers, int keyCode, int eventFlag) const;
    // The first binding of a key's chain (nullptr when none or out of range).
    const TKeyMap* KeyChain(int keyCode) const;

    // The action of a mouse event at (x, y); kind 0 for none. `modifiers` holds the keyboard bits
    // and the buttons held during the event (for a button-down event, the pressed button too).
    // Feeds the move detector, if there is one, with every event.
    TKivActionInfo MouseAction(int modifiers, int x, int y, TWindowMouseEvent event, TMouseButton button);

    // The keys that let a user who has no control over the show still release a hold (a slide
    // waiting for the user): Pause, Space, Page Down, Right, browser Forward, media Next and
    // media Play/Pause.
    static bool ReleasesHold(int keyCode);

    bool ScreenSaver() const { return screenSaver_; }
    bool ControlPermitted() const { return controlPermitted_; }
    bool HasMoveDetector() const { return bool(moveDetector_); }
    const TKivActionInfo& LeftMouse() const { return leftMouse_; }
    const TKivActionInfo& RightMouse() const { return rightMouse_; }
    const TKivActionInfo& DoubleClick() const { return doubleClick_; }

protected:
    ~TInputMappingClass() override = default;

private:
    std::array<TRef<TKeyMap>, 256> keys_;
    TRef<TKeyMap> screenSaverKey_;
    TRef<TMouseMoveDetector> moveDetector_;
    TKivActionInfo leftMouse_;
    TKivActionInfo rightMouse_;
    TKivActionInfo doubleClick_;
    bool screenSaver_ = false;
    bool controlPermitted_ = true;
};

} // namespace kiv
