// The easing function of formulas: QSplineGraph(x, x1, y1, x2, y2) is the y at abscissa x of the
// cubic Bézier curve from (0, 0) to (1, 1) with control points (x1, y1) and (x2, y2).
//
// TQSplineGraph solves the curve by bisection at every call. When the four control points are
// constants (as in almost every formula), the compiler asks it to Optimize and it hands back a
// TQSplineGraph_opt: the curve flattened once into segments, so that an evaluation is a segment
// lookup and one multiply-add.
#pragma once

#include "project/Curve.h"
#include "project/ExpressionFunctions.h"

namespace kiv {

// The flatness tolerance of both forms: squared distance 1e-6, a distance of 0.001.
inline constexpr double kSplineTolerance = 1e-6;

class TQSplineGraph : public TMathFunc {
public:
    TQSplineGraph() : TMathFunc("QSplineGraph", 5, true) {}

    // Pops (x2, y2) and (x1, y1) and replaces x on top by the curve's y. Keeps no state, so the
    // one process-wide instance may be called from any thread.
    bool Execute(TCalcStack& stack) override;
    // With at least four trailing constants (x1, y1, x2, y2): a TQSplineGraph_opt over them.
    // Declines when a control point is not finite (the call then fails at every evaluation).
    bool Optimize(std::span<const double> constants, TRef<TCalcFunc>& replacement) override;
};

// QSplineGraph with its control points fixed: one argument, pure. Its cursor moves at each call,
// so it belongs to the one program that the compiler made it for. Named
// "QSplineGraph-opt(x1:y1;x2:y2)" (informative only).
class TQSplineGraph_opt : public TCalcFunc {
public:
    TQSplineGraph_opt(float x1, float y1, float x2, float y2);

    bool Execute(TCalcStack& stack) override;
    TCubicBezier& Curve() noexcept { return *curve_; }

private:
    TRef<TCubicBezier> curve_;
};

// The curve through (0, 0), (x1, y1), (x2, y2), (1, 1).
TCubicBezier EasingCurve(double x1, double y1, double x2, double y2);

} // namespace kiv
