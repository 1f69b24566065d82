#include "viewer/ShowViewerModes.h"

#include "framework/CommandLine.h"

#include <algorithm>
#include <cmath>

namespace kiv {

namespace {

int RoundSide(double value) {
    return static_cast<int>(std::nearbyint(value));
}

bool Fits(int width, int height, const TRect& area) {
    return width <= area.Width() && height <= area.Height();
}

} // namespace

TDisplaySwitches ReadDisplaySwitches(const TCommandLine& commandLine) {
    TDisplaySwitches switches;
    switches.resize = commandLine.HasSwitch("resize");
    switches.desktopAlign = commandLine.HasSwitch("desktopalign");
    switches.display = commandLine.IntValue("display");
    switches.fullScreen = commandLine.HasSwitch("fullscreen");
    switches.window = !switches.fullScreen && commandLine.HasSwitch("window");
    return switches;
}

TRect TargetArea(const TDisplaySwitches& switches, const TDisplayLayout& layout) {
    if (layout.monitors.empty()) return layout.desktop;
    if (switches.desktopAlign) {
        TRect all = layout.monitors.front();
        for (const TRect& m : layout.monitors) {
            all.left = std::min(all.left, m.left);
            all.top = std::min(all.top, m.top);
            all.right = std::max(all.right, m.right);
            all.bottom = std::max(all.bottom, m.bottom);
        }
        return all;
    }
    const int count = static_cast<int>(layout.monitors.size());
    if (switches.display && *switches.display >= 1 && *switches.display <= count)
        return layout.monitors[static_cast<std::size_t>(*switches.display - 1)];
    const int primary = layout.primary >= 0 && layout.primary < count ? layout.primary : 0;
    return layout.monitors[static_cast<std::size_t>(primary)];
}

TWindowPlacement PlaceShowWindow(int width, int height, int mode, const TDisplaySwitches& switches,
                                 const TDisplayLayout& layout, const TFrameSize& frame) {
    TWindowPlacement placement;
    placement.fullScreen = mode == 0;
    if (mode == 1) placement.frame = switches.resize ? TWindowFrame::Resizable : TWindowFrame::Fixed;
    const TFrameSize border = mode == 1 ? frame : TFrameSize{};
    const TRect area = TargetArea(switches, layout);
    placement.area = area;

    int clientWidth = mode == 0 ? area.Width() : width;
    int clientHeight = mode == 0 ? area.Height() : height;
    clientWidth = std::max(clientWidth, 1);
    clientHeight = std::max(clientHeight, 1);

    if (!Fits(clientWidth + border.Width(), clientHeight + border.Height(), area)) {
        const double scale = std::min(static_cast<double>(area.Height() - border.Height()) / clientHeight,
                                      static_cast<double>(area.Width() - border.Width()) / clientWidth);
        clientWidth = std::max(RoundSide(clientWidth * scale), 1);
        clientHeight = std::max(RoundSide(clientHeight * scale), 1);
    }

    const int windowWidth = clientWidth + border.Width();
    const int windowHeight = clientHeight + border.Height();
    // Half the free space, rounded toward zero.
    const int left = area.left + (area.Width() - windowWidth) / 2;
    const int top = area.top + (area.Height() - windowHeight) / 2;
    placement.window = {left, top, left + windowWidth, top + windowHeight};
    placement.clientWidth = clientWidth;
    placement.clientHeight = clientHeight;
    placement.clientOrigin = {left + border.left, top + border.top};
    return placement;
}

} // namespace kiv
