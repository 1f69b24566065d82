// The transition filters: each draws a captured slide through the tile controller with the
// geometry of its family — a plain fade, a shape mask that grows from a centre with a soft edge,
// a mosaic of cells fading in at random times, a slide moving in from one side.
#pragma once

#include "render/EffectRenderer.h"

#include <cstdint>
#include <vector>

namespace kiv {

// The S-curve of soft edges: a² / 128 below 127.5, 255 − (255 − a)² / 128 above (a in 0 … 255).
double EdgeCurve(double a);

// Dissolve: the capture with opacity f × 255.
class TAlphaFilter final : public TDrawFilter {
public:
    void Draw(TD3DTriController& controller) override;

protected:
    ~TAlphaFilter() override = default;
};

// Shape masks: the slide shows inside {d ≤ R}, opaque up to R − s, fading to transparent at R; R
// grows with the phase up to the extent E (shrinks from E with Reversed).
class TCommonFilter : public TDrawFilter {
public:
    TCommonFilter(double centerX, double centerY) : fx_(centerX), fy_(centerY) {}
    void Init(const TRect& rect, float smoothWidth, float duration) override;
    void Relayout(const TRect& rect, float smoothWidth) override;
    void Draw(TD3DTriController& controller) override;

    double Extent() const { return extent_; }
    double CenterX() const { return cx_; }
    double CenterY() const { return cy_; }
    // The outer radius for the current phase.
    double Radius() const;
    // The triangles of the last Draw (three vertices each).
    const std::vector<TTileVertex>& Vertices() const { return vertices_; }

protected:
    ~TCommonFilter() override = default;
    virtual void ComputeExtent() = 0;
    // One band between the inner radius (inner opacity) and the outer radius (outer opacity);
    // index −1 is the opaque core.
    virtual void DrawBand(int index, float outerOpacity, float innerOpacity, double outer, double inner) = 0;
    // Adds a quadrilateral a-b-c-d (in order round its edge) with the opacities of its corners.
    void Quad(const TTileVertex& a, const TTileVertex& b, const TTileVertex& c, const TTileVertex& d);

    double fx_, fy_;
    double cx_ = 0, cy_ = 0;
    double extent_ = 0;
    std::vector<TTileVertex> vertices_;
};

// Vertical edges moving horizontally (distance |x − cx|).
class THLines final : public TCommonFilter {
public:
    using TCommonFilter::TCommonFilter;

protected:
    ~THLines() override = default;
    void ComputeExtent() override;
    void DrawBand(int index, float outerOpacity, float innerOpacity, double outer, double inner) override;
};

// Horizontal edges moving vertically (distance |y − cy|).
class TVLines final : public TCommonFilter {
public:
    using TCommonFilter::TCommonFilter;

protected:
    ~TVLines() override = default;
    void ComputeExtent() override;
    void DrawBand(int index, float outerOpacity, float innerOpacity, double outer, double inner) override;
};

// 45° edges: mode 0 a strip right of the line from a left corner, 2 a strip left of it from a right
// corner, 1 both sides of the centre diagonal; flip mirrors the line vertically.
class TDiagLines final : public TCommonFilter {
public:
    TDiagLines(int mode, bool flip) : TCommonFilter(0.5, 0.5), mode_(mode), flip_(flip) {}
    int Mode() const { return mode_; }
    bool Flip() const { return flip_; }

protected:
    ~TDiagLines() override = default;
    void ComputeExtent() override;
    void DrawBand(int index, float outerOpacity, float innerOpacity, double outer, double inner) override;

private:
    int mode_;
    bool flip_;
    double top_ = 0, bottom_ = 0; // x-offsets of the line at the top and bottom edges
};

class TCircleFilter final : public TCommonFilter {
public:
    using TCommonFilter::TCommonFilter;
    double Offset() const { return offset_; }
    int Segments() const { return segments_; }

protected:
    ~TCircleFilter() override = default;
    void ComputeExtent() override;
    void DrawBand(int index, float outerOpacity, float innerOpacity, double outer, double inner) override;

private:
    double offset_ = 0;
    double farthest_ = 0;
    int segments_ = 128;
};

class TRhombFilter final : public TCommonFilter {
public:
    using TCommonFilter::TCommonFilter;

protected:
    ~TRhombFilter() override = default;
    void ComputeExtent() override;
    void DrawBand(int index, float outerOpacity, float innerOpacity, double outer, double inner) override;

private:
    double offset_ = 0;
};

class TSquareFilter final : public TCommonFilter {
public:
    using TCommonFilter::TCommonFilter;

protected:
    ~TSquareFilter() override = default;
    void ComputeExtent() override;
    void DrawBand(int index, float outerOpacity, float innerOpacity, double outer, double inner) override;

private:
    double aspect_ = 1; // h / w
    double offset_ = 0;
};

// Mosaic: columns × rows cells fading in over 255 units, each from its own random start.
class TRandomFilter final : public TDrawFilter {
public:
    static constexpr int kMaxCells = 65536;
    TRandomFilter(int columns, int rows, std::uint32_t seed, double appearance);
    void Init(const TRect& rect, float smoothWidth, float duration) override;
    void Draw(TD3DTriController& controller) override;

    int Columns() const { return columns_; }
    int Rows() const { return rows_; }
    const std::vector<int>& StartValues() const { return start_; }
    // The opacity of a cell for the current phase (0: not drawn).
    float CellOpacity(int column, int row) const;

protected:
    ~TRandomFilter() override = default;

private:
    int columns_, rows_;
    std::uint32_t seed_;
    double appearance_;
    std::vector<int> start_;
};

// The filters' own generator: state × 1664525 + 1013904223; u from the low 23 bits in [0, 1).
float NextUnit(std::uint32_t& state);

// Slide: the incoming capture moves in from one side (1 left, 2 right, 3 top, 4 bottom).
class TSlideFilter : public TDrawFilter {
public:
    explicit TSlideFilter(int direction) : direction_(direction) { CaptureMode = 1; }
    void Draw(TD3DTriController& controller) override;
    int Direction() const { return direction_; }
    // The displacement of the incoming slide for an area of w × h.
    TVec2 Displacement(double w, double h) const;

protected:
    ~TSlideFilter() override = default;
    int direction_;
};

// Push: as slide, and the outgoing slide is pushed out the other way.
class TPushFilter final : public TSlideFilter {
public:
    using TSlideFilter::TSlideFilter;
    TFilterOrder Order() const override { return TFilterOrder::Push; }
    TVec2 PushOffset(const TRect& rect) const override;

protected:
    ~TPushFilter() override = default;
};

// Flip: the slide turns over about its vertical (kinds 1, 2, 5, 6) or horizontal centre line, the
// near side staying in the slide plane (about the centre line itself with kinds 5 … 8).
class TOverturnEffect final : public TDrawFilter {
public:
    TOverturnEffect(int kind, bool nonLinear, double volume)
        : kind_(kind), nonLinear_(nonLinear), volume_(volume) {}
    void Draw(TD3DTriController& controller) override;
    TFilterOrder Order() const override { return TFilterOrder::Overturn; }
    // The turn angle for the current phase (signed by the kind).
    double Angle() const;
    // The four corners (top-left, top-right, bottom-left, bottom-right) with their depths.
    std::vector<TTileVertex> Corners() const;

protected:
    ~TOverturnEffect() override = default;

private:
    int kind_;
    bool nonLinear_;
    double volume_;
};

// The 256-entry S-table of the hourhand edges: T[i] = floor(i² / 128) below 128, T[255 − i] = 255 − T[i].
int HandCurve(int i);

// Hourhand with an off-centre pivot: a straight edge turning about a pivot beside the slide (kinds
// 1 … 8: up, right, down, left, upper right, lower right, lower left, upper left; above 8 reversed).
class TBroomEffect final : public TDrawFilter {
public:
    TBroomEffect(int kind, double offset);
    void Draw(TD3DTriController& controller) override;
    // The pivot and the angles follow the new rectangle at the next Draw.
    void Relayout(const TRect& rect, float smoothWidth) override;
    int Kind() const { return kind_; }
    // Built on the first Draw (or here, for tests).
    void Build();
    TVec2 Pivot() const { return pivot_; }
    double StartAngle() const { return start_; }
    double EndAngle() const { return end_; }
    double EdgeAngle() const { return edge_; }
    // The swept angle for the current phase.
    double Angle() const;
    // The edge value (0 swept … 255 ahead) of the angle θ (0 … 2π) for the current phase.
    double Value(double theta) const;

protected:
    ~TBroomEffect() override = default;

private:
    int kind_;
    double offset_;
    bool built_ = false;
    TVec2 pivot_;
    double start_ = 0, end_ = 0, edge_ = 0;
};

// Hourhand about the centre: the slide shows in the sector a hand has swept from straight up,
// clockwise (counter-clockwise mirrored), with a soft edge.
class TClockEffect final : public TDrawFilter {
public:
    TClockEffect(double centerX, double centerY, bool counterClockwise)
        : fx_(centerX), fy_(centerY), counterClockwise_(counterClockwise) {}
    void Draw(TD3DTriController& controller) override;
    bool CounterClockwise() const { return counterClockwise_; }
    // The edge angle of the soft edge (radians) and the hand's angle for the current phase: it runs
    // from −edge to 2π so that nothing shows at the start and everything at the end.
    double EdgeAngle() const;
    double Angle() const;

protected:
    ~TClockEffect() override = default;

private:
    double fx_, fy_;
    bool counterClockwise_;
};

// Swap: both slides drawn each frame, moving apart sideways, one receding while the other comes
// forward; they cross at the middle.
class TTwoSlidesEffect final : public TDrawFilter {
public:
    TTwoSlidesEffect(int direction, double depth, double distance, double angle)
        : direction_(direction), depth_(depth), distance_(distance), angle_(angle) {}
    void Draw(TD3DTriController& controller) override;
    TFilterOrder Order() const override { return TFilterOrder::TwoSlides; }
    int Direction() const { return direction_; }
    // A corner of the slide drawn by call number `call` (1, 2, …) for an area of w × h, relative
    // to the area's top-left corner: position and depth.
    TTileVertex Place(double cx, double cy, double w, double h, int call) const;
    int Calls() const { return calls_; }

protected:
    ~TTwoSlidesEffect() override = default;

private:
    int direction_;
    double depth_, distance_, angle_;
    int calls_ = 0;
};

// Curling: the slide rolls up like a sheet round a cylinder whose axis moves across it (mode 14
// from an edge, 15 from a corner; kinds 1 … 4 plain, 5 … 8 reversed). The part ahead of the axis
// is wound round the roll and, past the turn, folds back over the slide.
class TRollEffect2 final : public TDrawFilter {
public:
    struct TOptions {
        bool pipe = false;
        double radius = 2; // pixels; at least 2
        bool useColor = false;
        std::uint32_t color = 0; // 0xRRGGBB
        bool useVolume = false;
        double volume = 0.125;
    };
    TRollEffect2(int mode, int kind, const TOptions& options);
    void Init(const TRect& rect, float smoothWidth, float duration) override;
    void Relayout(const TRect& rect, float smoothWidth) override;
    void Draw(TD3DTriController& controller) override;

    int Roller() const { return roller_; }
    TVec2 Direction() const { return direction_; }
    double Travel(double f) const { return start_ + (end_ - start_) * f; }
    double TravelStart() const { return start_; }
    double TravelEnd() const { return end_; }
    // Where a point of the slide goes for the axis at p: position, depth and shade (255 flat).
    TTileVertex Wind(double x, double y, double p) const;
    // How far the sheet winds around the roll (radians): a pipe once around (three quarters on a
    // diagonal roll), else half a turn; past it the sheet goes straight on.
    double Turn() const;

protected:
    ~TRollEffect2() override = default;

private:
    void LayTravel();

    int roller_;
    TVec2 direction_;
    TOptions options_;
    double start_ = 0, end_ = 0;
};

} // namespace kiv
