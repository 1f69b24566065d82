#include "project/SplineGraph.h"

#include "project/ShortestNumber.h"

#include <cmath>

namespace kiv {

TCubicBezier EasingCurve(double x1, double y1, double x2, double y2) {
    return TCubicBezier({0, 0}, {x1, y1}, {x2, y2}, {1, 1});
}

bool TQSplineGraph::Execute(TCalcStack& stack) {
    const double y2 = stack.Pop();
    const double x2 = stack.Pop();
    const double y1 = stack.Pop();
    const double x1 = stack.Pop();
    // A local curve rather than one shared between calls: the built-in is process-wide and
    // formulas are evaluated on several threads.
    const TCubicBezier curve = EasingCurve(x1, y1, x2, y2);
    stack.SetTop(curve.SolveAt(kSplineTolerance, stack.Top(), 1, 0));
    return true;
}

bool TQSplineGraph::Optimize(std::span<const double> constants, TRef<TCalcFunc>& replacement) {
    if (constants.size() < 4) return false;
    const std::span<const double> points = constants.last(4);
    const TCubicBezier probe = EasingCurve(points[0], points[1], points[2], points[3]);
    if (!probe.Finite()) return false;
    const TCurvePoint p1 = probe.Point(1);
    const TCurvePoint p2 = probe.Point(2);
    replacement = MakeRef<TQSplineGraph_opt>(static_cast<float>(p1.x), static_cast<float>(p1.y),
                                             static_cast<float>(p2.x), static_cast<float>(p2.y));
    return true;
}

TQSplineGraph_opt::TQSplineGraph_opt(float x1, float y1, float x2, float y2)
    : TCalcFunc("QSplineGraph-opt(" + ShortestText(x1) + ":" + ShortestText(y1) + ";" + ShortestText(x2) +
                    ":" + ShortestText(y2) + ")",
                1, true),
      curve_(MakeRef<TCubicBezier>(TCurvePoint{0, 0}, TCurvePoint{x1, y1}, TCurvePoint{x2, y2},
                                   TCurvePoint{1, 1})) {
    curve_->Flatten(kSplineTolerance, 1, 0);
}

bool TQSplineGraph_opt::Execute(TCalcStack& stack) {
    stack.SetTop(curve_->ValueAt(stack.Top()));
    return true;
}

} // namespace kiv
