#include "objects/Geometry.h"

namespace kiv {

bool IntersectPlane(const TPlacement& placement, TVec3 eye, TVec3 target, TVec2& local) noexcept {
    if (!placement.valid) return false;
    // eye + t·d = origin + u·ax + v·ay, solved by Cramer's rule: u·ax + v·ay − t·d = eye − origin.
    const TVec3 d = target - eye;
    const TVec3 ax = placement.axisX;
    const TVec3 ay = placement.axisY;
    const TVec3 md = d * -1.0;
    const TVec3 r = eye - placement.origin;
    const double det = Dot(ax, Cross(ay, md));
    if (!std::isfinite(det) || std::fabs(det) < 1e-12 * (Length(ax) * Length(ay) * Length(d) + 1e-300))
        return false;
    const double u = Dot(r, Cross(ay, md)) / det;
    const double v = Dot(ax, Cross(r, md)) / det;
    const double t = Dot(ax, Cross(ay, r)) / det;
    if (!(t > 0.0) || !std::isfinite(u) || !std::isfinite(v)) return false;
    local = {u, v};
    return true;
}

bool SeesBack(const TPlacement& placement, TVec3 eye) noexcept {
    const TVec3 normal = Cross(placement.axisX, placement.axisY);
    return Dot(eye - placement.origin, normal) > 0.0;
}

} // namespace kiv
