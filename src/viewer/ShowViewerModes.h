// Where the show window goes and how it looks for a window mode the engine reports: full screen
// (mode 0), a framed window (1) or a window without frame (2). The target area is the whole
// desktop with "desktopalign", else the monitor "display" names (counted from 1) when it exists,
// else the primary one. A window larger than its area is scaled down to fit, keeping its aspect,
// and every window is centred in its area. Pure arithmetic: the show viewer applies the result to
// the SDL window and its draw device.
#pragma once

#include "render/RenderTypes.h"

#include <optional>
#include <vector>

namespace kiv {

class TCommandLine;

enum class TWindowFrame {
    None,      // modes 0 and 2
    Fixed,     // mode 1: caption and border, fixed size
    Resizable, // mode 1 with the switch "resize"
};

// The display switches of the command line.
struct TDisplaySwitches {
    bool resize = false;
    bool desktopAlign = false;
    // The value of "display" when it is a whole number.
    std::optional<int> display;
    // "fullscreen" and "window" override the show's own mode: full screen on the target area, or
    // a framed window of the show's size ("fullscreen" wins when both are given).
    bool fullScreen = false;
    bool window = false;
};

TDisplaySwitches ReadDisplaySwitches(const TCommandLine& commandLine);

// The monitors in the system's order and which of them is primary. No monitors: the desktop
// rectangle stands for the only one.
struct TDisplayLayout {
    std::vector<TRect> monitors;
    int primary = 0;
    TRect desktop;
};

// What a frame adds around the client area (caption and borders).
struct TFrameSize {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return left + right; }
    int Height() const { return top + bottom; }
};

struct TWindowPlacement {
    TWindowFrame frame = TWindowFrame::None;
    bool fullScreen = false;
    // The target area the window was centred in.
    TRect area;
    // The window with its frame, on the desktop.
    TRect window;
    // The client area's size and its top-left corner on the desktop.
    int clientWidth = 0;
    int clientHeight = 0;
    TPoint clientOrigin;
};

// The area a show window is placed in.
TRect TargetArea(const TDisplaySwitches& switches, const TDisplayLayout& layout);

// Places a window of `width` × `height` client pixels in `mode`. `frame` is what the system's
// frame adds to a framed window (mode 1 only). Sizes below one pixel (a damaged project) count
// as one pixel, so nothing divides by zero and the window stays on screen.
TWindowPlacement PlaceShowWindow(int width, int height, int mode, const TDisplaySwitches& switches,
                                 const TDisplayLayout& layout, const TFrameSize& frame);

} // namespace kiv
