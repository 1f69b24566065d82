#include "render/EffectRenderer.h"

#include "base/Assert.h"
#include "base/Log.h"

#include <cmath>
#include <mutex>

namespace kiv {

namespace {

std::mutex& FactoryLock() {
    static std::mutex lock;
    return lock;
}

TTransitionFilterFactory& Factory() {
    static TTransitionFilterFactory factory;
    return factory;
}

std::uint32_t Byte(double value) {
    if (!(value > 0)) return 0;
    return value >= 255 ? 255u : static_cast<std::uint32_t>(std::lround(value));
}

} // namespace

// ---- the tile controller

TD3DTriController::TD3DTriController(T3DScreen* screen, TCustomTexture* capture, const TRect& area,
                                     const TRect& captureRect)
    : screen_(screen), capture_(capture), area_(area),
      captureRect_(captureRect.IsEmpty() ? area : captureRect) {}

void TD3DTriController::Begin(bool textured) {
    textured_ = textured && capture_;
    if (!screen_ || !screen_->Ready()) return;
    if (textured_)
        screen_->Batch().Begin({capture_}, 1);
    else
        screen_->Batch().Begin({}, 0);
}

namespace {

TTileVertex Between(const TTileVertex& a, const TTileVertex& b, double k) {
    return {a.x + (b.x - a.x) * k,
            a.y + (b.y - a.y) * k,
            a.z + (b.z - a.z) * k,
            a.u + (b.u - a.u) * k,
            a.v + (b.v - a.v) * k,
            static_cast<float>(a.opacity + (b.opacity - a.opacity) * k),
            static_cast<float>(a.grey + (b.grey - a.grey) * k)};
}

// Keeps the part of `poly` on the inner side of one edge: value(v) ≥ 0 inside.
template <class F> std::vector<TTileVertex> ClipEdge(const std::vector<TTileVertex>& poly, F value) {
    std::vector<TTileVertex> out;
    for (std::size_t i = 0; i < poly.size(); ++i) {
        const TTileVertex& a = poly[i];
        const TTileVertex& b = poly[(i + 1) % poly.size()];
        const double va = value(a), vb = value(b);
        if (va >= 0) out.push_back(a);
        if ((va >= 0) != (vb >= 0)) out.push_back(Between(a, b, va / (va - vb)));
    }
    return out;
}

} // namespace

std::vector<TTileVertex> ClipTriangles(const std::vector<TTileVertex>& vertices, const TRect& area) {
    std::vector<TTileVertex> out;
    out.reserve(vertices.size());
    const double l = area.left, t = area.top, r = area.right, b = area.bottom;
    for (std::size_t i = 0; i + 2 < vertices.size(); i += 3) {
        const TTileVertex* v = &vertices[i];
        const bool flat = v[0].z == 0 && v[1].z == 0 && v[2].z == 0;
        bool inside = true;
        for (int k = 0; k < 3; ++k)
            inside = inside && v[k].x >= l && v[k].x <= r && v[k].y >= t && v[k].y <= b;
        if (!flat || inside) {
            out.insert(out.end(), v, v + 3);
            continue;
        }
        std::vector<TTileVertex> poly(v, v + 3);
        poly = ClipEdge(poly, [&](const TTileVertex& p) { return p.x - l; });
        poly = ClipEdge(poly, [&](const TTileVertex& p) { return r - p.x; });
        poly = ClipEdge(poly, [&](const TTileVertex& p) { return p.y - t; });
        poly = ClipEdge(poly, [&](const TTileVertex& p) { return b - p.y; });
        for (std::size_t k = 1; k + 1 < poly.size(); ++k)
            out.insert(out.end(), {poly[0], poly[k], poly[k + 1]});
    }
    return out;
}

void TD3DTriController::Triangles(const std::vector<TTileVertex>& input) {
    if (!screen_ || !screen_->Ready() || area_.IsEmpty()) return;
    const std::vector<TTileVertex> vertices = ClipTriangles(input, area_);
    const double sx = static_cast<double>(captureRect_.Width()) / area_.Width();
    const double sy = static_cast<double>(captureRect_.Height()) / area_.Height();
    auto& batch = screen_->Batch();
    for (std::size_t i = 0; i + 2 < vertices.size(); i += 3) {
        std::array<TPoint3, 3> points;
        std::array<std::uint32_t, 3> colors{};
        std::array<std::array<double, 2>, 3> texels{};
        for (std::size_t k = 0; k < 3; ++k) {
            const TTileVertex& v = vertices[i + k];
            points[k] = {v.x, v.y, v.z};
            const std::uint32_t g = Byte(v.grey);
            colors[k] = (Byte(v.opacity) << 24) | (g << 16) | (g << 8) | g;
            texels[k] = {(v.u - area_.left) * sx + captureRect_.left,
                         (v.v - area_.top) * sy + captureRect_.top};
        }
        if (textured_)
            batch.AddTriangle(points, colors, {texels});
        else
            batch.AddTriangle(points, colors);
        ++triangles_;
    }
}

void TD3DTriController::ShadedTriangles(const std::vector<TTileVertex>& input, std::uint32_t rgb) {
    if (!screen_ || !screen_->Ready() || area_.IsEmpty()) return;
    const std::vector<TTileVertex> vertices = ClipTriangles(input, area_);
    auto& batch = screen_->Batch();
    for (std::size_t i = 0; i + 2 < vertices.size(); i += 3) {
        std::array<TPoint3, 3> points;
        std::array<std::uint32_t, 3> colors{};
        for (std::size_t k = 0; k < 3; ++k) {
            const TTileVertex& v = vertices[i + k];
            points[k] = {v.x, v.y, v.z};
            const std::uint32_t g = Byte(v.grey);
            const std::uint32_t r = ((rgb >> 16) & 0xFF) * g / 256, gr = ((rgb >> 8) & 0xFF) * g / 256,
                                b = (rgb & 0xFF) * g / 256;
            colors[k] = (Byte(v.opacity) << 24) | (r << 16) | (gr << 8) | b;
        }
        batch.AddTriangle(points, colors);
        ++triangles_;
    }
}

void TD3DTriController::End() {
    if (screen_ && screen_->Ready()) screen_->Batch().Flush();
}

// ---- the filter base

void TDrawFilter::Init(const TRect& rect, float smoothWidth, float duration) {
    rect_ = rect;
    smoothWidth_ = std::isfinite(smoothWidth) && smoothWidth > 0 ? smoothWidth : 0;
    duration_ = std::isfinite(duration) && duration > 0 ? duration : 0;
    invDuration_ = duration_ > 0 ? 1.0 / duration_ : 0;
    time_ = 0;
}

void TDrawFilter::SetTime(double ms) {
    if (!(ms > 0)) ms = 0;
    if (ms > duration_) ms = duration_;
    time_ = static_cast<float>(ms);
}

void SetTransitionFilterFactory(TTransitionFilterFactory factory) {
    std::lock_guard lock(FactoryLock());
    Factory() = std::move(factory);
}

bool HasTransitionFilterFactory() {
    std::lock_guard lock(FactoryLock());
    return static_cast<bool>(Factory());
}

TRef<TDrawFilter> CreateTransitionFilter(const TRect& rect, const TKivEffect* effect, TDrawItem* outgoing,
                                         float smoothline, double duration) {
    if (!effect) return nullptr;
    TTransitionFilterFactory factory;
    {
        std::lock_guard lock(FactoryLock());
        factory = Factory();
    }
    if (!factory) return nullptr;
    return factory(rect, effect, outgoing, smoothline, duration);
}

// ---- the effect renderer

TCustomD3DEffecter::TCustomD3DEffecter(T3DScreen* screen, TRenderTargetManager* fullPool)
    : screen_(screen), fullPool_(fullPool) {}

TCustomD3DEffecter::~TCustomD3DEffecter() {
    EndEffect();
    ownPool_.Clear();
}

void TCustomD3DEffecter::SetArea(const TRect& rect) {
    ownPool_.SetSize(rect.Width(), rect.Height());
    area_ = rect;
}

void TCustomD3DEffecter::BeginEffect(int mode) {
    if (!screen_ || !screen_->Ready()) return;
    auto take = [&](int n, TRenderTargetManager* pool) {
        if (captures_[n] || !pool || pool->Width() <= 0 || pool->Height() <= 0) return;
        TRef<TRenderTargetTexture> target = pool->Acquire(screen_);
        ++acquired_;
        if (!target || !target->Texture()) {
            pool->Return(std::move(target)); // could not be made: the transition goes without it
            return;
        }
        captures_[n] = std::move(target);
        from_[n] = pool;
    };
    if (mode == 1) {
        take(0, fullPool_);
        take(1, fullPool_);
    } else {
        take(0, &ownPool_);
    }
    selector_ = 0;
}

void TCustomD3DEffecter::EndEffect() {
    for (int n = 0; n < 2; ++n) {
        if (captures_[n] && from_[n]) from_[n]->Return(std::move(captures_[n]));
        captures_[n].Reset();
        from_[n] = nullptr;
    }
}

TRenderTargetTexture* TCustomD3DEffecter::Capture(int n) const {
    KIV_ASSERT(n == 0 || n == 1, "capture index out of range");
    return captures_[n == 1 ? 1 : 0].Get();
}

TRect TCustomD3DEffecter::VisibleRect(int n) const {
    const TRenderTargetTexture* capture = Capture(n);
    if (!capture) return {};
    const TRect whole{area_.left, area_.top, area_.left + capture->TexWidth(),
                      area_.top + capture->TexHeight()};
    const TRect visible = Intersect(whole, clip_);
    return visible.IsEmpty() ? TRect{} : visible;
}

bool TCustomD3DEffecter::CaptureInto(TRenderTargetTexture* target, const std::function<void()>& draw) {
    if (!target || !screen_ || !screen_->Ready()) return false;
    screen_->PushTarget(target, area_.left, area_.top);
    screen_->Clear(0, false);
    try {
        draw();
    } catch (...) {
        screen_->PopTarget();
        throw;
    }
    screen_->PopTarget();
    return true;
}

bool TCustomD3DEffecter::CaptureForFilter(int /*captureMode*/, const std::function<void()>& draw) {
    return CaptureInto(captures_[0].Get(), draw);
}

bool TCustomD3DEffecter::CaptureSlide(const std::function<void()>& draw) {
    return CaptureInto(captures_[selector_ == 1 ? 1 : 0].Get(), draw);
}

} // namespace kiv
