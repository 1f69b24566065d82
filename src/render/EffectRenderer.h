// The transition machinery the slide drawer shares with the transition filters: the filter base
// (TDrawFilter) with its phase and drawing order, the tile controller through which a filter draws
// a captured slide as triangles, the effect renderer (TCustomD3DEffecter) that captures slides into
// render targets, and the process-wide factory that turns a transition descriptor into a filter
// (installed by the effects library).
#pragma once

#include "base/RefObject.h"
#include "objects/DrawItem.h"
#include "objects/Geometry.h"
#include "project/KivEffect.h"
#include "render/Screen.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace kiv {

class T3DDrawer;
class TDeviceDrawer;

// One vertex a filter hands to a tile: a position in drawing-rectangle pixels with depth, the
// texture position (drawing-rectangle pixels too; the tile maps it onto the capture), the opacity
// (0 … 255) and a grey level (255 keeps the capture's colours).
struct TTileVertex {
    double x = 0, y = 0, z = 0;
    double u = 0, v = 0;
    float opacity = 255;
    float grey = 255;
};

// A 2-D vertex whose texture position is its own position.
inline TTileVertex FlatVertex(double x, double y, float opacity) {
    return {x, y, 0, x, y, opacity, 255};
}

// The parts of triangles (three vertices each) inside `area`; triangles with depth are kept whole.
std::vector<TTileVertex> ClipTriangles(const std::vector<TTileVertex>& vertices, const TRect& area);

// Splits convex polygons along the cuts of one axis into bands: band 0 lies before the first cut,
// band k between cuts k − 1 and k, the last band after the last cut. A vertex exactly on a cut goes
// into both bands around it; edges crossing cuts get a vertex on each cut, every field of the
// vertex interpolated along the edge. The band lists are emptied, not freed, between uses.
class TXSeparator {
public:
    // Cuts in increasing order, along y when `alongY`, else along x.
    void SetCuts(const std::vector<double>& cuts, bool alongY);
    int Bands() const { return static_cast<int>(bands_.size()); }
    void Clear();
    // One closed polygon (its last vertex joins the first).
    void AddPolygon(const TTileVertex* vertices, std::size_t count);
    // The polygons of a band: its vertices and, per polygon, the index just past its last vertex.
    const std::vector<TTileVertex>& Vertices(int band) const { return bands_[Index(band)].vertices; }
    const std::vector<std::size_t>& Ends(int band) const { return bands_[Index(band)].ends; }
    // 2k + 1 strictly inside band k, 2k exactly on cut k (counted from 1).
    int Zone(double position) const;

private:
    struct TBand {
        std::vector<TTileVertex> vertices;
        std::vector<std::size_t> ends;
    };
    std::size_t Index(int band) const { return static_cast<std::size_t>(band); }
    double Coordinate(const TTileVertex& v) const { return alongY_ ? v.y : v.x; }
    void Emit(int zone, const TTileVertex& v);
    void EmitInto(int band, const TTileVertex& v);

    std::vector<double> cuts_{-3.4e38, 3.4e38}; // with the two sentinels
    bool alongY_ = false;
    std::vector<TBand> bands_{1};
};

// Splits polygons over a grid: first along y into row bands, then each row band along x.
class T2DSeparator {
public:
    void SetGrid(const std::vector<double>& xEdges, const std::vector<double>& yEdges);
    void Clear();
    void AddPolygon(const TTileVertex* vertices, std::size_t count);
    // The pieces in grid cell (column, row): x band column + 1 of y band row + 1.
    const TXSeparator& Row(int row) const { return columns_[static_cast<std::size_t>(row + 1)]; }
    int Columns() const { return columns_.empty() ? 0 : columns_[0].Bands() - 2; }
    int Rows() const { return rows_.Bands() - 2; }

private:
    TXSeparator rows_;                 // scratch: the polygon being added, by row band
    std::vector<TXSeparator> columns_; // per row band, the pieces by column band
};

class TEffController;

// One cell of the tile controller's grid, or the whole-area tile. Vertex lists hold three vertices
// per triangle; `last` is the index of the last vertex (2 for one triangle).
class TEffTile {
public:
    TEffTile(TEffController& controller, const TRect& rect, int column, int row)
        : controller_(controller), rect_(rect), column_(column), row_(row) {}
    virtual ~TEffTile() = default;
    TEffTile(const TEffTile&) = delete;
    TEffTile& operator=(const TEffTile&) = delete;

    // Starts a batch, textured from the capture or untextured; `flag` is the batch's forced flag.
    virtual void Begin(bool textured, bool flag = false) = 0;
    // 2-D triangles: (x, y) positions, (u, v) texture positions, vertex opacity and grey level.
    virtual void DrawAlpha(const TTileVertex* vertices, int last) = 0;
    // Untextured triangles with one colour (0xAARRGGBB) per vertex.
    virtual void DrawColoured(const TTileVertex* vertices, int last, const std::uint32_t* colours) = 0;
    // Triangles with depth, texture positions and grey levels.
    virtual void Draw3D(const TTileVertex* vertices, int last) = 0;
    virtual void End() = 0;

    const TRect& Rect() const { return rect_; }
    int Column() const { return column_; }
    int Row() const { return row_; }

protected:
    TEffController& controller_;
    TRect rect_;
    int column_, row_;
};

// The colour 0xAARRGGBB of a shaded vertex: `rgb` (0xRRGGBB) scaled by its grey level (channel ×
// grey div 256), with its opacity.
std::uint32_t ShadeColour(std::uint32_t rgb, const TTileVertex& v);

// The whole-area tile: cuts every polygon along the grid and, at End, hands the pieces to the cell
// tiles as fans. Only 2-D triangles; the other drawing calls are programming errors. With a shade
// colour the pieces are drawn untextured in that colour scaled by each vertex's grey level.
class TMultiTile final : public TEffTile {
public:
    explicit TMultiTile(TEffController& controller);
    void Begin(bool textured, bool flag = false) override;
    void DrawAlpha(const TTileVertex* vertices, int last) override;
    void DrawColoured(const TTileVertex* vertices, int last, const std::uint32_t* colours) override;
    void Draw3D(const TTileVertex* vertices, int last) override;
    void End() override;
    // 0xRRGGBB, or a negative value for none.
    void SetShade(std::int64_t rgb) { shade_ = rgb; }
    std::int64_t Shade() const { return shade_; }
    const T2DSeparator& Separator() const { return separator_; }

private:
    T2DSeparator separator_;
    bool textured_ = true;
    bool flag_ = false;
    std::int64_t shade_ = -1;
    std::vector<TTileVertex> fan_;
    std::vector<std::uint32_t> colours_;
};

// A rectangular grid over the capture: one tile per cell (made on first request) and the
// whole-area tile.
class TEffController {
public:
    virtual ~TEffController() = default;
    // Frees all tiles and stores the new edges (increasing).
    void SetGrid(std::vector<double> xEdges, std::vector<double> yEdges);
    int Columns() const { return xEdges_.size() < 2 ? 0 : static_cast<int>(xEdges_.size()) - 1; }
    int Rows() const { return yEdges_.size() < 2 ? 0 : static_cast<int>(yEdges_.size()) - 1; }
    const std::vector<double>& XEdges() const { return xEdges_; }
    const std::vector<double>& YEdges() const { return yEdges_; }
    // The tile of a cell (column below Columns, row below Rows: a programming error otherwise).
    TEffTile& Tile(int column, int row);
    TMultiTile& WholeTile();
    // The grid's rounded outline; empty without cells.
    TRect GridRect() const;
    virtual TRect GetArea() const = 0;

protected:
    virtual std::unique_ptr<TEffTile> CreateTile(const TRect& rect, int column, int row) = 0;

private:
    std::vector<double> xEdges_, yEdges_;
    std::vector<std::unique_ptr<TEffTile>> tiles_;
    std::unique_ptr<TMultiTile> whole_;
};

// Triangles drawn by tiles since the process started (the statistics counter).
std::uint64_t TileTrianglesDrawn();

// The controller of the effect renderer: one cell over the drawing area, its tiles writing into the
// screen's triangle batch, textured from the capture just made (the capture rectangle mapped
// linearly onto the area). Filters draw through it with Begin, Triangles and End: flat triangles
// go through the whole-area tile (so they are cut to the grid), triangles with depth to the cell.
class TD3DTriController final : public TEffController {
public:
    TD3DTriController(T3DScreen* screen, TCustomTexture* capture, const TRect& area, const TRect& captureRect,
                      const TRect& outer = {});
    // Makes the controller draw from another capture; the grid follows the area.
    void Reset(TCustomTexture* capture, const TRect& area, const TRect& captureRect, const TRect& outer);

    const TRect& Area() const { return area_; }
    TRect GetArea() const override { return area_; }
    // Starts a batch: textured from the capture, or untextured (vertex colours only).
    void Begin(bool textured);
    // Triangles (three vertices each), flat ones cut to the area; an incomplete last triangle is
    // ignored.
    void Triangles(const std::vector<TTileVertex>& vertices);
    // Untextured triangles (flat ones cut to the area) in `rgb` (0xRRGGBB) scaled by each vertex's
    // grey level (channel × grey div 256), with the vertex opacity.
    void ShadedTriangles(const std::vector<TTileVertex>& vertices, std::uint32_t rgb);
    void End();
    int TrianglesDrawn() const { return triangles_; }

    // Used by its tiles.
    T3DScreen* Screen() const { return screen_; }
    TCustomTexture* CaptureTexture() const { return capture_; }
    const TRect& CaptureRect() const { return captureRect_; }
    // A vertex exactly on this rectangle's left or top edge moves 2 pixels outward.
    const TRect& Outer() const { return outer_; }
    void CountTriangles(int count) { triangles_ += count; }

protected:
    std::unique_ptr<TEffTile> CreateTile(const TRect& rect, int column, int row) override;

private:
    bool Usable() const;

    T3DScreen* screen_;
    TCustomTexture* capture_;
    TRect area_;
    TRect captureRect_;
    TRect outer_;
    bool textured_ = true;
    bool begun_ = false;
    int triangles_ = 0;
    std::vector<TTileVertex> depth_; // the depth triangles of one Triangles call, reused
    std::vector<std::uint32_t> depthColours_;
};

// A cell tile of the effect renderer's controller.
class TD3DTriTile final : public TEffTile {
public:
    TD3DTriTile(TD3DTriController& controller, const TRect& rect, int column, int row)
        : TEffTile(controller, rect, column, row), owner_(controller) {}
    void Begin(bool textured, bool flag = false) override;
    void DrawAlpha(const TTileVertex* vertices, int last) override;
    void DrawColoured(const TTileVertex* vertices, int last, const std::uint32_t* colours) override;
    void Draw3D(const TTileVertex* vertices, int last) override;
    // Untextured triangles with depth, one colour (0xAARRGGBB) per vertex.
    void Draw3DColoured(const TTileVertex* vertices, int last, const std::uint32_t* colours);
    void End() override;
    bool Begun() const { return begun_; }

private:
    void Add(const TTileVertex* vertices, int last, const std::uint32_t* colours, bool moveEdges);

    TD3DTriController& owner_;
    bool begun_ = false;
    bool textured_ = true;
};

// How the drawer orders the two slides for a filter (the drawing order table).
enum class TFilterOrder { Common, Overturn, TwoSlides, Push, SlideEffect };

// A running transition: duration, elapsed time, the drawing rectangle, the soft-edge width and the
// geometry of its family (subclasses). Created by the factory on the first frame of a transition
// and kept by the slide's TKivFilter.
class TDrawFilter : public TRefObject {
public:
    // Stores the rectangle, soft-edge width (pixels) and duration (ms); the time goes back to 0.
    // A duration that is not positive (or not a number) gives an inverse of 0: the phase stays 0.
    virtual void Init(const TRect& rect, float smoothWidth, float duration);
    // Lays a running filter out over another drawing rectangle (the window changed size): the
    // rectangle, the soft-edge width and the geometry that depends on them follow; the time, the
    // duration and any drawn lots (a mosaic's order) stay.
    virtual void Relayout(const TRect& rect, float smoothWidth);
    // Elapsed time, kept within 0 … duration (negative and non-numeric values become 0).
    void SetTime(double ms);
    // Draws the captured slide through the controller.
    virtual void Draw(TD3DTriController& controller) = 0;
    virtual void AfterDraw(TDeviceDrawer& /*drawer*/) {}
    virtual TFilterOrder Order() const { return TFilterOrder::Common; }
    // Push filters: where the outgoing slide is drawn plainly for a drawing rectangle.
    virtual TVec2 PushOffset(const TRect& /*rect*/) const { return {}; }

    double Phase() const { return time_ * invDuration_; }
    float Duration() const { return duration_; }
    float Time() const { return time_; }
    float SmoothWidth() const { return smoothWidth_; }
    const TRect& Rect() const { return rect_; }

    bool Reversed = false;
    std::uint8_t CaptureMode = 0;
    TRect CaptureRect;

protected:
    ~TDrawFilter() override = default;

    float duration_ = 0;
    double invDuration_ = 0;
    float time_ = 0;
    float smoothWidth_ = 0;
    TRect rect_;
};

class TCustomD3DEffecter;

// Custom transitions: the filter owns a whole slide (the effect slide) whose pictures show the two
// captured slides and whose own animation runs with the transition's phase. The drawer captures
// both slides, then lets the filter prepare, dress and draw its slide.
class TSlideEffFilter : public TDrawFilter {
public:
    // Nothing: the effect slide is drawn by DrawEffectSlide.
    void Draw(TD3DTriController& /*controller*/) override {}
    TFilterOrder Order() const override { return TFilterOrder::SlideEffect; }
    // Puts the effect slide at the phase's time (0 … 1).
    virtual void SetPhase(double f) = 0;
    // Takes backgrounds and objects from the two slides as the filter's background mode asks.
    virtual void PrepareSlides(TDrawItem* outgoing, TDrawItem* incoming) = 0;
    // Lays capture 1 (the outgoing slide) and capture 2 (the incoming one) onto the effect slide's
    // pictures that ask for them; DetachCaptures takes them off again.
    virtual void AttachCaptures(TCustomD3DEffecter& renderer) = 0;
    virtual void DetachCaptures() = 0;
    virtual void DrawEffectSlide(TDeviceDrawer& drawer) = 0;
    // Makes the effect slide ready for the drawer ahead of the transition (its pictures preloaded),
    // on whichever thread prepares slides.
    virtual void Prepare(TDeviceDrawer& /*drawer*/) {}

    // Both slides are captured without their backgrounds.
    bool TransparentBg = false;
    // Where on the screen the effect slide lies (the show's place); empty: the drawing rectangle.
    TRect EffectArea;

protected:
    ~TSlideEffFilter() override = default;
};

// Makes the filter of a descriptor for a drawing rectangle (none: draw the incoming slide plainly).
using TTransitionFilterFactory = std::function<TRef<TDrawFilter>(
    const TRect& rect, const TKivEffect* effect, TDrawItem* outgoing, float smoothline, double duration)>;
void SetTransitionFilterFactory(TTransitionFilterFactory factory);
bool HasTransitionFilterFactory();
// Runs the installed factory; none without one or without a descriptor.
TRef<TDrawFilter> CreateTransitionFilter(const TRect& rect, const TKivEffect* effect, TDrawItem* outgoing,
                                         float smoothline, double duration);

// The effect renderer: captures slides into render targets for the filters. Owned by the drawer.
class TCustomD3DEffecter final : public TRefObject {
public:
    TCustomD3DEffecter(T3DScreen* screen, TRenderTargetManager* fullPool);

    // Sizes the own pool to the rectangle and stores it as the area.
    void SetArea(const TRect& rect);
    const TRect& Area() const { return area_; }
    void SetClip(const TRect& rect) { clip_ = rect; }
    // Mode 1 (slide effects) takes both captures from the drawer's pool, mode 0 capture 1 from its own.
    void BeginEffect(int mode);
    // Returns the captures to the pools they came from.
    void EndEffect();
    // Captures one slide for a filter: capture 1 becomes the target (origin at the area's top-left),
    // cleared to transparent black, and `draw` draws the slide into it; with a capture mode other
    // than 0 the slide's last column and row are repeated one pixel further. False when no capture
    // exists.
    bool CaptureForFilter(int captureMode, const std::function<void()>& draw);
    // Slide effects: captures into capture 2 when the selector is 1, else capture 1, cleared to
    // transparent black; the visible part is moved to the capture's top-left corner and its last
    // column and row are repeated up to 32 pixels further.
    bool CaptureSlide(const std::function<void()>& draw);
    void NextCapture() { selector_ ^= 1; }
    int Selector() const { return selector_; }
    // Capture n (0 or 1).
    TRenderTargetTexture* Capture(int n) const;
    // The visible part of a capture: the area's top-left with the capture's size, clipped.
    TRect VisibleRect(int n) const;
    // The tile controller over `area` drawing from `capture` (its rectangle `captureRect`), kept
    // from frame to frame so that its tiles and splitting lists are reused.
    TD3DTriController& Controller(TCustomTexture* capture, const TRect& area, const TRect& captureRect);
    // Render targets taken from the pools since creation (tests check that frames reuse them).
    int Acquired() const { return acquired_; }
    // Render targets the pools had to make for this renderer because none was free (a frame after
    // the first of a transition should make none).
    int Made() const { return made_; }
    // Render targets waiting in the own pool.
    std::size_t OwnPoolFree() const { return ownPool_.FreeCount(); }

protected:
    ~TCustomD3DEffecter() override;

    // Repeats the last column and row of `rect` (texels of the capture) outward: by one pixel, or
    // with `full` by up to 32 pixels, doubling the repeated run with each copy.
    void ExtendEdges(TRenderTargetTexture& target, const TRect& rect, bool full);
    // The 256 × 256 target copies go through (made on first use); none without a device.
    TRenderTargetTexture* Scratch();

private:
    static constexpr int kScratchSize = 256;
    static constexpr int kMaxExtension = 32;
    bool CaptureInto(TRenderTargetTexture* target, const std::function<void()>& draw, std::uint32_t clearColor);
    // Copies `from` of the target to `to` through the scratch target, block by block.
    bool CopyWithin(TRenderTargetTexture& target, const TRect& from, TPoint to);
    // Repeats the last column (or row) before `end` outward over the span from … to of the other
    // axis; returns the first column (row) not repeated.
    int RepeatLast(TRenderTargetTexture& target, bool rows, int end, int from, int to, bool full);
    // The visible rectangle of capture n relative to the capture's origin.
    TRect CaptureExtent(int n) const;

    T3DScreen* screen_;
    TRenderTargetManager* fullPool_;
    TRenderTargetManager ownPool_{true};
    TRenderTargetManager scratchPool_{true};
    TRef<TRenderTargetTexture> scratch_;
    TRect area_;
    TRect clip_;
    std::unique_ptr<TD3DTriController> controller_;
    TRef<TRenderTargetTexture> captures_[2];
    TRenderTargetManager* from_[2] = {nullptr, nullptr};
    int selector_ = 0;
    int acquired_ = 0;
    int made_ = 0;
};

} // namespace kiv
