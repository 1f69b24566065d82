// TScreen: the process-wide list of monitors and the desktop, made on first use. Monitors come
// from SDL while its video subsystem runs; otherwise (headless) there is one monitor of the
// headless size at 96 dpi.
#pragma once

#include "render/RenderTypes.h"

#include <vector>

namespace kiv {

struct TMonitor {
    int index = 0;
    TRect rect;
    TRect workArea;
};

class TScreen {
public:
    static TScreen& Instance();

    int MonitorCount() const { return static_cast<int>(monitors_.size()); }
    const TMonitor& Monitor(int index) const { return monitors_[static_cast<std::size_t>(index)]; }
    // The primary monitor's size.
    TPoint ScreenSize() const;
    int RefreshRate() const { return refreshRate_; }
    TPoint PixelsPerInch() const { return dpi_; }
    TRect WorkArea() const { return monitors_.front().workArea; }
    // A width × height rectangle centred in the work area (offsets rounded toward zero).
    TRect CenteredRect(int width, int height) const;
    // The bounding rectangle of all monitors.
    TRect DesktopRect() const;
    // The rectangle of a monitor; empty for an index that is none.
    TRect MonitorRect(int index) const;
    // The monitor with the largest overlap (the first on ties, the first when none overlaps).
    int MonitorForRect(const TRect& rect) const;

    // Reads the monitors again (SDL started or stopped; tests).
    void Refresh();
    // The headless monitor's size (default 1920 × 1080).
    static void SetHeadlessSize(int width, int height);

private:
    TScreen() { Refresh(); }
    std::vector<TMonitor> monitors_;
    int refreshRate_ = 60;
    TPoint dpi_{96, 96};
};

} // namespace kiv
