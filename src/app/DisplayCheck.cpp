#include "app/DisplayCheck.h"

#include "framework/ErrorBox.h"

#include <SDL.h>

namespace kiv {

bool DisplayColorDepthTooLow() {
    if (!MessageBoxDisplayAvailable()) return false;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    SDL_DisplayMode mode;
    const bool tooLow = SDL_GetDesktopDisplayMode(0, &mode) == 0 && SDL_BITSPERPIXEL(mode.format) < 16;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return tooLow;
}

} // namespace kiv
