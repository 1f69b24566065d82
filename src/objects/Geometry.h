// Points, vectors and the 3 × 3 matrices of object placement. World space is the screen in pixels
// (x to the right, y down) with z pointing away from the viewer, whose camera stands at a negative z.
// Matrices act on row vectors: p' = p × M, so the rows of a world matrix are the object's axes.
#pragma once

#include <array>
#include <cmath>

namespace kiv {

struct TVec2 {
    double x = 0.0;
    double y = 0.0;
};

struct TVec3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    friend TVec3 operator+(TVec3 a, TVec3 b) noexcept { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
    friend TVec3 operator-(TVec3 a, TVec3 b) noexcept { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
    friend TVec3 operator*(TVec3 a, double k) noexcept { return {a.x * k, a.y * k, a.z * k}; }
    friend bool operator==(TVec3 a, TVec3 b) noexcept { return a.x == b.x && a.y == b.y && a.z == b.z; }
};

inline double Dot(TVec3 a, TVec3 b) noexcept {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline TVec3 Cross(TVec3 a, TVec3 b) noexcept {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double Length(TVec3 a) noexcept {
    return std::sqrt(Dot(a, a));
}
inline bool IsFinite(TVec3 a) noexcept {
    return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}

// A rectangle of floats (texels of a picture, or slide units); right and bottom are exclusive.
struct TRectF {
    float left = 0.0f;
    float top = 0.0f;
    float right = 0.0f;
    float bottom = 0.0f;

    float Width() const noexcept { return right - left; }
    float Height() const noexcept { return bottom - top; }
    bool IsEmpty() const noexcept { return !(right > left) || !(bottom > top); }
    friend bool operator==(const TRectF&, const TRectF&) = default;
};

// Row-major 3 × 3 matrix; row i is m[i].
struct TMatrix3 {
    std::array<TVec3, 3> m{TVec3{1, 0, 0}, TVec3{0, 1, 0}, TVec3{0, 0, 1}};

    // a × b for row vectors: row i of the result is row i of a times b.
    friend TMatrix3 operator*(const TMatrix3& a, const TMatrix3& b) noexcept {
        TMatrix3 r;
        for (std::size_t i = 0; i < 3; ++i)
            r.m[i] = b.m[0] * a.m[i].x + b.m[1] * a.m[i].y + b.m[2] * a.m[i].z;
        return r;
    }
};

// An object's frame in world space: its anchor and its three axes (one unit of the object's own
// size along each). `valid` is false when the axes are degenerate or not finite: such an object is
// neither drawn nor hit.
struct TPlacement {
    TVec3 origin;
    TVec3 axisX{1, 0, 0};
    TVec3 axisY{0, 1, 0};
    TVec3 axisZ{0, 0, 1};
    double depth = 0.0; // z of the origin
    bool valid = true;

    // The world point of a local point (x, y, z) of the object.
    TVec3 Apply(double x, double y, double z = 0.0) const noexcept {
        return origin + axisX * x + axisY * y + axisZ * z;
    }
    friend bool operator==(const TPlacement& a, const TPlacement& b) noexcept {
        return a.origin == b.origin && a.axisX == b.axisX && a.axisY == b.axisY && a.axisZ == b.axisZ &&
               a.valid == b.valid;
    }
};

// Sine and cosine of an angle in degrees. Whole quarter turns are taken off exactly, so that
// multiples of 90° give exact 0, 1 and −1; the rest (at most 45°) goes through polynomials good to
// about one unit in the last place. Finite angles of magnitude up to 1e15; others give (0, 1).
inline void SinCosDegrees(double degrees, double& sine, double& cosine) noexcept {
    if (!(std::fabs(degrees) <= 1e15)) {
        sine = 0.0;
        cosine = 1.0;
        return;
    }
    // Rounded to the nearest whole number by adding and taking off 1.5 × 2^52 (no library call).
    constexpr double kRound = 6755399441055744.0;
    const double turns = (degrees * (1.0 / 90.0) + kRound) - kRound;
    const double rest = degrees - turns * 90.0; // exact: both terms are close
    const double x = rest * 0.017453292519943295;
    const double x2 = x * x;
    // Taylor series; for |x| ≤ π/4 the first omitted terms stay below 5e-17.
    const double s =
        x * (1.0 + x2 * (-1.0 / 6 +
                         x2 * (1.0 / 120 +
                               x2 * (-1.0 / 5040 +
                                     x2 * (1.0 / 362880 +
                                           x2 * (-1.0 / 39916800 +
                                                 x2 * (1.0 / 6227020800 + x2 * (-1.0 / 1307674368000))))))));
    const double c =
        1.0 +
        x2 * (-1.0 / 2 +
              x2 * (1.0 / 24 + x2 * (-1.0 / 720 +
                                     x2 * (1.0 / 40320 + x2 * (-1.0 / 3628800 +
                                                               x2 * (1.0 / 479001600 +
                                                                     x2 * (-1.0 / 87178291200 +
                                                                           x2 * (1.0 / 20922789888000))))))));
    switch (static_cast<long long>(turns) & 3) { // two's complement: −1 & 3 is 3
    case 0:
        sine = s;
        cosine = c;
        break;
    case 1:
        sine = c;
        cosine = -s;
        break;
    case 2:
        sine = -s;
        cosine = -c;
        break;
    default:
        sine = -c;
        cosine = s;
        break;
    }
}

// Where the ray from `eye` through `target` meets the plane of `placement`, in the plane's own
// axes (x along axisX, y along axisY). False when the ray runs parallel to the plane, the plane
// lies behind the eye, or the placement is not valid.
bool IntersectPlane(const TPlacement& placement, TVec3 eye, TVec3 target, TVec2& local) noexcept;

// True when `eye` lies on the side of the placement's plane that axisX × axisY points to: the
// viewer sees the object's back.
bool SeesBack(const TPlacement& placement, TVec3 eye) noexcept;

} // namespace kiv
