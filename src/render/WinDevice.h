// TWinDevice: a draw device on an SDL window. It is in the foreground while its window has the
// input focus; the window's focus events, handed over by whoever pumps SDL's event queue (the
// main thread), keep that state.
#pragma once

#include "render/DrawDevice.h"

#include <atomic>
#include <cstdint>

struct SDL_Window;
union SDL_Event;

namespace kiv {

class TWinDevice : public TDrawDevice {
public:
    // A window just made counts as being in the foreground until it is told otherwise.
    explicit TWinDevice(SDL_Window* window);

    bool IsForeground() override { return foreground_.load(); }
    // Follows the focus events of this device's window; true when the event was one of them.
    bool HandleEvent(const SDL_Event& event);

protected:
    ~TWinDevice() override = default;

private:
    std::uint32_t windowId_ = 0;
    std::atomic<bool> foreground_{true};
};

} // namespace kiv
