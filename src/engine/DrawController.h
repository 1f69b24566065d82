// TKivDrawController: the engine's hold on the draw device and the slide drawer made on it. It
// reports the device's state each frame as a bit set: ready (the drawer's screen has a renderer),
// lost (the renderer was killed since it was last ready), repaint (the window asked for one or its
// rectangle changed) and active (the window has the input focus).
//
// A messenger parked on the device clears the controller's device pointer when the device is
// destroyed first; the controller removes its messenger and refresh callback when it goes first.
#pragma once

#include "base/RefObject.h"
#include "render/RenderTypes.h"

#include <atomic>

namespace kiv {

class TDrawDevice;
class T3DDrawer;
class TDeviceKilledMessenger2;

enum TDrawState : unsigned {
    dsReady = 1,
    dsLost = 2,
    dsRepaint = 4,
    dsActive = 8,
};

class TKivDrawController {
public:
    // With `ownsDevice` the controller keeps a reference to the device and destroys it at its end.
    TKivDrawController(TDrawDevice* device, bool ownsDevice);
    ~TKivDrawController();
    TKivDrawController(const TKivDrawController&) = delete;
    TKivDrawController& operator=(const TKivDrawController&) = delete;

    // Creates the drawer on first use (its screen's lost callback is RndLost), then binds it to
    // the device.
    void InitDrawer();
    unsigned GetState();
    // The device rectangle's size; 0 × 0 without a device.
    TPoint GetClientSize() const;

    void RndLost();
    void DeviceRefresh();
    // The device destroyed the messenger: the device is gone.
    void DeviceKilled();

    T3DDrawer* Drawer() const { return drawer_.Get(); }
    TDrawDevice* Device() const { return device_; }
    bool Lost() const { return lost_.load(); }
    // Releases the drawer (and the device when owned); engine thread, at the end of the show.
    void ReleaseDrawer();

private:
    TDrawDevice* device_;
    bool ownsDevice_;
    TRef<T3DDrawer> drawer_;
    TDeviceKilledMessenger2* messenger_ = nullptr;
    std::atomic<bool> refreshRequested_{false};
    std::atomic<bool> lost_{false};
};

} // namespace kiv
