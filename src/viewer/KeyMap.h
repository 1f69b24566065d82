// TKeyMap: one key binding of the input mapping. Bindings of the same key form a chain (the newest
// first); the chain owns its rest, so freeing the head frees the whole chain. Key codes are Windows
// virtual-key codes (0..255), whatever the input layer; SdlKeys.h translates SDL's keys to them.
#pragma once

#include "base/RefObject.h"
#include "viewer/ActionInfo.h"

#include <cstdint>

namespace kiv {

// Modifier bits of the key and mouse state.
enum TModifierBits : int {
    kModWin = 1,
    kModShift = 2,
    kModAlt = 4,
    kModCtrl = 8,
    kModLeftButton = 16,
    kModRightButton = 32,
    kModMiddleButton = 64,
};

// The Windows virtual-key codes the player binds or looks at.
namespace vk {
constexpr int Back = 0x08, Tab = 0x09, Return = 0x0D, Shift = 0x10, Control = 0x11, Menu = 0x12;
constexpr int Pause = 0x13, Capital = 0x14, Escape = 0x1B, Space = 0x20;
constexpr int Prior = 0x21, Next = 0x22, End = 0x23, Home = 0x24;
constexpr int Left = 0x25, Up = 0x26, Right = 0x27, Down = 0x28;
constexpr int Snapshot = 0x2C, Insert = 0x2D, Delete = 0x2E;
constexpr int Key0 = 0x30, KeyA = 0x41, KeyP = 0x50, KeyZ = 0x5A; // '0'..'9', 'A'..'Z'
constexpr int LWin = 0x5B, RWin = 0x5C, Apps = 0x5D;
constexpr int Numpad0 = 0x60, Multiply = 0x6A, Add = 0x6B, Subtract = 0x6D, Decimal = 0x6E, Divide = 0x6F;
constexpr int F1 = 0x70, F11 = 0x7A; // F1..F24 = 0x70..0x87
constexpr int NumLock = 0x90, ScrollLock = 0x91;
constexpr int BrowserBack = 0xA6, BrowserForward = 0xA7, BrowserRefresh = 0xA8, BrowserStop = 0xA9;
constexpr int BrowserSearch = 0xAA, BrowserFavorites = 0xAB, BrowserHome = 0xAC;
constexpr int VolumeMute = 0xAD, VolumeDown = 0xAE, VolumeUp = 0xAF;
constexpr int MediaNextTrack = 0xB0, MediaPrevTrack = 0xB1, MediaStop = 0xB2, MediaPlayPause = 0xB3;
constexpr int LaunchMail = 0xB4, LaunchMediaSelect = 0xB5, LaunchApp1 = 0xB6, LaunchApp2 = 0xB7;
constexpr int Oem1 = 0xBA, OemPlus = 0xBB, OemComma = 0xBC, OemMinus = 0xBD, OemPeriod = 0xBE;
constexpr int Oem2 = 0xBF, Oem3 = 0xC0, Oem4 = 0xDB, Oem5 = 0xDC, Oem6 = 0xDD, Oem7 = 0xDE, Oem102 = 0xE2;
} // namespace vk

// Event flag of a binding and of a lookup.
enum TKeyEventFlag : int { kKeyUp = 0, kKeyDown = 1 };

class TKeyMap : public TRefObject {
public:
    TKeyMap(int modifierMask, int modifierValue, int eventFlag, TKivActionInfo action)
        : mask_(modifierMask), value_(modifierValue), event_(eventFlag), action_(std::move(action)) {}

    // True when this binding answers the event with these modifiers.
    bool Matches(int modifiers, int eventFlag) const {
        return event_ == eventFlag && (modifiers & mask_) == value_;
    }

    // The first binding of the chain starting here that matches, or nullptr.
    const TKeyMap* Find(int modifiers, int eventFlag) const;

    const TKeyMap* NextBinding() const { return next_.Get(); }
    // Makes `next` the rest of this chain (this binding then owns it).
    void SetNextBinding(TRef<TKeyMap> next) { next_ = std::move(next); }

    int ModifierMask() const { return mask_; }
    int ModifierValue() const { return value_; }
    int EventFlag() const { return event_; }
    const TKivActionInfo& Action() const { return action_; }

protected:
    ~TKeyMap() override = default;

private:
    TRef<TKeyMap> next_;
    int mask_;
    int value_;
    int event_;
    TKivActionInfo action_;
};

} // namespace kiv
