#include "project/Curve.h"

#include <cmath>
#include <limits>

namespace kiv {

namespace {

bool FinitePoint(const TCurvePoint& p) {
    return std::isfinite(p.x) && std::isfinite(p.y);
}

double SquaredDistance(const TCurvePoint& a, const TCurvePoint& b) {
    const double dx = a.x - b.x;
    const double dy = a.y - b.y;
    return dx * dx + dy * dy;
}

TCurvePoint Along(const TCurvePoint& a, const TCurvePoint& b, double f) {
    return {a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f};
}

// The slope of the chord; 0 for a chord without width (the curve then steps at one x).
double ChordSlope(const TCurvePoint& a, const TCurvePoint& b) {
    const double dx = b.x - a.x;
    if (dx == 0.0) return 0.0;
    return (b.y - a.y) / dx;
}

// Doubles beyond the float range become infinities (a plain conversion would be undefined).
float ToFloat(double v) {
    if (v > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (v < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}

} // namespace

// The interval is flat when the curve points at 1/2, 1/4 and 3/4 of the parameter lie within the
// tolerance (squared distance) of the chord points at the same fractions. Also hands back C(m).
bool TCurveSeparator::IsFlat(double a, double b, const TCurvePoint& ca, const TCurvePoint& cb,
                             double tolerance, TCurvePoint& middle) const {
    const double m = (a + b) / 2;
    middle = PointAt(m);
    const TCurvePoint quarter = PointAt(3 * a / 4 + b / 4);
    const TCurvePoint threeQuarters = PointAt(a / 4 + 3 * b / 4);
    return SquaredDistance(middle, Along(ca, cb, 0.5)) <= tolerance &&
           SquaredDistance(quarter, Along(ca, cb, 0.25)) <= tolerance &&
           SquaredDistance(threeQuarters, Along(ca, cb, 0.75)) <= tolerance;
}

void TCurveSeparator::Flatten(double tolerance, double tHigh, double tLow) {
    segments_.clear();
    cursor_ = 0;
    const TCurvePoint ca = PointAt(tLow);
    const TCurvePoint cb = PointAt(tHigh);
    if (!FinitePoint(ca) || !FinitePoint(cb) || !std::isfinite(tolerance) || !(tLow < tHigh)) return;
    FlattenInterval(tLow, tHigh, ca, cb, tolerance, 0);
    for (const TKusochek& segment : segments_) {
        if (!std::isfinite(segment.slope) || !std::isfinite(segment.yStart)) {
            segments_.clear();
            return;
        }
    }
}

void TCurveSeparator::FlattenInterval(double a, double b, const TCurvePoint& ca, const TCurvePoint& cb,
                                      double tolerance, int depth) {
    TCurvePoint cm;
    if (IsFlat(a, b, ca, cb, tolerance, cm) || depth >= kMaxDepth || !FinitePoint(cm)) {
        segments_.push_back(TKusochek{ca.x, cb.x, ChordSlope(ca, cb), ca.y});
        return;
    }
    const double m = (a + b) / 2;
    FlattenInterval(a, m, ca, cm, tolerance, depth + 1);
    FlattenInterval(m, b, cm, cb, tolerance, depth + 1);
}

double TCurveSeparator::SolveAt(double tolerance, double x, double tHigh, double tLow) const {
    double a = tLow;
    double b = tHigh;
    TCurvePoint ca = PointAt(a);
    TCurvePoint cb = PointAt(b);
    if (!FinitePoint(ca) || !FinitePoint(cb) || !std::isfinite(x) || !std::isfinite(tolerance))
        return std::nan("");
    for (int depth = 0;; ++depth) {
        TCurvePoint cm;
        if (IsFlat(a, b, ca, cb, tolerance, cm) || depth >= kMaxDepth || !FinitePoint(cm))
            return ca.y + (x - ca.x) * ChordSlope(ca, cb);
        const double m = (a + b) / 2;
        if (x <= cm.x) {
            b = m;
            cb = cm;
        } else {
            a = m;
            ca = cm;
        }
    }
}

const TKusochek& TCurveSeparator::SegmentFor(double x) {
    const int last = static_cast<int>(segments_.size()) - 1;
    if (cursor_ > last) cursor_ = last;
    if (cursor_ < 0) cursor_ = 0;
    if (x >= segments_[static_cast<std::size_t>(cursor_)].xStart) {
        while (cursor_ < last && x > segments_[static_cast<std::size_t>(cursor_)].xEnd)
            ++cursor_;
    } else {
        while (cursor_ > 0) {
            --cursor_;
            if (x >= segments_[static_cast<std::size_t>(cursor_)].xStart) break;
        }
    }
    return segments_[static_cast<std::size_t>(cursor_)];
}

double TCurveSeparator::ValueAt(double x) {
    if (segments_.empty()) return std::nan("");
    return SegmentFor(x).ValueAt(x);
}

TCubicBezier::TCubicBezier(TCurvePoint p0, TCurvePoint p1, TCurvePoint p2, TCurvePoint p3) {
    SetPoints(p0, p1, p2, p3);
}

void TCubicBezier::SetPoints(TCurvePoint p0, TCurvePoint p1, TCurvePoint p2, TCurvePoint p3) {
    const TCurvePoint points[4] = {p0, p1, p2, p3};
    for (int k = 0; k < 4; ++k) {
        x_[k] = ToFloat(points[k].x);
        y_[k] = ToFloat(points[k].y);
    }
}

bool TCubicBezier::Finite() const noexcept {
    for (int k = 0; k < 4; ++k)
        if (!std::isfinite(x_[k]) || !std::isfinite(y_[k])) return false;
    return true;
}

TCurvePoint TCubicBezier::PointAt(double t) const {
    const long double s = t;
    const long double r = 1.0L - s;
    const long double w0 = r * r * r;
    const long double w1 = 3.0L * s * r * r;
    const long double w2 = 3.0L * s * s * r;
    const long double w3 = s * s * s;
    const long double x = w0 * x_[0] + w1 * x_[1] + w2 * x_[2] + w3 * x_[3];
    const long double y = w0 * y_[0] + w1 * y_[1] + w2 * y_[2] + w3 * y_[3];
    return {static_cast<double>(x), static_cast<double>(y)};
}

} // namespace kiv
