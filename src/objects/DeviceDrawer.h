// TDeviceDrawer: the canvas slide objects draw on, as they see it. The GPU slide drawer implements
// it; tests implement it with a recorder. Every operation takes world-space geometry (screen pixels,
// see Geometry.h): a texel or box point s lands on origin + Offset + (s.x − anchor.x) × axisX +
// (s.y − anchor.y) × axisY. Texels are counted in the full-size picture from the top-left corner of
// the source rectangle, whatever level is sampled. Drawing operations do nothing while the drawer
// is not ready.
//
// Threads: drawing happens on the engine thread; PreloadImage and ReleaseImage may also come from
// the slide loader thread (the implementation serialises them with its own lock).
#pragma once

#include "images/Image.h"
#include "objects/DrawItem.h"
#include "objects/Geometry.h"

#include <array>
#include <cstdint>

namespace kiv {

class TColorTable;
// An off-screen layer of the drawer's own making (a render target); only the drawer knows its insides.
class TLayerTarget;

// How a picture is drawn: one record per draw, filled by image objects.
struct TPictureDrawParams {
    bool edgeAntialias = false; // a one-pixel fringe on all four edges
    bool premultiplied = false;
    bool pattern = false; // the picture is a sprite sheet of patternA × patternB cells
    int patternA = 1;
    int patternB = 1;
    float opacity = 100.0f; // percent; vertex alpha = round(opacity × 2.55)
    int filtering = 2;      // 0 point, 1 bilinear, 2 the drawer's default
    TRectF sourceRect;      // texels of the full-size picture; empty = the whole picture
    int level = 0;          // the copy sampled: reduced by 2^level (coordinates stay full-size)
    float lodBias = 0.0f;
    std::uint32_t tint = 0xFFFFFFFFu; // ARGB; white draws the picture's own colours
    int gradingMode = 0;              // 0 none, 1 a 3-D table, 2 per-channel tables
    const TColorTable* gradingFrom = nullptr;
    const TColorTable* gradingTo = nullptr;
    float gradingFactor = 0.0f; // 0 … 1 from gradingFrom to gradingTo
};

// Fill styles of DrawBox.
enum TBoxFillStyle : int {
    kFillTopLeftToBottomRight = 0,
    kFillTopRightToBottomLeft = 1,
    kFillVertical = 5,   // colour 1 at the top, colour 2 at the bottom
    kFillHorizontal = 6, // colour 1 on the left, colour 2 on the right
    kFillSolid = 8,
};

struct TBoxParams {
    std::array<bool, 4> edgeAntialias{}; // left, top, right, bottom
    std::uint32_t color1 = 0xFF000000u;  // ARGB
    std::uint32_t color2 = 0xFF000000u;
    float opacity = 100.0f; // percent
    int fillStyle = kFillSolid;
    TVec2 size; // box units from (0, 0)
};

class TDeviceDrawer {
public:
    virtual ~TDeviceDrawer() = default;

    // The drawer has a usable device.
    virtual bool IsReady() const = 0;
    // Slides are being captured for a slide-effect transition.
    virtual bool IsCapturingSlides() const = 0;

    // Draws an item with its blur (GetBlur) applied. A nested call (from inside an item's Draw)
    // draws into the current frame and returns true.
    virtual bool Draw(TDrawItem& item) = 0;
    virtual void DrawImage(TImage& image, TVec3 origin, const TPictureDrawParams& params, TVec3 axisX,
                           TVec3 axisY, TVec2 anchor) = 0;
    virtual void DrawBox(TVec3 origin, TVec2 anchor, const TBoxParams& params, TVec3 axisX, TVec3 axisY) = 0;
    // Four strips of `color` (ARGB) of widths widthX (left, right) and widthY (top, bottom) around
    // the rectangle (0, 0) … size; nothing when the size is not positive.
    virtual void DrawBorder(TVec3 origin, TVec2 anchor, TVec3 axisX, TVec3 axisY, TVec2 size,
                            std::uint32_t color, float widthX, float widthY, float opacity,
                            bool antialiased) = 0;
    // Draws `content` through the coverage of `mask` at `opacity` percent; `pattern` may be null.
    virtual void DrawMasked(TDrawItem& mask, TDrawItem& content, float opacity, TImage* pattern) = 0;
    // A solid axis-aligned rectangle between two points of the slide plane, moved by the offset.
    virtual void FillRectangle(TVec3 p1, TVec3 p2, std::uint32_t color) = 0;

    // Layers: BeginLayerTarget redirects drawing into a fresh transparent layer until
    // EndLayerTarget; DrawLayerTarget draws the layer over the drawing area with `alpha` (0 … 255)
    // and gives it back to the drawer. Used by slides that blend borrowed layers.
    virtual TLayerTarget* BeginLayerTarget() = 0;
    virtual void EndLayerTarget() = 0;
    virtual void DrawLayerTarget(TLayerTarget* layer, int alpha) = 0;

    // Uploads the picture now with these parameters (the slide loader does it ahead of drawing).
    virtual void PreloadImage(TImage& image, const TPictureDrawParams& params) = 0;
    // Frees every texture the drawer made of the picture.
    virtual void ReleaseImage(TImage& image) = 0;

    // A 2-D translation added to every drawn point (nonzero while a borrowed slide is drawn).
    virtual void SetOffset(TVec2 offset) {
        offset_ = offset;
        offsetActive_ = offset.x != 0.0 || offset.y != 0.0;
    }
    TVec2 Offset() const noexcept { return offset_; }
    bool OffsetActive() const noexcept { return offsetActive_; }

protected:
    TVec2 offset_;
    bool offsetActive_ = false;
};

} // namespace kiv
