// Small value types shared by the drawing layer: rectangles and points in pixels, 4 × 4 matrices
// in the row-vector convention (a point is transformed as v · M), the vertex a caller hands to a
// vertex list, and the numbered choices of the renderer (error classes, blend modes, texture
// kinds, primitive types).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kiv {

struct TPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

// Left/top inclusive, right/bottom exclusive, y growing downwards.
struct TRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    TRect Moved(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    // Two empty rectangles count as equal, whatever their corners.
    bool SameAs(const TRect& other) const {
        if (IsEmpty() && other.IsEmpty()) return true;
        return *this == other;
    }
    friend bool operator==(const TRect&, const TRect&) = default;
};

TRect Intersect(const TRect& a, const TRect& b);
// "(left, top, right, bottom)" as the log writes rectangles.
std::string RectText(const TRect& r);

// Element (row, column) is m[(row − 1) × 4 + (column − 1)].
struct TMatrix {
    std::array<float, 16> m{};
    static TMatrix Identity();
    float& At(int row, int column) { return m[(row - 1) * 4 + (column - 1)]; }
    float At(int row, int column) const { return m[(row - 1) * 4 + (column - 1)]; }
    friend TMatrix operator*(const TMatrix& a, const TMatrix& b);
};

// The source vertex of T3DVertexList::Fill: only the parts the list was created with are used.
struct TSourceVertex {
    float x = 0, y = 0, z = 0;
    std::array<std::array<float, 2>, 8> tex{};
    std::uint32_t color = 0xFFFFFFFF; // 0xAARRGGBB
    std::uint32_t specular = 0;
    float nx = 0, ny = 0, nz = 0;
};

// Error classes of renderer calls: 0 success, 1 invalid call, 2 out of video memory, 3 device lost
// or any other failure.
enum TErrorClass : int { kErrNone = 0, kErrInvalidCall = 1, kErrOutOfMemory = 2, kErrLost = 3 };

// Renderer states.
enum TRendererState : std::uint8_t { kStateReady = 0, kStatePending = 1, kStateLost = 2 };

// Blend modes of SetBlendMode: 0 normal "over", 1 maximum, 2 separate alpha, 3 replace (the
// drawing is written as it is: what "over" gives on a target cleared to transparent black).
enum TBlendMode : std::uint8_t {
    kBlendNormal = 0,
    kBlendMax = 1,
    kBlendSeparateAlpha = 2,
    kBlendReplace = 3
};

// Texture kinds of CreateTexture.
enum TTextureKind : std::uint8_t {
    kTexColor = 0,        // 32-bit with alpha, filled from pictures
    kTexTargetOpaque = 1, // render target without alpha
    kTexTargetAlpha = 2,  // render target with alpha
    kTexGrey = 3,         // 8-bit grey
    kTex565 = 4,          // 16-bit 5-6-5
};

inline bool IsTargetKind(int kind) {
    return kind == kTexTargetOpaque || kind == kTexTargetAlpha;
}

// DrawVertexList flags.
enum TDrawFlags : unsigned {
    kDrawTextured = 1,
    kDrawVertexColors = 2,
    kDrawTextureAlpha = 4,
    kDrawLighting = 8,
};

// CreateVertexList flags.
enum TVertexFlags : unsigned { kVertexDiffuse = 1, kVertexNormal = 2, kVertexSpecular = 4 };

// SetRange primitive types.
enum TPrimitiveType : int {
    kPrimPoints = 0,
    kPrimLines = 1,
    kPrimLineStrip = 2,
    kPrimTriangles = 3,
    kPrimTriangleStrip = 4,
    kPrimTriangleFan = 5,
};

// SetTransform kinds.
enum TTransformKind : int { kTransformWorld = 0, kTransformView = 1, kTransformProjection = 2 };

// Clear flags.
enum TClearFlags : unsigned { kClearTarget = 1, kClearDepth = 2 };

} // namespace kiv
