#include "render/Monitors.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>

namespace kiv {
namespace {

std::atomic<int> headlessWidth{1920};
std::atomic<int> headlessHeight{1080};

} // namespace

TScreen& TScreen::Instance() {
    static TScreen screen;
    return screen;
}

void TScreen::SetHeadlessSize(int width, int height) {
    headlessWidth = width;
    headlessHeight = height;
}

void TScreen::Refresh() {
    monitors_.clear();
    refreshRate_ = 60;
    dpi_ = {96, 96};
    if (SDL_WasInit(SDL_INIT_VIDEO)) {
        const int n = SDL_GetNumVideoDisplays();
        for (int i = 0; i < n; ++i) {
            SDL_Rect r{}, usable{};
            if (SDL_GetDisplayBounds(i, &r) != 0) continue;
            if (SDL_GetDisplayUsableBounds(i, &usable) != 0) usable = r;
            monitors_.push_back({i,
                                 {r.x, r.y, r.x + r.w, r.y + r.h},
                                 {usable.x, usable.y, usable.x + usable.w, usable.y + usable.h}});
        }
        SDL_DisplayMode mode{};
        if (!monitors_.empty() && SDL_GetCurrentDisplayMode(0, &mode) == 0 && mode.refresh_rate > 0)
            refreshRate_ = mode.refresh_rate;
        float hdpi = 0, vdpi = 0;
        if (!monitors_.empty() && SDL_GetDisplayDPI(0, nullptr, &hdpi, &vdpi) == 0 && hdpi > 0 && vdpi > 0)
            dpi_ = {static_cast<int>(hdpi), static_cast<int>(vdpi)};
    }
    if (monitors_.empty()) {
        const TRect r{0, 0, headlessWidth.load(), headlessHeight.load()};
        monitors_.push_back({0, r, r});
    }
}

TPoint TScreen::ScreenSize() const {
    const TRect& r = monitors_.front().rect;
    return {r.Width(), r.Height()};
}

TRect TScreen::CenteredRect(int width, int height) const {
    const TRect area = WorkArea();
    const int left = area.left + (area.Width() - width) / 2;
    const int top = area.top + (area.Height() - height) / 2;
    return {left, top, left + width, top + height};
}

TRect TScreen::DesktopRect() const {
    TRect r = monitors_.front().rect;
    for (const TMonitor& m : monitors_) {
        r.left = std::min(r.left, m.rect.left);
        r.top = std::min(r.top, m.rect.top);
        r.right = std::max(r.right, m.rect.right);
        r.bottom = std::max(r.bottom, m.rect.bottom);
    }
    return r;
}

TRect TScreen::MonitorRect(int index) const {
    if (index < 0 || index >= MonitorCount()) return {};
    return monitors_[static_cast<std::size_t>(index)].rect;
}

int TScreen::MonitorForRect(const TRect& rect) const {
    int best = 0;
    long long bestArea = 0;
    for (std::size_t i = 0; i < monitors_.size(); ++i) {
        const TRect r = Intersect(monitors_[i].rect, rect);
        const long long area = static_cast<long long>(r.Width()) * r.Height();
        if (area > bestArea) {
            bestArea = area;
            best = static_cast<int>(i);
        }
    }
    return best;
}

} // namespace kiv
