#include "effects/TransitionFilters.h"

#include "base/Log.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <numbers>

namespace kiv {

namespace {

constexpr double kPi = std::numbers::pi;

// The two triangles of a rectangle with one opacity, the texture shifted by (−dx, −dy).
void AddRect(std::vector<TTileVertex>& out, double l, double t, double r, double b, float opacity,
             double dx = 0, double dy = 0) {
    const TTileVertex tl{l + dx, t + dy, 0, l, t, opacity, 255}, tr{r + dx, t + dy, 0, r, t, opacity, 255},
        bl{l + dx, b + dy, 0, l, b, opacity, 255}, br{r + dx, b + dy, 0, r, b, opacity, 255};
    out.insert(out.end(), {tl, tr, bl, bl, tr, br});
}

} // namespace

double EdgeCurve(double a) {
    a = std::clamp(a, 0.0, 255.0);
    return a < 127.5 ? a * a / 128 : 255 - (255 - a) * (255 - a) / 128;
}

// ---- dissolve

void TAlphaFilter::Draw(TD3DTriController& controller) {
    const auto opacity = static_cast<float>(std::clamp(Phase() * 255, 0.0, 255.0));
    std::vector<TTileVertex> v;
    AddRect(v, rect_.left, rect_.top, rect_.right, rect_.bottom, opacity);
    controller.Begin(true);
    controller.Triangles(v);
    controller.End();
}

// ---- shape masks

void TCommonFilter::Init(const TRect& rect, float smoothWidth, float duration) {
    TDrawFilter::Init(rect, smoothWidth, duration);
    cx_ = rect.left + (rect.right - rect.left) * fx_;
    cy_ = rect.top + (rect.bottom - rect.top) * fy_;
    ComputeExtent();
}

void TCommonFilter::Relayout(const TRect& rect, float smoothWidth) {
    TDrawFilter::Relayout(rect, smoothWidth);
    cx_ = rect.left + (rect.right - rect.left) * fx_;
    cy_ = rect.top + (rect.bottom - rect.top) * fy_;
    ComputeExtent();
}

double TCommonFilter::Radius() const {
    const double r = Phase() * extent_;
    return Reversed ? extent_ - r : r;
}

void TCommonFilter::Quad(const TTileVertex& a, const TTileVertex& b, const TTileVertex& c,
                         const TTileVertex& d) {
    vertices_.insert(vertices_.end(), {a, b, c, a, c, d});
}

void TCommonFilter::Draw(TD3DTriController& controller) {
    vertices_.clear();
    const double s = smoothWidth_;
    const double outer = Radius();
    if (outer > 0) {
        const double r0 = outer - s;
        if (r0 > 0) DrawBand(-1, 255, 255, r0, 0);
        double p = 0, q = r0;
        if (r0 < 0) {
            p = s > 0 ? EdgeCurve(-r0 * 255 / s) : 0;
            q = 0;
        }
        int band = 0;
        for (int i = 1; i <= 14; ++i) {
            const double a = i * 255.0 / 14;
            const double ri = r0 + a * s / 255;
            if (ri > 0 && q < extent_ && (i == 14 || ri - q > 2)) {
                DrawBand(band++, static_cast<float>(255 - EdgeCurve(a)), static_cast<float>(255 - p), ri, q);
                p = EdgeCurve(a);
                q = ri;
            }
        }
    }
    controller.Begin(true);
    controller.Triangles(vertices_);
    controller.End();
}

void THLines::ComputeExtent() {
    extent_ = std::max(cx_ - rect_.left, rect_.right - cx_) + smoothWidth_;
}

void THLines::DrawBand(int, float outerOpacity, float innerOpacity, double outer, double inner) {
    const double t = rect_.top, b = rect_.bottom;
    for (const double side : {-1.0, 1.0}) {
        const double xi = cx_ + side * inner, xo = cx_ + side * outer;
        Quad(FlatVertex(xi, t, innerOpacity), FlatVertex(xo, t, outerOpacity),
             FlatVertex(xo, b, outerOpacity), FlatVertex(xi, b, innerOpacity));
    }
}

void TVLines::ComputeExtent() {
    extent_ = std::max(cy_ - rect_.top, rect_.bottom - cy_) + smoothWidth_;
}

void TVLines::DrawBand(int, float outerOpacity, float innerOpacity, double outer, double inner) {
    const double l = rect_.left, r = rect_.right;
    for (const double side : {-1.0, 1.0}) {
        const double yi = cy_ + side * inner, yo = cy_ + side * outer;
        Quad(FlatVertex(l, yi, innerOpacity), FlatVertex(l, yo, outerOpacity),
             FlatVertex(r, yo, outerOpacity), FlatVertex(r, yi, innerOpacity));
    }
}

void TDiagLines::ComputeExtent() {
    const int w = rect_.Width(), h = rect_.Height();
    double t = 0, b = 0;
    if (mode_ == 1) {
        t = (w + h) / 2; // integer halving
        b = t - h;
        extent_ = (w + h) / 2 + smoothWidth_;
    } else {
        t = mode_ == 0 ? 0 : w + h;
        b = mode_ == 0 ? -h : w;
        extent_ = w + h + smoothWidth_;
    }
    if (flip_) {
        b = t;
        t -= h;
    }
    top_ = t;
    bottom_ = b;
}

void TDiagLines::DrawBand(int, float outerOpacity, float innerOpacity, double outer, double inner) {
    const double l = rect_.left, t = rect_.top, b = rect_.bottom;
    const double xt = l + top_, xb = l + bottom_;
    if (mode_ == 0 || mode_ == 1)
        Quad(FlatVertex(xt + inner, t, innerOpacity), FlatVertex(xt + outer, t, outerOpacity),
             FlatVertex(xb + outer, b, outerOpacity), FlatVertex(xb + inner, b, innerOpacity));
    if (mode_ == 2 || mode_ == 1)
        Quad(FlatVertex(xt - outer, t, outerOpacity), FlatVertex(xt - inner, t, innerOpacity),
             FlatVertex(xb - inner, b, innerOpacity), FlatVertex(xb - outer, b, outerOpacity));
}

void TCircleFilter::ComputeExtent() {
    const double gx = std::max({rect_.left - cx_, 0.0, cx_ - rect_.right});
    const double gy = std::max({rect_.top - cy_, 0.0, cy_ - rect_.bottom});
    offset_ = std::hypot(gx, gy);
    farthest_ = 0;
    for (const double x : {double(rect_.left), double(rect_.right)})
        for (const double y : {double(rect_.top), double(rect_.bottom)})
            farthest_ = std::max(farthest_, std::hypot(x - cx_, y - cy_));
    extent_ = farthest_ - offset_ + smoothWidth_;
    segments_ = offset_ > 0 ? 256 : 128;
}

void TCircleFilter::DrawBand(int index, float outerOpacity, float innerOpacity, double outer, double inner) {
    // Two circles of N / 2 points, staggered by one N-th of a turn; the circle that leads alternates
    // from band to band, so a ring shared by two bands has the same points in both.
    const int m = std::max(2, segments_ / 2);
    const double step = 2 * kPi / m;
    const bool collapsed = !(inner > 0 || offset_ > 0);
    const double ro = outer + offset_, ri = collapsed ? 0 : inner + offset_;
    const bool outerLeads = (index & 1) == 0;
    const double ao = outerLeads ? 0 : step / 2, ai = outerLeads ? step / 2 : 0;
    auto at = [&](double r, double angle, float opacity) {
        return FlatVertex(cx_ + r * std::cos(angle), cy_ + r * std::sin(angle), opacity);
    };
    for (int k = 0; k < m; ++k) {
        const TTileVertex o0 = at(ro, ao + k * step, outerOpacity), o1 = at(ro, ao + (k + 1) * step, outerOpacity);
        if (collapsed) {
            vertices_.insert(vertices_.end(), {FlatVertex(cx_, cy_, innerOpacity), o0, o1});
            continue;
        }
        const TTileVertex i0 = at(ri, ai + k * step, innerOpacity), i1 = at(ri, ai + (k + 1) * step, innerOpacity);
        vertices_.insert(vertices_.end(), {o0, i0, o1, i0, i1, o1});
    }
}

void TRhombFilter::ComputeExtent() {
    offset_ = std::max({rect_.left - cx_, 0.0, cx_ - rect_.right}) +
              std::max({rect_.top - cy_, 0.0, cy_ - rect_.bottom});
    double largest = 0;
    for (const double x : {double(rect_.left), double(rect_.right)})
        for (const double y : {double(rect_.top), double(rect_.bottom)})
            largest = std::max(largest, std::abs(x - cx_) + std::abs(y - cy_));
    extent_ = largest - offset_ + smoothWidth_;
}

void TRhombFilter::DrawBand(int, float outerOpacity, float innerOpacity, double outer, double inner) {
    const double ri = inner + offset_, ro = outer + offset_;
    for (const double sx : {-1.0, 1.0})
        for (const double sy : {-1.0, 1.0})
            Quad(FlatVertex(cx_ + sx * ri, cy_, innerOpacity), FlatVertex(cx_ + sx * ro, cy_, outerOpacity),
                 FlatVertex(cx_, cy_ + sy * ro, outerOpacity), FlatVertex(cx_, cy_ + sy * ri, innerOpacity));
}

void TSquareFilter::ComputeExtent() {
    const double w = rect_.Width(), h = rect_.Height();
    aspect_ = w > 0 ? h / w : 1;
    const double gx = std::max({rect_.left - cx_, 0.0, cx_ - rect_.right});
    const double gy = std::max({rect_.top - cy_, 0.0, cy_ - rect_.bottom}) * (h > 0 ? w / h : 1);
    const bool inside = gx == 0 && gy == 0;
    if (inside)
        offset_ = 0;
    else if (gy == 0)
        offset_ = gx;
    else if (gx == 0)
        offset_ = gy;
    else
        offset_ = std::min(gx, gy);
    const double wh = h > 0 ? w / h : 1;
    extent_ = inside ? std::max({cx_ - rect_.left, rect_.right - cx_, (cy_ - rect_.top) * wh,
                                 (rect_.bottom - cy_) * wh}) +
                           smoothWidth_
                     : w + smoothWidth_;
}

void TSquareFilter::DrawBand(int, float outerOpacity, float innerOpacity, double outer, double inner) {
    const double ri = inner + offset_, ro = outer + offset_;
    const double hi = ri * aspect_, ho = ro * aspect_;
    auto in = [&](double sx, double sy) { return FlatVertex(cx_ + sx * ri, cy_ + sy * hi, innerOpacity); };
    auto out = [&](double sx, double sy) { return FlatVertex(cx_ + sx * ro, cy_ + sy * ho, outerOpacity); };
    Quad(out(-1, -1), out(1, -1), in(1, -1), in(-1, -1)); // top
    Quad(out(1, -1), out(1, 1), in(1, 1), in(1, -1));     // right
    Quad(out(1, 1), out(-1, 1), in(-1, 1), in(1, 1));     // bottom
    Quad(out(-1, 1), out(-1, -1), in(-1, -1), in(-1, 1)); // left
}

// ---- mosaic

float NextUnit(std::uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    const std::uint32_t bits = 0x3F800000u | (state & 0x7FFFFFu);
    return std::bit_cast<float>(bits) - 1.0f;
}

TRandomFilter::TRandomFilter(int columns, int rows, std::uint32_t seed, double appearance)
    : columns_(std::clamp(columns, 1, 256)), rows_(std::clamp(rows, 1, 256)), seed_(seed),
      appearance_(std::isfinite(appearance) && appearance > 0 ? appearance : 0) {
    if (columns_ != columns || rows_ != rows)
        TLog::Line("Mosaic: " + std::to_string(columns) + " x " + std::to_string(rows) + " cells kept to " +
                   std::to_string(columns_) + " x " + std::to_string(rows_));
}

void TRandomFilter::Init(const TRect& rect, float smoothWidth, float duration) {
    TDrawFilter::Init(rect, smoothWidth, duration);
    const double c = std::round(appearance_ * 100);
    std::uint32_t state = seed_;
    start_.assign(static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_), 0);
    for (int i = 0; i < rows_; ++i)
        for (int j = 0; j < columns_; ++j)
            start_[static_cast<std::size_t>(i * columns_ + j)] =
                static_cast<int>(std::lround(NextUnit(state) * c));
}

float TRandomFilter::CellOpacity(int column, int row) const {
    const double threshold = std::round(Phase() * (appearance_ * 100 + 256) - 256);
    const double v = start_[static_cast<std::size_t>(row * columns_ + column)] - threshold;
    if (v >= 255) return 0;
    return v < 0 ? 255.0f : static_cast<float>(255 - v);
}

void TRandomFilter::Draw(TD3DTriController& controller) {
    std::vector<TTileVertex> v;
    const double w = rect_.Width(), h = rect_.Height();
    for (int i = 0; i < rows_; ++i)
        for (int j = 0; j < columns_; ++j) {
            const float opacity = CellOpacity(j, i);
            if (opacity <= 0) continue;
            AddRect(v, rect_.left + j * w / columns_, rect_.top + i * h / rows_,
                    rect_.left + (j + 1) * w / columns_, rect_.top + (i + 1) * h / rows_, opacity);
        }
    controller.Begin(true);
    controller.Triangles(v);
    controller.End();
}

// ---- slide and push

TVec2 TSlideFilter::Displacement(double w, double h) const {
    const double f = Phase();
    switch (direction_) {
    case 1:
        return {w * f - w, 0};
    case 2:
        return {w - w * f, 0};
    case 3:
        return {0, h * f - h};
    default:
        return {0, h - h * f};
    }
}

void TSlideFilter::Draw(TD3DTriController& controller) {
    const TRect& a = controller.Area();
    const TVec2 d = Displacement(a.Width(), a.Height());
    std::vector<TTileVertex> v;
    AddRect(v, a.left, a.top, a.right, a.bottom, 255, d.x, d.y);
    controller.Begin(true);
    controller.Triangles(v);
    controller.End();
}

TVec2 TPushFilter::PushOffset(const TRect& rect) const {
    const double f = Phase();
    switch (direction_) {
    case 1:
        return {rect.Width() * f, 0};
    case 2:
        return {-rect.Width() * f, 0};
    case 3:
        return {0, rect.Height() * f};
    default:
        return {0, -rect.Height() * f};
    }
}

// ---- flip

double TOverturnEffect::Angle() const {
    const double x = Phase();
    const double q = x < 0.5 ? 2 * x * x : 1 - 2 * (1 - x) * (1 - x);
    const double theta = kPi * (nonLinear_ ? q : x);
    return kind_ % 2 == 1 ? -theta : theta;
}

std::vector<TTileVertex> TOverturnEffect::Corners() const {
    const double theta = Angle();
    const bool vertical = kind_ == 1 || kind_ == 2 || kind_ == 5 || kind_ == 6;
    const bool spin = kind_ >= 5;
    const double sigma = std::abs(theta) < kPi / 2 ? 1 : -1;
    const double l = rect_.left, t = rect_.top, r = rect_.right, b = rect_.bottom;
    const double d = (vertical ? r - l : b - t) / 2;
    const double c = vertical ? (l + r) / 2 : (t + b) / 2;
    const double lo = c - std::cos(theta) * d * sigma, hi = c + std::cos(theta) * d * sigma;
    const double ze = std::sin(theta) * d * volume_ * sigma;
    const double zlo = spin ? -ze : std::abs(ze) - ze;
    const double zhi = spin ? ze : ze + std::abs(ze);
    const auto grey = static_cast<float>(std::round(std::abs(std::cos(theta)) * 155 + 100));
    auto at = [&](double x, double y, double u, double v, double z) {
        return TTileVertex{x, y, z, u, v, 255, grey};
    };
    if (vertical)
        return {at(lo, t, l, t, zlo), at(hi, t, r, t, zhi), at(lo, b, l, b, zlo), at(hi, b, r, b, zhi)};
    return {at(l, lo, l, t, zlo), at(r, lo, r, t, zlo), at(l, hi, l, b, zhi), at(r, hi, r, b, zhi)};
}

void TOverturnEffect::Draw(TD3DTriController& controller) {
    // The sheet is cut into strips across the turning axis so that its texture follows the depth.
    constexpr int kStrips = 16;
    const std::vector<TTileVertex> c = Corners();
    const bool vertical = kind_ == 1 || kind_ == 2 || kind_ == 5 || kind_ == 6;
    auto mix = [](const TTileVertex& a, const TTileVertex& b, double k) {
        return TTileVertex{a.x + (b.x - a.x) * k,
                           a.y + (b.y - a.y) * k,
                           a.z + (b.z - a.z) * k,
                           a.u + (b.u - a.u) * k,
                           a.v + (b.v - a.v) * k,
                           a.opacity,
                           a.grey};
    };
    // Along the axis direction across which the depth changes: left → right or top → bottom.
    const TTileVertex& a0 = c[0];
    const TTileVertex& a1 = vertical ? c[1] : c[2];
    const TTileVertex& b0 = vertical ? c[2] : c[1];
    const TTileVertex& b1 = c[3];
    std::vector<TTileVertex> v;
    for (int k = 0; k < kStrips; ++k) {
        const double k0 = double(k) / kStrips, k1 = double(k + 1) / kStrips;
        const TTileVertex p = mix(a0, a1, k0), q = mix(a0, a1, k1), r = mix(b0, b1, k0), s = mix(b0, b1, k1);
        v.insert(v.end(), {p, q, r, r, q, s});
    }
    controller.Begin(true);
    controller.Triangles(v);
    controller.End();
}

// ---- hourhand

int HandCurve(int i) {
    i = std::clamp(i, 0, 255);
    if (i < 128) return i * i / 128;
    const int j = 255 - i;
    return 255 - j * j / 128;
}

namespace {

// The edge value of an angle θ against the hand at φ with edge angle e (0 swept … 255 ahead).
double HandValue(double theta, double phi, double e) {
    if (theta < phi) return 0;
    if (theta >= phi + e) return 255;
    return HandCurve(static_cast<int>(std::lround((theta - phi) * 255 / e)));
}

constexpr int kTurnSamples = 1000;
constexpr double kSampleStep = 2 * kPi / kTurnSamples;

// The fan of triangles about `pivot` reaching `reach`, coarse (10 samples) where the values do not
// change and fine over the edge; opacity 255 − value.
void Fan(std::vector<TTileVertex>& out, TVec2 pivot, double reach, const std::vector<double>& values) {
    int k = 0;
    while (k < kTurnSamples) {
        int step = std::min(10, kTurnSamples - k);
        for (int i = k + 1; i <= k + step; ++i)
            if (values[static_cast<std::size_t>(i)] != values[static_cast<std::size_t>(k)]) {
                step = 1;
                break;
            }
        const int next = k + step;
        const double v0 = values[static_cast<std::size_t>(k)], v1 = values[static_cast<std::size_t>(next)];
        const double a0 = k * kSampleStep, a1 = next * kSampleStep;
        out.push_back(FlatVertex(pivot.x, pivot.y, static_cast<float>(255 - (v0 + v1) / 2)));
        out.push_back(FlatVertex(pivot.x + reach * std::sin(a0), pivot.y - reach * std::cos(a0),
                                 static_cast<float>(255 - v0)));
        out.push_back(FlatVertex(pivot.x + reach * std::sin(a1), pivot.y - reach * std::cos(a1),
                                 static_cast<float>(255 - v1)));
        k = next;
    }
}

} // namespace

TBroomEffect::TBroomEffect(int kind, double offset)
    : kind_(kind > 8 ? kind - 8 : kind), offset_(std::isfinite(offset) ? offset : 0) {
    Reversed = kind > 8;
}

void TBroomEffect::Build() {
    const double l = rect_.left, t = rect_.top, w = rect_.Width(), h = rect_.Height();
    const double b = offset_, s = smoothWidth_;
    const bool sideways = kind_ == 2 || kind_ == 4;
    const double g = sideways ? std::atan2(2 * b, h) : std::atan2(2 * b, w);
    const double t1 = std::atan2(b, b + h), t2 = std::atan2(b, b + w);
    const double d = kind_ >= 5 ? std::hypot(b + w / 2, b + h / 2) : sideways ? b + w / 2 : b + h / 2;
    edge_ = d > 0 ? 2 * std::atan(s / (2 * d)) : 0;
    const double e = edge_;
    switch (kind_) {
    case 1:
        pivot_ = {l + w / 2, t - b};
        start_ = kPi / 2 - e + g;
        end_ = 3 * kPi / 2 - g;
        break;
    case 2:
        pivot_ = {l + w + b, t + h / 2};
        start_ = kPi - e + g;
        end_ = 2 * kPi - g;
        break;
    case 3:
        pivot_ = {l + w / 2, t + h + b};
        start_ = 3 * kPi / 2 - e + g;
        end_ = 5 * kPi / 2 - g;
        break;
    case 4:
        pivot_ = {l - b, t + h / 2};
        start_ = g - e;
        end_ = kPi - g;
        break;
    case 5:
        pivot_ = {l + w + b, t - b};
        start_ = kPi - e + t1;
        end_ = 3 * kPi / 2 - t2;
        break;
    case 6:
        pivot_ = {l + w + b, t + h + b};
        start_ = 3 * kPi / 2 - e + t2;
        end_ = 2 * kPi - t1;
        break;
    case 7:
        pivot_ = {l - b, t + h + b};
        start_ = t1 - e;
        end_ = kPi / 2 - t2;
        break;
    default:
        pivot_ = {l - b, t - b};
        start_ = kPi / 2 - e + t2;
        end_ = kPi - t1;
        break;
    }
    built_ = true;
}

void TBroomEffect::Relayout(const TRect& rect, float smoothWidth) {
    TDrawFilter::Relayout(rect, smoothWidth);
    built_ = false;
}

double TBroomEffect::Angle() const {
    const double f = Reversed ? 1 - Phase() : Phase();
    return start_ + (end_ - start_) * f;
}

double TBroomEffect::Value(double theta) const {
    if (kind_ == 3 && theta < kPi) theta += 2 * kPi; // the downward broom turns through straight up
    return HandValue(theta, Angle(), edge_);
}

void TBroomEffect::Draw(TD3DTriController& controller) {
    if (!built_) Build();
    std::vector<double> values(kTurnSamples + 1);
    for (int k = 0; k <= kTurnSamples; ++k)
        values[static_cast<std::size_t>(k)] = Value(k * kSampleStep);
    std::vector<TTileVertex> v;
    try {
        Fan(v, pivot_, rect_.Width() + rect_.Height() + offset_, values);
    } catch (const std::exception& error) {
        TLog::Line(std::string("Hourhand: ") + error.what());
    }
    controller.Begin(true);
    controller.Triangles(v);
    controller.End();
}

double TClockEffect::EdgeAngle() const {
    const double reach = std::hypot(rect_.Width(), rect_.Height()) / 4;
    return reach > 0 ? 2 * std::atan(std::max(static_cast<double>(smoothWidth_), 0.001) / (2 * reach))
                     : 0.001;
}

double TClockEffect::Angle() const {
    const double e = EdgeAngle();
    return Phase() * (2 * kPi + e) - e;
}

void TClockEffect::Draw(TD3DTriController& controller) {
    const double e = EdgeAngle(), phi = Angle();
    std::vector<double> values(kTurnSamples + 1);
    for (int k = 0; k <= kTurnSamples; ++k)
        values[static_cast<std::size_t>(k)] = HandValue(k * kSampleStep, phi, e);
    const TVec2 centre{rect_.left + rect_.Width() * fx_, rect_.top + rect_.Height() * fy_};
    std::vector<TTileVertex> v;
    try {
        Fan(v, centre, rect_.Width() + rect_.Height(), values);
    } catch (const std::exception& error) {
        TLog::Line(std::string("Hourhand: ") + error.what());
    }
    if (counterClockwise_) {
        const double mirror = rect_.left + rect_.right;
        for (TTileVertex& p : v)
            p.x = p.u = mirror - p.x;
    }
    controller.Begin(true);
    controller.Triangles(v);
    controller.End();
}

// ---- swap

TTileVertex TTwoSlidesEffect::Place(double cx, double cy, double w, double h, int call) const {
    const double f = Phase();
    const double s = f < 0.5 ? 2 * f * f : 1 - 2 * (1 - f) * (1 - f);
    double a = w, b = h, x = s;
    if ((f >= 0.5) != (call % 2 == 1)) {
        a = -w;
        b = -h;
        x = 1 - s;
    }
    switch (direction_) {
    case 1:
        b = 0;
        break;
    case 2:
        a = -a;
        b = 0;
        break;
    case 3:
        a = 0;
        break;
    default:
        a = 0;
        b = -b;
        break;
    }
    const double tilt = std::sin(x * angle_);
    double z = x * h * depth_;
    if (a > 0) z += (a - cx) * tilt;
    if (a < 0) z += cx * tilt;
    if (b > 0) z += (b - cy) * tilt;
    if (b < 0) z += cy * tilt;
    const double shift = std::sin(kPi * x) * distance_;
    return {cx + a * shift, cy + b * shift, z, cx, cy, 255, 255};
}

void TTwoSlidesEffect::Draw(TD3DTriController& controller) {
    constexpr int kGrid = 8;
    const int call = ++calls_;
    const TRect& area = controller.Area();
    const double w = area.Width(), h = area.Height();
    std::vector<TTileVertex> grid;
    for (int j = 0; j <= kGrid; ++j)
        for (int i = 0; i <= kGrid; ++i) {
            TTileVertex p = Place(w * i / kGrid, h * j / kGrid, w, h, call);
            p.x += area.left;
            p.y += area.top;
            p.u += area.left;
            p.v += area.top;
            grid.push_back(p);
        }
    std::vector<TTileVertex> v;
    auto at = [&](int i, int j) { return grid[static_cast<std::size_t>(j * (kGrid + 1) + i)]; };
    for (int j = 0; j < kGrid; ++j)
        for (int i = 0; i < kGrid; ++i)
            v.insert(v.end(),
                     {at(i, j), at(i + 1, j), at(i, j + 1), at(i, j + 1), at(i + 1, j), at(i + 1, j + 1)});
    controller.Begin(true);
    controller.Triangles(v);
    controller.End();
}

// ---- curling

namespace {

int RollerOf(int mode, int kind) {
    const int k = (kind - 1) % 8 + 1;
    static constexpr int kEdge[9] = {0, 1, 4, 2, 3, 2, 3, 1, 4};
    static constexpr int kCorner[9] = {0, 5, 7, 8, 6, 8, 6, 5, 7};
    return mode == 15 ? kCorner[k] : kEdge[k];
}

TVec2 RollerDirection(int roller) {
    constexpr double r = 0.70710677;
    static constexpr TVec2 kDirections[9] = {{0, 0}, {1, 0},  {-1, 0}, {0, -1}, {0, 1},
                                             {r, r}, {r, -r}, {-r, r}, {-r, -r}};
    return kDirections[std::clamp(roller, 1, 8)];
}

} // namespace

TRollEffect2::TRollEffect2(int mode, int kind, const TOptions& options)
    : roller_(RollerOf(mode, std::clamp(kind, 1, 8))), direction_(RollerDirection(roller_)),
      options_(options) {
    Reversed = kind > 4;
    CaptureMode = 1;
    options_.radius = std::isfinite(options_.radius) ? std::max(2.0, options_.radius) : 2.0;
    if (!std::isfinite(options_.volume)) options_.volume = 0;
}

void TRollEffect2::Init(const TRect& rect, float smoothWidth, float duration) {
    TDrawFilter::Init(rect, smoothWidth, duration);
    LayTravel();
}

void TRollEffect2::Relayout(const TRect& rect, float smoothWidth) {
    TDrawFilter::Relayout(rect, smoothWidth);
    LayTravel();
}

void TRollEffect2::LayTravel() {
    const TRect& rect = rect_;
    const double reach = options_.useVolume ? options_.radius * kPi / 2 : options_.radius;
    double low = 0, high = 0;
    bool first = true;
    for (const double x : {double(rect.left), double(rect.right)})
        for (const double y : {double(rect.top), double(rect.bottom)}) {
            const double along = x * direction_.x + y * direction_.y;
            low = first ? along : std::min(low, along);
            high = first ? along : std::max(high, along);
            first = false;
        }
    start_ = low - reach;
    end_ = high;
    if (Reversed) std::swap(start_, end_);
}

TTileVertex TRollEffect2::Wind(double x, double y, double p) const {
    const double u = x * direction_.x + y * direction_.y - p;
    if (u <= 0) return {x, y, 0, x, y, 255, 255};
    const double radius = options_.radius;
    const double alpha = std::min(u / radius, Turn());
    // Along the direction the point lands at p + R sin α on the roll, then straight on past the turn.
    const double rest = u - alpha * radius;
    const double moved = radius * std::sin(alpha) + rest * std::cos(alpha) - u;
    const double volume = options_.useVolume ? options_.volume : 0;
    const auto shade = static_cast<float>(50 + 205 * std::abs(std::cos(alpha)));
    return {x + direction_.x * moved,
            y + direction_.y * moved,
            -(1 - std::cos(alpha)) * radius * volume,
            x,
            y,
            255,
            shade};
}

double TRollEffect2::Turn() const {
    if (!options_.pipe) return kPi;
    return roller_ >= 5 ? 1.5 * kPi : 2 * kPi;
}

void TRollEffect2::Draw(TD3DTriController& controller) {
    const TRect& area = controller.Area();
    if (area.IsEmpty()) return;
    const double p = Travel(Phase());
    // A grid fine enough for the roll: cells of about a twelfth of the radius, at most 160 × 90.
    const int columns =
        std::clamp(static_cast<int>(area.Width() / std::max(4.0, options_.radius / 12)), 8, 160);
    const int rows = std::clamp(static_cast<int>(area.Height() / std::max(4.0, options_.radius / 12)), 8, 90);
    // A point of the slide with its distance past the axis.
    struct TPlain {
        double x, y, ahead;
    };
    auto plainAt = [&](double x, double y) { return TPlain{x, y, x * direction_.x + y * direction_.y - p}; };
    std::vector<TPlain> grid;
    grid.reserve(static_cast<std::size_t>((columns + 1) * (rows + 1)));
    for (int j = 0; j <= rows; ++j)
        for (int i = 0; i <= columns; ++i)
            grid.push_back(plainAt(area.left + double(area.Width()) * i / columns,
                                   area.top + double(area.Height()) * j / rows));
    auto at = [&](int i, int j) { return static_cast<std::size_t>(j * (columns + 1) + i); };
    std::vector<TTileVertex> flat;
    struct TCell {
        double depth;
        std::vector<TPlain> polygon;
    };
    std::vector<TCell> rolled;
    // The part of a convex polygon on one side of the line `at` past the axis (ahead ≥ at or
    // ≤ at), cut exactly on it.
    auto side = [](const std::vector<TPlain>& polygon, bool aheadSide, double at = 0) {
        std::vector<TPlain> out;
        for (std::size_t k = 0; k < polygon.size(); ++k) {
            const TPlain& u = polygon[k];
            const TPlain& w = polygon[(k + 1) % polygon.size()];
            const double su = aheadSide ? u.ahead - at : at - u.ahead;
            const double sw = aheadSide ? w.ahead - at : at - w.ahead;
            if (su >= 0) out.push_back(u);
            if ((su > 0 && sw < 0) || (su < 0 && sw > 0)) {
                const double t = su / (su - sw);
                out.push_back({u.x + (w.x - u.x) * t, u.y + (w.y - u.y) * t, at});
            }
        }
        return out;
    };
    // Past the turn the sheet goes straight on: that part is drawn whole, at its height.
    const double radius = options_.radius;
    const double turnAt = Turn() * radius;
    // How high above the slide the sheet is where it has turned by α (in radii): the painter's
    // order draws higher parts over lower ones, so that an outer wrap covers an inner one.
    auto height = [&](double ahead) { return 1 - std::cos(std::clamp(ahead / radius, 0.0, Turn())); };
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i) {
            const std::array<std::size_t, 4> c{at(i, j), at(i + 1, j), at(i, j + 1), at(i + 1, j + 1)};
            double most = -1e300, least = 1e300;
            for (const std::size_t k : c) {
                most = std::max(most, grid[k].ahead);
                least = std::min(least, grid[k].ahead);
            }
            std::vector<TPlain> piece{grid[c[0]], grid[c[1]], grid[c[3]], grid[c[2]]};
            // The flat sheet behind the axis is cut on the same cells as the roll, so that both
            // share their vertices along the axis and no crack opens between them.
            if (most <= 0) {
                for (const std::size_t k : {0, 1, 2})
                    flat.push_back(FlatVertex(piece[k].x, piece[k].y, 255));
                for (const std::size_t k : {0, 2, 3})
                    flat.push_back(FlatVertex(piece[k].x, piece[k].y, 255));
                continue;
            }
            if (least < 0) {
                const std::vector<TPlain> behind = side(piece, false);
                for (std::size_t k = 1; k + 1 < behind.size(); ++k)
                    for (const TPlain* q : {&behind[0], &behind[k], &behind[k + 1]})
                        flat.push_back(FlatVertex(q->x, q->y, 255));
                piece = side(piece, true);
            }
            if (least >= turnAt) continue; // past the turn: drawn whole below
            if (most > turnAt) piece = side(piece, false, turnAt);
            double top = 0;
            for (const TPlain& q : piece)
                top = std::max(top, height(q.ahead));
            rolled.push_back({top, std::move(piece)});
        }
    const std::vector<TPlain> whole{plainAt(area.left, area.top), plainAt(area.right, area.top),
                                    plainAt(area.right, area.bottom), plainAt(area.left, area.bottom)};
    // Past the turn, at the height of the turn's end: over the roll after half a turn, under it
    // after a whole one.
    rolled.push_back({height(turnAt) + 1e-9, side(whole, true, turnAt)});
    std::stable_sort(rolled.begin(), rolled.end(), [](const TCell& a, const TCell& b) { return a.depth < b.depth; });
    std::vector<TTileVertex> back;
    for (const TCell& cell : rolled) {
        const auto& poly = cell.polygon;
        for (std::size_t k = 1; k + 1 < poly.size(); ++k)
            for (const TPlain* q : {&poly[0], &poly[k], &poly[k + 1]})
                back.push_back(Wind(q->x, q->y, p));
    }
    controller.Begin(true);
    controller.Triangles(flat);
    controller.End();
    if (options_.useColor) {
        controller.Begin(false);
        controller.ShadedTriangles(back, options_.color);
    } else {
        controller.Begin(true);
        controller.Triangles(back);
    }
    controller.End();
}

} // namespace kiv
