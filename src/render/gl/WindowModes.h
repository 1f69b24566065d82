// The window side of full-screen drawing on SDL windows: "exclusive" full screen is SDL's full
// screen at the desktop's display mode, in the topmost band; a full-screen show that is not
// exclusive (not allowed, or in the background) runs full-window in SDL's desktop full screen.
// Main thread only, as every SDL window call.
#pragma once

#include "render/RenderTypes.h"

#include <cstdint>

struct SDL_Window;

namespace kiv {

// Puts a full-screen show's window into exclusive or full-window mode.
void EnterFullScreenMode(SDL_Window* window, bool exclusive);
// Takes the window out of the topmost band; an exclusive window goes full-window.
void LeaveTopmostBand(SDL_Window* window);
// Puts the window of that id (if it still exists) back over `rect` and shows it: after full
// screen, exclusive mode ends with its device. Logs "Setwndposlocal " with the rectangle.
void RestoreWindowPlacement(std::uint32_t windowId, const TRect& rect);
// The id of a window, 0 for none.
std::uint32_t WindowId(SDL_Window* window);

} // namespace kiv
