#include "render/EffectRenderer.h"

#include "base/Assert.h"
#include "base/Log.h"

#include <algorithm>
#include <atomic>
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

std::uint32_t ShadeColour(std::uint32_t rgb, const TTileVertex& v) {
    const auto g = static_cast<std::uint32_t>(std::clamp(std::lround(v.grey), 0L, 255L));
    const auto a = static_cast<std::uint32_t>(std::clamp(std::lround(v.opacity), 0L, 255L));
    return (a << 24) | ((((rgb >> 16) & 0xFF) * g / 256) << 16) | ((((rgb >> 8) & 0xFF) * g / 256) << 8) |
           ((rgb & 0xFF) * g / 256);
}

// ---- polygon clipping

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

// ---- polygon splitting

void TXSeparator::SetCuts(const std::vector<double>& cuts, bool alongY) {
    alongY_ = alongY;
    cuts_.clear();
    cuts_.push_back(-3.4e38);
    cuts_.insert(cuts_.end(), cuts.begin(), cuts.end());
    cuts_.push_back(3.4e38);
    bands_.resize(cuts.size() + 1);
    Clear();
}

void TXSeparator::Clear() {
    for (TBand& band : bands_) {
        band.vertices.clear();
        band.ends.clear();
    }
}

int TXSeparator::Zone(double p) const {
    // cuts_[k] ≤ p < cuts_[k + 1]; a point on an inner cut k has the even code 2k.
    const auto above = std::upper_bound(cuts_.begin() + 1, cuts_.end() - 1, p);
    const int k = static_cast<int>(above - cuts_.begin()) - 1;
    if (k >= 1 && cuts_[static_cast<std::size_t>(k)] == p) return 2 * k;
    return 2 * k + 1;
}

void TXSeparator::EmitInto(int band, const TTileVertex& v) {
    if (band < 0 || band >= Bands()) return;
    bands_[Index(band)].vertices.push_back(v);
}

void TXSeparator::Emit(int zone, const TTileVertex& v) {
    if (zone % 2 == 1) {
        EmitInto((zone - 1) / 2, v);
    } else {
        EmitInto(zone / 2 - 1, v);
        EmitInto(zone / 2, v);
    }
}

void TXSeparator::AddPolygon(const TTileVertex* vertices, std::size_t count) {
    if (!vertices || count == 0) return;
    std::vector<std::size_t> starts(bands_.size());
    for (std::size_t b = 0; b < bands_.size(); ++b)
        starts[b] = bands_[b].vertices.size();
    for (std::size_t i = 0; i < count; ++i) {
        const TTileVertex& a = vertices[i];
        const TTileVertex& b = vertices[(i + 1) % count];
        const double pa = Coordinate(a), pb = Coordinate(b);
        const int za = Zone(pa), zb = Zone(pb);
        Emit(za, a);
        if (za == zb) continue;
        // Every cut strictly between the two zones, in the order the edge crosses them.
        const int step = zb > za ? 1 : -1;
        const int first = zb > za ? za / 2 + 1 : (za - 1) / 2;
        const int last = zb > za ? (zb - 1) / 2 : zb / 2 + 1;
        for (int k = first; step > 0 ? k <= last : k >= last; k += step) {
            const double cut = cuts_[static_cast<std::size_t>(k)];
            TTileVertex v = Between(a, b, (cut - pa) / (pb - pa));
            (alongY_ ? v.y : v.x) = cut;
            EmitInto(k - 1, v);
            EmitInto(k, v);
        }
    }
    // Close each band's piece; fewer than three points make no polygon.
    for (std::size_t b = 0; b < bands_.size(); ++b) {
        TBand& band = bands_[b];
        if (band.vertices.size() - starts[b] >= 3)
            band.ends.push_back(band.vertices.size());
        else
            band.vertices.resize(starts[b]);
    }
}

void T2DSeparator::SetGrid(const std::vector<double>& xEdges, const std::vector<double>& yEdges) {
    rows_.SetCuts(yEdges, true);
    columns_.resize(static_cast<std::size_t>(rows_.Bands()));
    for (TXSeparator& row : columns_)
        row.SetCuts(xEdges, false);
}

void T2DSeparator::Clear() {
    rows_.Clear();
    for (TXSeparator& row : columns_)
        row.Clear();
}

void T2DSeparator::AddPolygon(const TTileVertex* vertices, std::size_t count) {
    rows_.Clear();
    rows_.AddPolygon(vertices, count);
    for (int r = 0; r < rows_.Bands(); ++r) {
        const auto& v = rows_.Vertices(r);
        std::size_t from = 0;
        for (const std::size_t end : rows_.Ends(r)) {
            columns_[static_cast<std::size_t>(r)].AddPolygon(v.data() + from, end - from);
            from = end;
        }
    }
    rows_.Clear();
}

// ---- the tile controller

namespace {

std::atomic<std::uint64_t>& TriangleCounter() {
    static std::atomic<std::uint64_t> counter{0};
    return counter;
}

int Rounded(double v) {
    return static_cast<int>(std::lround(v));
}

} // namespace

std::uint64_t TileTrianglesDrawn() {
    return TriangleCounter().load();
}

TMultiTile::TMultiTile(TEffController& controller) : TEffTile(controller, controller.GridRect(), -1, -1) {
    separator_.SetGrid(controller.XEdges(), controller.YEdges());
}

void TMultiTile::Begin(bool textured, bool flag) {
    textured_ = textured;
    flag_ = flag;
    separator_.Clear();
}

void TMultiTile::DrawAlpha(const TTileVertex* vertices, int last) {
    for (int i = 0; i + 2 <= last; i += 3)
        separator_.AddPolygon(vertices + i, 3);
}

void TMultiTile::DrawColoured(const TTileVertex*, int, const std::uint32_t*) {
    KIV_ASSERT(false, "Not Supported Yet");
}

void TMultiTile::Draw3D(const TTileVertex*, int) {
    KIV_ASSERT(false, "Not Supported Yet");
}

void TMultiTile::End() {
    for (int r = 0; r < separator_.Rows(); ++r) {
        const TXSeparator& row = separator_.Row(r);
        for (int c = 0; c < separator_.Columns(); ++c) {
            const auto& v = row.Vertices(c + 1);
            const auto& ends = row.Ends(c + 1);
            if (ends.empty()) continue;
            // Each piece as a fan from its first vertex.
            fan_.clear();
            std::size_t from = 0;
            for (const std::size_t end : ends) {
                for (std::size_t k = from + 1; k + 1 < end; ++k)
                    fan_.insert(fan_.end(), {v[from], v[k], v[k + 1]});
                from = end;
            }
            if (fan_.empty()) continue;
            TEffTile& tile = controller_.Tile(c, r);
            tile.Begin(textured_ && shade_ < 0, flag_);
            const int last = static_cast<int>(fan_.size()) - 1;
            if (shade_ < 0) {
                tile.DrawAlpha(fan_.data(), last);
            } else {
                colours_.clear();
                for (const TTileVertex& p : fan_)
                    colours_.push_back(ShadeColour(static_cast<std::uint32_t>(shade_), p));
                tile.DrawColoured(fan_.data(), last, colours_.data());
            }
            tile.End();
        }
    }
    separator_.Clear();
}

void TEffController::SetGrid(std::vector<double> xEdges, std::vector<double> yEdges) {
    tiles_.clear();
    whole_.reset();
    xEdges_ = std::move(xEdges);
    yEdges_ = std::move(yEdges);
    tiles_.resize(static_cast<std::size_t>(Columns()) * static_cast<std::size_t>(Rows()));
}

TEffTile& TEffController::Tile(int column, int row) {
    KIV_ASSERT(column >= 0 && column < Columns() && row >= 0 && row < Rows(), "tile outside the grid");
    auto& tile = tiles_[static_cast<std::size_t>(row * Columns() + column)];
    if (!tile) {
        const auto c = static_cast<std::size_t>(column), r = static_cast<std::size_t>(row);
        tile = CreateTile(
            {Rounded(xEdges_[c]), Rounded(yEdges_[r]), Rounded(xEdges_[c + 1]), Rounded(yEdges_[r + 1])},
            column, row);
    }
    return *tile;
}

TMultiTile& TEffController::WholeTile() {
    if (!whole_) whole_ = std::make_unique<TMultiTile>(*this);
    return *whole_;
}

TRect TEffController::GridRect() const {
    if (Columns() == 0 || Rows() == 0) return {};
    return {Rounded(xEdges_.front()), Rounded(yEdges_.front()), Rounded(xEdges_.back()),
            Rounded(yEdges_.back())};
}

TD3DTriController::TD3DTriController(T3DScreen* screen, TCustomTexture* capture, const TRect& area,
                                     const TRect& captureRect, const TRect& outer)
    : screen_(screen) {
    Reset(capture, area, captureRect, outer);
}

void TD3DTriController::Reset(TCustomTexture* capture, const TRect& area, const TRect& captureRect,
                              const TRect& outer) {
    capture_ = capture;
    captureRect_ = captureRect.IsEmpty() ? area : captureRect;
    outer_ = outer;
    triangles_ = 0;
    begun_ = false;
    if (!(area == area_) || Columns() == 0) {
        area_ = area;
        SetGrid({double(area.left), double(area.right)}, {double(area.top), double(area.bottom)});
    }
}

std::unique_ptr<TEffTile> TD3DTriController::CreateTile(const TRect& rect, int column, int row) {
    return std::make_unique<TD3DTriTile>(*this, rect, column, row);
}

bool TD3DTriController::Usable() const {
    return screen_ && screen_->Ready() && !area_.IsEmpty();
}

void TD3DTriController::Begin(bool textured) {
    textured_ = textured && capture_;
    begun_ = true;
    if (!Usable()) return;
    WholeTile().SetShade(-1);
    WholeTile().Begin(textured_);
}

void TD3DTriController::Triangles(const std::vector<TTileVertex>& vertices) {
    if (!Usable()) return;
    if (!begun_) Begin(textured_);
    TMultiTile& whole = WholeTile();
    // Triangles with depth go whole onto the one cell, in one batch (flat ones wait in the
    // whole-area tile until End, so drawing the depth ones together keeps the order).
    depth_.clear();
    for (std::size_t i = 0; i + 2 < vertices.size(); i += 3) {
        const TTileVertex* v = &vertices[i];
        if (v[0].z == 0 && v[1].z == 0 && v[2].z == 0)
            whole.DrawAlpha(v, 2);
        else
            depth_.insert(depth_.end(), v, v + 3);
    }
    if (depth_.empty()) return;
    auto& cell = static_cast<TD3DTriTile&>(Tile(0, 0));
    const std::int64_t shade = whole.Shade();
    if (shade < 0) {
        cell.Begin(textured_);
        cell.Draw3D(depth_.data(), static_cast<int>(depth_.size()) - 1);
    } else {
        // Shaded triangles with depth take the shade colour too, as the flat ones do at End.
        depthColours_.clear();
        for (const TTileVertex& v : depth_)
            depthColours_.push_back(ShadeColour(static_cast<std::uint32_t>(shade), v));
        cell.Begin(false);
        cell.Draw3DColoured(depth_.data(), static_cast<int>(depth_.size()) - 1, depthColours_.data());
    }
    cell.End();
}

void TD3DTriController::ShadedTriangles(const std::vector<TTileVertex>& vertices, std::uint32_t rgb) {
    if (!Usable()) return;
    TMultiTile& whole = WholeTile();
    whole.SetShade(rgb & 0xFFFFFF);
    whole.Begin(false);
    begun_ = true;
    Triangles(vertices);
}

void TD3DTriController::End() {
    if (!begun_) return;
    begun_ = false;
    if (!Usable()) return;
    WholeTile().End();
    WholeTile().SetShade(-1);
}

void TD3DTriTile::Begin(bool textured, bool flag) {
    KIV_ASSERT(!begun_, "tile begun twice");
    begun_ = true;
    textured_ = textured && owner_.CaptureTexture();
    T3DScreen* screen = owner_.Screen();
    if (!screen || !screen->Ready()) return;
    if (textured_)
        screen->Batch().Begin({owner_.CaptureTexture()}, 1);
    else
        screen->Batch().Begin({}, 0);
    screen->Batch().Forced = flag;
}

void TD3DTriTile::Add(const TTileVertex* vertices, int last, const std::uint32_t* colours, bool moveEdges) {
    KIV_ASSERT(begun_, "tile drawn without Begin");
    T3DScreen* screen = owner_.Screen();
    if (!screen || !screen->Ready() || !vertices) return;
    const TRect& area = owner_.Area();
    const TRect& cap = owner_.CaptureRect();
    const TRect& outer = owner_.Outer();
    const double sx = area.Width() > 0 ? static_cast<double>(cap.Width()) / area.Width() : 1;
    const double sy = area.Height() > 0 ? static_cast<double>(cap.Height()) / area.Height() : 1;
    auto& batch = screen->Batch();
    int count = 0;
    for (int i = 0; i + 2 <= last; i += 3) {
        std::array<TPoint3, 3> points;
        std::array<std::uint32_t, 3> rgba{};
        std::array<std::array<double, 2>, 3> texels{};
        for (int k = 0; k < 3; ++k) {
            const TTileVertex& v = vertices[i + k];
            double x = v.x, y = v.y, u = v.u, w = v.v;
            // The capture's first column and row reach the screen's edge without a gap.
            if (moveEdges && !outer.IsEmpty()) {
                if (x == outer.left) {
                    x -= 2;
                    if (u == v.x) u = x;
                }
                if (y == outer.top) {
                    y -= 2;
                    if (w == v.y) w = y;
                }
            }
            points[static_cast<std::size_t>(k)] = {x, y, v.z};
            if (colours) {
                rgba[static_cast<std::size_t>(k)] = colours[i + k];
            } else {
                const std::uint32_t g = Byte(v.grey);
                rgba[static_cast<std::size_t>(k)] = (Byte(v.opacity) << 24) | (g << 16) | (g << 8) | g;
            }
            texels[static_cast<std::size_t>(k)] = {(u - area.left) * sx + cap.left,
                                                   (w - area.top) * sy + cap.top};
        }
        if (textured_ && !colours)
            batch.AddTriangle(points, rgba, {texels});
        else
            batch.AddTriangle(points, rgba);
        ++count;
    }
    owner_.CountTriangles(count);
    TriangleCounter() += static_cast<std::uint64_t>(count);
}

void TD3DTriTile::DrawAlpha(const TTileVertex* vertices, int last) {
    Add(vertices, last, nullptr, true);
}

void TD3DTriTile::DrawColoured(const TTileVertex* vertices, int last, const std::uint32_t* colours) {
    Add(vertices, last, colours, true);
}

void TD3DTriTile::Draw3D(const TTileVertex* vertices, int last) {
    Add(vertices, last, nullptr, false);
}

void TD3DTriTile::Draw3DColoured(const TTileVertex* vertices, int last, const std::uint32_t* colours) {
    Add(vertices, last, colours, false);
}

void TD3DTriTile::End() {
    KIV_ASSERT(begun_, "tile ended without Begin");
    begun_ = false;
    T3DScreen* screen = owner_.Screen();
    if (!screen || !screen->Ready()) return;
    screen->Batch().Flush();
    screen->Batch().Forced = false;
}

// ---- the filter base

void TDrawFilter::Init(const TRect& rect, float smoothWidth, float duration) {
    rect_ = rect;
    smoothWidth_ = std::isfinite(smoothWidth) && smoothWidth > 0 ? smoothWidth : 0;
    duration_ = std::isfinite(duration) && duration > 0 ? duration : 0;
    invDuration_ = duration_ > 0 ? 1.0 / duration_ : 0;
    time_ = 0;
}

void TDrawFilter::Relayout(const TRect& rect, float smoothWidth) {
    rect_ = rect;
    smoothWidth_ = std::isfinite(smoothWidth) && smoothWidth > 0 ? smoothWidth : 0;
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
        if (pool->FreeCount() == 0) ++made_;
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

bool TCustomD3DEffecter::CaptureInto(TRenderTargetTexture* target, const std::function<void()>& draw,
                                     std::uint32_t clearColor) {
    if (!target || !screen_ || !screen_->Ready()) return false;
    screen_->PushTarget(target, area_.left, area_.top);
    screen_->Clear(clearColor, false);
    try {
        draw();
    } catch (...) {
        screen_->PopTarget();
        throw;
    }
    screen_->PopTarget();
    return true;
}

TRenderTargetTexture* TCustomD3DEffecter::Scratch() {
    if (!scratch_ && screen_ && screen_->Ready()) {
        scratchPool_.SetSize(kScratchSize, kScratchSize);
        if (scratchPool_.FreeCount() == 0) ++made_;
        scratch_ = scratchPool_.Acquire(screen_);
        if (scratch_ && !scratch_->Texture()) scratch_.Reset();
    }
    return scratch_.Get();
}

// Blocks go from the top left to the bottom right, so a move up and left never overwrites a block
// still to be read.
bool TCustomD3DEffecter::CopyWithin(TRenderTargetTexture& target, const TRect& from, TPoint to) {
    TRenderTargetTexture* scratch = Scratch();
    T3DRenderer* renderer = screen_ ? screen_->Renderer() : nullptr;
    if (!scratch || !renderer || !target.Texture() || !scratch->Texture()) return false;
    T3DSurface* surface = target.Texture()->GetSurface(0);
    T3DSurface* through = scratch->Texture()->GetSurface(0);
    if (!surface || !through) return false;
    screen_->Batch().Flush();
    // Blocks of at most the scratch target's size, copied out and back in.
    for (int y = from.top; y < from.bottom; y += kScratchSize)
        for (int x = from.left; x < from.right; x += kScratchSize) {
            const int w = std::min(kScratchSize, from.right - x), h = std::min(kScratchSize, from.bottom - y);
            const TRect source{x, y, x + w, y + h}, block{0, 0, w, h};
            const TRect dest{to.x + (x - from.left), to.y + (y - from.top), to.x + (x - from.left) + w,
                             to.y + (y - from.top) + h};
            if (!renderer->StretchRects(surface, through, 1, &source, &block)) return false;
            if (!renderer->StretchRects(through, surface, 1, &block, &dest)) return false;
        }
    return true;
}

int TCustomD3DEffecter::RepeatLast(TRenderTargetTexture& target, bool rows, int end, int from, int to,
                                   bool full) {
    const int size = rows ? target.TexHeight() : target.TexWidth();
    // One copy, or runs doubling while 2 × run − 1 lines fit (at most 32, never past the texture).
    const int n = full ? std::min(size - end + 1, kMaxExtension) : 1;
    int reached = end;
    for (int run = 1; 2 * run - 1 <= n; run *= 2) {
        const int first = end - 1, at = first + run;
        const int count = std::min(run, size - at);
        if (count <= 0) break;
        if (rows)
            CopyWithin(target, {from, first, to, first + count}, {from, at});
        else
            CopyWithin(target, {first, from, first + count, to}, {at, from});
        reached = at + count;
    }
    return reached;
}

void TCustomD3DEffecter::ExtendEdges(TRenderTargetTexture& target, const TRect& rect, bool full) {
    const int texW = target.TexWidth(), texH = target.TexHeight();
    if (rect.IsEmpty() || rect.right > texW || rect.bottom > texH || rect.left < 0 || rect.top < 0) return;
    // First the columns to the right, then the rows below over the widened rectangle.
    const int right =
        rect.right < texW ? RepeatLast(target, false, rect.right, rect.top, rect.bottom, full) : rect.right;
    if (rect.bottom < texH) RepeatLast(target, true, rect.bottom, rect.left, right, full);
}

TRect TCustomD3DEffecter::CaptureExtent(int n) const {
    const TRect visible = VisibleRect(n);
    if (visible.IsEmpty()) return {};
    return {visible.left - area_.left, visible.top - area_.top, visible.right - area_.left,
            visible.bottom - area_.top};
}

TD3DTriController& TCustomD3DEffecter::Controller(TCustomTexture* capture, const TRect& area,
                                                  const TRect& captureRect) {
    // Vertices on the area's left and top edges reach 2 pixels further: over the screen's edge, or
    // under the bar beside a slide shown in a window of another shape.
    if (!controller_)
        controller_ = std::make_unique<TD3DTriController>(screen_, capture, area, captureRect, area);
    else
        controller_->Reset(capture, area, captureRect, area);
    return *controller_;
}

bool TCustomD3DEffecter::CaptureForFilter(int captureMode, const std::function<void()>& draw) {
    // Cleared to transparent black: the capture is drawn premultiplied, so what lies outside the
    // slide adds nothing where sampling or filtering reaches it.
    if (!CaptureInto(captures_[0].Get(), draw, 0)) return false;
    if (captureMode != 0) ExtendEdges(*captures_[0], CaptureExtent(0), false);
    return true;
}

bool TCustomD3DEffecter::CaptureSlide(const std::function<void()>& draw) {
    const int n = selector_ == 1 ? 1 : 0;
    if (!CaptureInto(captures_[n].Get(), draw, 0)) return false;
    // The slide's pictures read the capture from its top-left corner: a drawing area that starts
    // elsewhere (a show letterboxed in its window) is moved there first.
    const TRect extent = CaptureExtent(n);
    if (extent.IsEmpty()) return true;
    if (extent.left != 0 || extent.top != 0) CopyWithin(*captures_[n], extent, {0, 0});
    ExtendEdges(*captures_[n], {0, 0, extent.Width(), extent.Height()}, true);
    return true;
}

} // namespace kiv
