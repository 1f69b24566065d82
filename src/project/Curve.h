// Plane curves evaluated as y = f(x): a parametric curve (TCurveSeparator, with the cubic Bézier
// TCubicBezier) is either solved for x by bisection on its parameter, or flattened once into a
// list of line segments (TKusochek) that a cursor walks. Both use the same flatness test, so they
// cut the curve at the same parameters and agree.
//
// A curve object is changed by Flatten and by the cursor of SegmentFor/ValueAt: one thread at a
// time. PointAt and SolveAt do not change it.
#pragma once

#include "base/RefObject.h"

#include <vector>

namespace kiv {

struct TCurvePoint {
    double x = 0.0;
    double y = 0.0;
};

// One flat piece of a curve: y = (x - xStart) * slope + yStart.
struct TKusochek {
    double xStart = 0.0;
    double xEnd = 0.0;
    double slope = 0.0;
    double yStart = 0.0;

    double ValueAt(double x) const noexcept { return (x - xStart) * slope + yStart; }
};

class TCurveSeparator : public TRefObject {
public:
    // Intervals are halved at most this often, by Flatten and SolveAt alike: a curve that is still
    // not flat at 1/65536 of its parameter range (control points far outside the unit square) is
    // taken as flat there, so neither can run away in time or memory.
    static constexpr int kMaxDepth = 16;

    virtual TCurvePoint PointAt(double t) const = 0;

    // Empties the segment list and fills it with the flat pieces of [tLow, tHigh] in increasing t.
    // A curve with a NaN or infinite point gets no segments.
    void Flatten(double tolerance, double tHigh, double tLow);

    // The y of the curve at abscissa x by bisection of [tLow, tHigh]: at each level the half whose
    // end abscissa bounds x is kept, until the interval is flat; the chord of that interval gives
    // y. NaN when the curve or x is not finite.
    double SolveAt(double tolerance, double x, double tHigh, double tLow) const;

    // The segment for x, starting from the segment found last (cheap when x moves slowly). The
    // list must not be empty.
    const TKusochek& SegmentFor(double x);
    // y through the segments; beyond the first or last segment its line is extended. NaN without
    // segments.
    double ValueAt(double x);

    const std::vector<TKusochek>& Segments() const noexcept { return segments_; }
    int Cursor() const noexcept { return cursor_; }

protected:
    ~TCurveSeparator() override = default;

private:
    bool IsFlat(double a, double b, const TCurvePoint& ca, const TCurvePoint& cb, double tolerance,
                TCurvePoint& middle) const;
    void FlattenInterval(double a, double b, const TCurvePoint& ca, const TCurvePoint& cb, double tolerance,
                         int depth);

    std::vector<TKusochek> segments_;
    int cursor_ = 0;
};

// Cubic Bézier curve; the four points are held as 32-bit floats. Also usable as a plain local
// object when no reference needs to be shared.
class TCubicBezier final : public TCurveSeparator {
public:
    TCubicBezier() = default;
    TCubicBezier(TCurvePoint p0, TCurvePoint p1, TCurvePoint p2, TCurvePoint p3);
    ~TCubicBezier() override = default;

    void SetPoints(TCurvePoint p0, TCurvePoint p1, TCurvePoint p2, TCurvePoint p3);
    // Control point k (0..3) as stored (rounded to float).
    TCurvePoint Point(int k) const noexcept { return {x_[k & 3], y_[k & 3]}; }
    bool Finite() const noexcept;

    // (1-t)^3 P0 + 3t(1-t)^2 P1 + 3t^2(1-t) P2 + t^3 P3, per coordinate in extended precision and
    // rounded to double.
    TCurvePoint PointAt(double t) const override;

private:
    float x_[4] = {0, 0, 0, 0};
    float y_[4] = {0, 0, 0, 0};
};

} // namespace kiv
