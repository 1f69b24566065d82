#include "render/gl/WindowModes.h"

#include "base/Log.h"

#include <SDL.h>

namespace kiv {
namespace {

bool IsExclusive(SDL_Window* window) {
    return (SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN_DESKTOP) == SDL_WINDOW_FULLSCREEN;
}

} // namespace

void EnterFullScreenMode(SDL_Window* window, bool exclusive) {
    if (!window) return;
    if (exclusive) {
        // The desktop's own mode: the show never changes the display's resolution.
        SDL_DisplayMode mode{};
        const int display = SDL_GetWindowDisplayIndex(window);
        if (display >= 0 && SDL_GetDesktopDisplayMode(display, &mode) == 0)
            SDL_SetWindowDisplayMode(window, &mode);
        if (SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN) != 0)
            TLog::Line(std::string("Exclusive full screen failed: ") + SDL_GetError());
        SDL_SetWindowAlwaysOnTop(window, SDL_TRUE);
        TLog::Line("Full screen: exclusive");
    } else {
        SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP);
        SDL_SetWindowAlwaysOnTop(window, SDL_FALSE);
        TLog::Line("Full screen: full-window");
    }
}

void LeaveTopmostBand(SDL_Window* window) {
    if (!window) return;
    SDL_SetWindowAlwaysOnTop(window, SDL_FALSE);
    if (IsExclusive(window)) SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP);
    TLog::Line("Full screen: out of the topmost band");
}

void RestoreWindowPlacement(std::uint32_t windowId, const TRect& rect) {
    SDL_Window* window = windowId ? SDL_GetWindowFromID(windowId) : nullptr;
    if (!window) return;
    if (IsExclusive(window)) SDL_SetWindowFullscreen(window, 0);
    SDL_SetWindowAlwaysOnTop(window, SDL_FALSE);
    SDL_SetWindowPosition(window, rect.left, rect.top);
    if (!rect.IsEmpty()) SDL_SetWindowSize(window, rect.Width(), rect.Height());
    SDL_ShowWindow(window);
    TLog::Line("Setwndposlocal " + RectText(rect));
}

std::uint32_t WindowId(SDL_Window* window) {
    return window ? SDL_GetWindowID(window) : 0;
}

} // namespace kiv
