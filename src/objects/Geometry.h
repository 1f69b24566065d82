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

// Where the ray from `eye` through `target` meets the plane of `placement`, in the plane's own
// axes (x along axisX, y along axisY). False when the ray runs parallel to the plane, the plane
// lies behind the eye, or the placement is not valid.
bool IntersectPlane(const TPlacement& placement, TVec3 eye, TVec3 target, TVec2& local) noexcept;

// True when `eye` lies on the side of the placement's plane that axisX × axisY points to: the
// viewer sees the object's back.
bool SeesBack(const TPlacement& placement, TVec3 eye) noexcept;

} // namespace kiv
