// The one table that turns SDL's keys into the Windows virtual-key codes the input mapping works
// with (KeyMap.h), and SDL's modifier and button state into the mapping's modifier bits. The
// arguments are SDL_Keycode, SDL_Scancode, SDL_Keymod and SDL_GetMouseState's button mask as plain
// integers, so that users of this header need not include SDL.
#pragma once

#include <cstdint>

namespace kiv {

// The virtual-key code of an SDL key, 0 when it has none. The key code decides (so letters follow
// the keyboard layout, as virtual keys do); keys whose code is not a known one (letters of a
// non-Latin layout, for example) fall back to their position (the scan code).
int SdlKeyToVirtualKey(std::int32_t keycode, int scancode);

// Windows 1, Shift 2, Alt 4, Ctrl 8 from an SDL_Keymod.
int SdlKeyModifiers(std::uint16_t keymod);

// Left 16, right 32, middle 64 from an SDL button mask (SDL_BUTTON_LMASK ...).
int SdlMouseButtons(std::uint32_t buttonMask);

} // namespace kiv
