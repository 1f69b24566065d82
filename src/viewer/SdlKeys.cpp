#include "viewer/SdlKeys.h"

#include "viewer/KeyMap.h"

#include <SDL.h>

namespace kiv {

namespace {

int ByKeycode(SDL_Keycode key) {
    if (key >= SDLK_a && key <= SDLK_z) return vk::KeyA + (key - SDLK_a);
    if (key >= SDLK_0 && key <= SDLK_9) return vk::Key0 + (key - SDLK_0);
    if (key >= SDLK_F1 && key <= SDLK_F12) return vk::F1 + (key - SDLK_F1);
    if (key >= SDLK_F13 && key <= SDLK_F24) return vk::F1 + 12 + (key - SDLK_F13);
    if (key >= SDLK_KP_1 && key <= SDLK_KP_9) return vk::Numpad0 + 1 + (key - SDLK_KP_1);
    switch (key) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
    case SDLK_RETURN2:
        return vk::Return;
    case SDLK_ESCAPE:
        return vk::Escape;
    case SDLK_BACKSPACE:
        return vk::Back;
    case SDLK_TAB:
        return vk::Tab;
    case SDLK_SPACE:
        return vk::Space;
    case SDLK_PAUSE:
        return vk::Pause;
    case SDLK_PRINTSCREEN:
        return vk::Snapshot;
    case SDLK_SCROLLLOCK:
        return vk::ScrollLock;
    case SDLK_NUMLOCKCLEAR:
        return vk::NumLock;
    case SDLK_CAPSLOCK:
        return vk::Capital;
    case SDLK_INSERT:
        return vk::Insert;
    case SDLK_DELETE:
        return vk::Delete;
    case SDLK_HOME:
        return vk::Home;
    case SDLK_END:
        return vk::End;
    case SDLK_PAGEUP:
        return vk::Prior;
    case SDLK_PAGEDOWN:
        return vk::Next;
    case SDLK_LEFT:
        return vk::Left;
    case SDLK_RIGHT:
        return vk::Right;
    case SDLK_UP:
        return vk::Up;
    case SDLK_DOWN:
        return vk::Down;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
        return vk::Shift;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
        return vk::Control;
    case SDLK_LALT:
    case SDLK_RALT:
        return vk::Menu;
    case SDLK_LGUI:
        return vk::LWin;
    case SDLK_RGUI:
        return vk::RWin;
    case SDLK_APPLICATION:
    case SDLK_MENU:
        return vk::Apps;
    case SDLK_KP_0:
        return vk::Numpad0;
    case SDLK_KP_MULTIPLY:
        return vk::Multiply;
    case SDLK_KP_PLUS:
        return vk::Add;
    case SDLK_KP_MINUS:
        return vk::Subtract;
    case SDLK_KP_PERIOD:
    case SDLK_KP_DECIMAL:
        return vk::Decimal;
    case SDLK_KP_DIVIDE:
        return vk::Divide;
    case SDLK_SEMICOLON:
        return vk::Oem1;
    case SDLK_EQUALS:
        return vk::OemPlus;
    case SDLK_COMMA:
        return vk::OemComma;
    case SDLK_MINUS:
        return vk::OemMinus;
    case SDLK_PERIOD:
        return vk::OemPeriod;
    case SDLK_SLASH:
        return vk::Oem2;
    case SDLK_BACKQUOTE:
        return vk::Oem3;
    case SDLK_LEFTBRACKET:
        return vk::Oem4;
    case SDLK_BACKSLASH:
        return vk::Oem5;
    case SDLK_RIGHTBRACKET:
        return vk::Oem6;
    case SDLK_QUOTE:
        return vk::Oem7;
    // Media keys.
    case SDLK_AUDIONEXT:
        return vk::MediaNextTrack;
    case SDLK_AUDIOPREV:
        return vk::MediaPrevTrack;
    case SDLK_AUDIOSTOP:
        return vk::MediaStop;
    case SDLK_AUDIOPLAY:
        return vk::MediaPlayPause; // X11 and Wayland report Play/Pause as "play"
    case SDLK_AUDIOMUTE:
    case SDLK_MUTE:
        return vk::VolumeMute;
    case SDLK_VOLUMEDOWN:
        return vk::VolumeDown;
    case SDLK_VOLUMEUP:
        return vk::VolumeUp;
    case SDLK_MEDIASELECT:
        return vk::LaunchMediaSelect;
    case SDLK_MAIL:
        return vk::LaunchMail;
    case SDLK_COMPUTER:
        return vk::LaunchApp1;
    case SDLK_CALCULATOR:
        return vk::LaunchApp2;
    // Browser keys.
    case SDLK_AC_BACK:
        return vk::BrowserBack;
    case SDLK_AC_FORWARD:
        return vk::BrowserForward;
    case SDLK_AC_REFRESH:
        return vk::BrowserRefresh;
    case SDLK_AC_STOP:
        return vk::BrowserStop;
    case SDLK_AC_SEARCH:
        return vk::BrowserSearch;
    case SDLK_AC_BOOKMARKS:
        return vk::BrowserFavorites;
    case SDLK_AC_HOME:
        return vk::BrowserHome;
    default:
        return 0;
    }
}

int ByScancode(int scancode) {
    if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z)
        return vk::KeyA + (scancode - SDL_SCANCODE_A);
    if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9)
        return vk::Key0 + 1 + (scancode - SDL_SCANCODE_1);
    if (scancode == SDL_SCANCODE_0) return vk::Key0;
    if (scancode == SDL_SCANCODE_NONUSBACKSLASH) return vk::Oem102;
    // Every other position has a fixed key code; ask SDL for it.
    if (scancode > SDL_SCANCODE_UNKNOWN && scancode < SDL_NUM_SCANCODES)
        return ByKeycode(SDL_SCANCODE_TO_KEYCODE(scancode));
    return 0;
}

} // namespace

int SdlKeyToVirtualKey(std::int32_t keycode, int scancode) {
    if (const int code = ByKeycode(keycode)) return code;
    return ByScancode(scancode);
}

int SdlKeyModifiers(std::uint16_t keymod) {
    int bits = 0;
    if (keymod & KMOD_GUI) bits |= kModWin;
    if (keymod & KMOD_SHIFT) bits |= kModShift;
    if (keymod & KMOD_ALT) bits |= kModAlt;
    if (keymod & KMOD_CTRL) bits |= kModCtrl;
    return bits;
}

int SdlMouseButtons(std::uint32_t buttonMask) {
    int bits = 0;
    if (buttonMask & SDL_BUTTON_LMASK) bits |= kModLeftButton;
    if (buttonMask & SDL_BUTTON_RMASK) bits |= kModRightButton;
    if (buttonMask & SDL_BUTTON_MMASK) bits |= kModMiddleButton;
    return bits;
}

} // namespace kiv
