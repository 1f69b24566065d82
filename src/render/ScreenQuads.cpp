// Anti-aliased quads of the screen: a 4 × 4 grid whose outer points form a transparent one-pixel
// fringe around the quad, so that its edges fade out over one pixel.
#include "render/Screen.h"

#include <cmath>

namespace kiv {
namespace {

struct TVec {
    double x = 0, y = 0;
};
TVec operator+(TVec a, TVec b) {
    return {a.x + b.x, a.y + b.y};
}
TVec operator-(TVec a, TVec b) {
    return {a.x - b.x, a.y - b.y};
}
TVec operator*(TVec a, double k) {
    return {a.x * k, a.y * k};
}
double Dot(TVec a, TVec b) {
    return a.x * b.x + a.y * b.y;
}
double Length(TVec a) {
    return std::sqrt(Dot(a, a));
}

// Moves a corner so that both adjacent fringes stay one pixel wide.
TVec Miter(TVec a, TVec b) {
    const TVec sum = a + b;
    const double sq = Dot(sum, sum);
    if (sq == 0) return {};
    return sum * (2 * Length(a) * Length(b) / sq);
}

// The projective map of the unit square onto a screen quad (p0 at (0, 0), p1 at (1, 0), p2 at
// (1, 1), p3 at (0, 1)), and its inverse.
struct THomography {
    double m[3][3] = {};

    static THomography SquareTo(TVec p0, TVec p1, TVec p2, TVec p3) {
        THomography h;
        const double sx = p0.x - p1.x + p2.x - p3.x, sy = p0.y - p1.y + p2.y - p3.y;
        double g = 0, k = 0;
        if (std::fabs(sx) > 1e-12 || std::fabs(sy) > 1e-12) {
            const double dx1 = p1.x - p2.x, dx2 = p3.x - p2.x, dy1 = p1.y - p2.y, dy2 = p3.y - p2.y;
            const double den = dx1 * dy2 - dx2 * dy1;
            if (den != 0) {
                g = (sx * dy2 - dx2 * sy) / den;
                k = (dx1 * sy - sx * dy1) / den;
            }
        }
        h.m[0][0] = p1.x - p0.x + g * p1.x;
        h.m[0][1] = p3.x - p0.x + k * p3.x;
        h.m[0][2] = p0.x;
        h.m[1][0] = p1.y - p0.y + g * p1.y;
        h.m[1][1] = p3.y - p0.y + k * p3.y;
        h.m[1][2] = p0.y;
        h.m[2][0] = g;
        h.m[2][1] = k;
        h.m[2][2] = 1;
        return h;
    }
    // Screen point → (s, t).
    TVec Inverse(TVec p) const {
        const auto& a = m;
        // The adjugate of the matrix applied to (x, y, 1).
        const double i00 = a[1][1] * a[2][2] - a[1][2] * a[2][1], i01 = a[0][2] * a[2][1] - a[0][1] * a[2][2],
                     i02 = a[0][1] * a[1][2] - a[0][2] * a[1][1];
        const double i10 = a[1][2] * a[2][0] - a[1][0] * a[2][2], i11 = a[0][0] * a[2][2] - a[0][2] * a[2][0],
                     i12 = a[0][2] * a[1][0] - a[0][0] * a[1][2];
        const double i20 = a[1][0] * a[2][1] - a[1][1] * a[2][0], i21 = a[0][1] * a[2][0] - a[0][0] * a[2][1],
                     i22 = a[0][0] * a[1][1] - a[0][1] * a[1][0];
        const double s = i00 * p.x + i01 * p.y + i02, t = i10 * p.x + i11 * p.y + i12,
                     w = i20 * p.x + i21 * p.y + i22;
        if (w == 0) return {};
        return {s / w, t / w};
    }
};

} // namespace

void T3DScreen::DrawQuad(const std::vector<TCustomTexture*>& textures, unsigned edgeFlags,
                         const std::array<std::uint32_t, 4>& cornerColors,
                         const std::array<TGridPoint, 16>& grid) {
    if (!ready_ || !renderer_) return;
    batch_->Begin(textures, static_cast<int>(textures.size()));
    batch_->Forced = true;
    auto color = [&](int row, int column) {
        const int corner = (row < 2 ? 0 : 2) + (column < 2 ? 0 : 1);
        std::uint32_t c = cornerColors[static_cast<std::size_t>(corner)];
        const bool inner = row >= 1 && row <= 2 && column >= 1 && column <= 2;
        if (!inner) c &= 0x00FFFFFF; // the fringe is transparent
        return c;
    };
    const bool left = edgeFlags & kEdgeLeft, top = edgeFlags & kEdgeTop, right = edgeFlags & kEdgeRight,
               bottom = edgeFlags & kEdgeBottom;
    const int flagged = int{left} + int{top} + int{right} + int{bottom};
    auto wanted = [&](int row, int column) {
        if (row == 1 && column == 1) return true;
        if (row == 1) return column == 0 ? left : right;
        if (column == 1) return row == 0 ? top : bottom;
        if (flagged == 1) return false; // one edge alone: no corner cells
        const bool horizontal = column == 0 ? left : right;
        const bool vertical = row == 0 ? top : bottom;
        return horizontal || vertical;
    };
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column) {
            if (!wanted(row, column)) continue;
            const int a = row * 4 + column, b = a + 1, d = a + 4, c = d + 1;
            // The grid's texels are the first texture's; a smaller texture (a half-size chroma
            // plane) maps the same picture area at its own scale.
            auto texels = [&](int i, int j, int k) {
                std::vector<std::array<std::array<double, 2>, 3>> uv(textures.size());
                for (std::size_t t = 0; t < uv.size(); ++t) {
                    double sx = 1.0, sy = 1.0;
                    if (t > 0 && textures[0] && textures[t] && textures[0]->Width() > 0 && textures[0]->Height() > 0) {
                        sx = static_cast<double>(textures[t]->Width()) / textures[0]->Width();
                        sy = static_cast<double>(textures[t]->Height()) / textures[0]->Height();
                    }
                    for (int n = 0; n < 3; ++n) {
                        const TGridPoint& g = grid[static_cast<std::size_t>(n == 0 ? i : n == 1 ? j : k)];
                        uv[t][static_cast<std::size_t>(n)] = {g.u * sx, g.v * sy};
                    }
                }
                return uv;
            };
            auto at = [&](int i) { return grid[static_cast<std::size_t>(i)].p; };
            auto col = [&](int i) { return color(i / 4, i % 4); };
            batch_->AddTriangle({at(a), at(b), at(d)}, {col(a), col(b), col(d)}, texels(a, b, d));
            batch_->AddTriangle({at(d), at(b), at(c)}, {col(d), col(b), col(c)}, texels(d, b, c));
        }
    batch_->Flush();
    batch_->Forced = false;
}

std::array<TGridPoint, 16> T3DScreen::FringeGrid(const TTexelRect& src, const std::array<TPoint3, 4>& corners,
                                                 unsigned& edgeFlags) const {
    // Corners in pixels: top-left, top-right, bottom-right, bottom-left (around the quad).
    TVec q[4];
    const int order[4] = {0, 1, 3, 2};
    for (int i = 0; i < 4; ++i)
        Project(corners[static_cast<std::size_t>(order[i])], q[i].x, q[i].y);
    TVec edge[4];
    for (int i = 0; i < 4; ++i)
        edge[i] = q[(i + 1) % 4] - q[i]; // top, right, bottom, left
    for (int i = 0; i < 4; ++i) {
        const double la = Length(edge[i]), lb = Length(edge[(i + 1) % 4]);
        if (la <= 0.1 || lb <= 0.1 || Dot(edge[i], edge[(i + 1) % 4]) / (la * lb) > 0.9) edgeFlags = 0;
    }
    // Outward normals, by the quad's orientation on the screen (y down).
    double area = 0;
    for (int i = 0; i < 4; ++i)
        area += q[i].x * q[(i + 1) % 4].y - q[(i + 1) % 4].x * q[i].y;
    const unsigned edgeFlag[4] = {kEdgeTop, kEdgeRight, kEdgeBottom, kEdgeLeft};
    TVec normal[4];
    for (int i = 0; i < 4; ++i) {
        if (!(edgeFlags & edgeFlag[i])) continue;
        const double l = Length(edge[i]);
        normal[i] = area >= 0 ? TVec{edge[i].y / l, -edge[i].x / l} : TVec{-edge[i].y / l, edge[i].x / l};
    }
    const TVec nTop = normal[0], nRight = normal[1], nBottom = normal[2], nLeft = normal[3];
    const TVec tl = q[0], tr = q[1], br = q[2], bl = q[3];
    // Screen positions of the grid, row-major.
    const TVec screen[16] = {tl + Miter(nTop, nLeft),
                             tl + nTop,
                             tr + nTop,
                             tr + Miter(nTop, nRight),
                             tl + nLeft,
                             tl,
                             tr,
                             tr + nRight,
                             bl + nLeft,
                             bl,
                             br,
                             br + nRight,
                             bl + Miter(nBottom, nLeft),
                             bl + nBottom,
                             br + nBottom,
                             br + Miter(nBottom, nRight)};
    const THomography h = THomography::SquareTo(tl, tr, br, bl);
    std::array<TGridPoint, 16> grid;
    const TPoint3& c0 = corners[0];
    const TPoint3& c1 = corners[1];
    const TPoint3& c2 = corners[2];
    for (int i = 0; i < 16; ++i) {
        TVec st = h.Inverse(screen[i]);
        const int row = i / 4, column = i % 4;
        if (row >= 1 && row <= 2 && column >= 1 && column <= 2) st = {double(column - 1), double(row - 1)};
        TGridPoint& g = grid[static_cast<std::size_t>(i)];
        // Back onto the quad's plane (exact for parallelograms, which every drawn quad is).
        g.p = {c0.x + st.x * (c1.x - c0.x) + st.y * (c2.x - c0.x),
               c0.y + st.x * (c1.y - c0.y) + st.y * (c2.y - c0.y),
               c0.z + st.x * (c1.z - c0.z) + st.y * (c2.z - c0.z)};
        g.u = src.left + st.x * (src.right - src.left);
        g.v = src.top + st.y * (src.bottom - src.top);
    }
    return grid;
}

void T3DScreen::DrawPerspectiveQuad(const std::vector<TCustomTexture*>& textures,
                                    const std::array<std::uint32_t, 4>& colors, const TTexelRect& sourceRect,
                                    const std::array<TPoint3, 4>& corners, unsigned edgeFlags) {
    if (!ready_ || !renderer_) return;
    const std::array<TGridPoint, 16> grid = FringeGrid(sourceRect, corners, edgeFlags);
    DrawQuad(textures, edgeFlags, colors, grid);
}

} // namespace kiv
