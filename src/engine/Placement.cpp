#include "engine/Placement.h"

#include <cmath>

namespace kiv {

namespace {

int Round(double v) {
    if (!std::isfinite(v)) return 0;
    return static_cast<int>(std::nearbyint(std::fmax(-1e9, std::fmin(1e9, v))));
}

} // namespace

TPlacedRect PlaceItem(double px, double py, double ax, double ay, const TShowRect& area, int w, int h) {
    TPlacedRect r;
    r.left = Round((px / 100.0 + 1.0) * area.Width() / 2.0) + area.left - Round(w * (ax + 100.0) / 200.0);
    r.top = Round((py / 100.0 + 1.0) * area.Height() / 2.0) + area.top - Round(h * (ay + 100.0) / 200.0);
    r.right = r.left + w;
    r.bottom = r.top + h;
    return r;
}

TPlacedRect PlaceAnchored(int anchor, double o, const TShowRect& area, int w, int h) {
    double px = 0, py = 0, ax = 0, ay = 0;
    switch (anchor) {
    case kAnchorLeftTop:
        px = o - 100, py = o - 100, ax = -100, ay = -100;
        break;
    case kAnchorTop:
        px = 0, py = o - 100, ax = 0, ay = -100;
        break;
    case kAnchorRightTop:
        px = 100 - o, py = o - 100, ax = 100, ay = -100;
        break;
    case kAnchorRight:
        px = 100 - o, py = 0, ax = 100, ay = 0;
        break;
    case kAnchorRightBottom:
        px = 100 - o, py = 100 - o, ax = 100, ay = 100;
        break;
    case kAnchorBottom:
        px = 0, py = 100 - o, ax = 0, ay = 100;
        break;
    case kAnchorLeftBottom:
        px = o - 100, py = 100 - o, ax = -100, ay = 100;
        break;
    case kAnchorLeft:
        px = o - 100, py = 0, ax = -100, ay = 0;
        break;
    default:
        break;
    }
    return PlaceItem(px, py, ax, ay, area, w, h);
}

} // namespace kiv
