#include "render/WinDevice.h"

#include <SDL.h>

namespace kiv {

TWinDevice::TWinDevice(SDL_Window* window) {
    SetHandle(window);
    windowId_ = window ? SDL_GetWindowID(window) : 0;
}

bool TWinDevice::HandleEvent(const SDL_Event& event) {
    if (event.type != SDL_WINDOWEVENT || windowId_ == 0 || event.window.windowID != windowId_) return false;
    switch (event.window.event) {
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        foreground_ = true;
        return true;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        foreground_ = false;
        return true;
    default:
        return false;
    }
}

} // namespace kiv
