#include "render/TileTextures.h"

#include "base/Assert.h"
#include "render/DeviceLock.h"

#include <algorithm>
#include <cstring>

namespace kiv {

// ---- tiles

TTextureTile::TTextureTile(T3DScreen* screen, TTileManager* pool, int width, int height)
    : TCustomTexture(screen, kTexColor), pool_(pool) {
    SetSize(width, height);
}

void TTextureTile::Assign(TRef<TBitmap> source, TPoint origin, int usedWidth, int usedHeight) {
    source_ = std::move(source);
    origin_ = origin;
    usedWidth_ = std::min(usedWidth, Width());
    usedHeight_ = std::min(usedHeight, Height());
    needsUpload_ = true;
}

void TTextureTile::Prepare() {
    TDeviceLockGuard guard; // the slide loader may be filling the same tile
    if (needsUpload_ && Texture()) Upload();
}

void TTextureTile::FillTopLevel(TBitmap& level) {
    if (!source_ || usedWidth_ <= 0 || usedHeight_ <= 0) return;
    ++fills;
    const TBitmap& src = *source_;
    const int w = src.Width(), h = src.Height();
    const int uw = std::min(usedWidth_, level.Width()), uh = std::min(usedHeight_, level.Height());
    // Columns [left, right) of the tile lie inside the source; the others repeat its edge column.
    const int left = std::clamp(-origin_.x, 0, uw);
    const int right = std::clamp(w - origin_.x, left, uw);
    const bool premultiply = Premultiplied();
    for (int y = 0; y < uh; ++y) {
        const std::uint8_t* row = src.Row(std::clamp(origin_.y + y, 0, h - 1));
        std::uint8_t* out = level.Row(y);
        if (right > left)
            std::memcpy(out + left * 4, row + (origin_.x + left) * 4,
                        static_cast<std::size_t>(right - left) * 4);
        for (int x = 0; x < left; ++x)
            std::memcpy(out + x * 4, row, 4);
        for (int x = right; x < uw; ++x)
            std::memcpy(out + x * 4, row + (w - 1) * 4, 4);
        if (premultiply)
            for (int x = 0; x < uw; ++x) {
                std::uint8_t* p = out + x * 4;
                const unsigned a = p[3];
                for (int c = 0; c < 3; ++c)
                    p[c] = static_cast<std::uint8_t>((p[c] * a + 127) / 255);
            }
    }
    if (!Mipmapped()) return; // the rest is never sampled at full size
    for (int y = 0; y < uh; ++y) {
        std::uint8_t* out = level.Row(y);
        for (int x = uw; x < level.Width(); ++x)
            std::memcpy(out + x * 4, out + (uw - 1) * 4, 4);
    }
    for (int y = uh; y < level.Height(); ++y)
        std::memcpy(level.Row(y), level.Row(uh - 1), static_cast<std::size_t>(level.Width()) * 4);
}

bool TTextureTile::WriteTopRows(T3DSurface& surface, int top, int bottom) {
    if (!source_ || top < 0 || bottom > usedHeight_ || top >= bottom || usedWidth_ <= 0) return false;
    if (top == 0) ++fills;
    const TBitmap& src = *source_;
    const int w = src.Width(), h = src.Height();
    const int left = std::clamp(-origin_.x, 0, usedWidth_);
    const int right = std::clamp(w - origin_.x, left, usedWidth_);
    // Tile rows y0 … y1 from source rows sy …: the inside straight from the picture, the border
    // columns outside it (one at most on each side) from its edge columns.
    auto rows = [&](int y0, int y1, int sy) {
        bool ok = right <= left || surface.Write({left, y0, right, y1}, src, origin_.x + left, sy);
        for (int x = 0; ok && x < left; ++x)
            ok = surface.Write({x, y0, x + 1, y1}, src, 0, sy);
        for (int x = right; ok && x < usedWidth_; ++x)
            ok = surface.Write({x, y0, x + 1, y1}, src, w - 1, sy);
        return ok;
    };
    const int inTop = std::clamp(-origin_.y, 0, usedHeight_);
    const int inBottom = std::clamp(h - origin_.y, inTop, usedHeight_);
    bool ok = true;
    for (int y = top; ok && y < std::min(bottom, inTop); ++y)
        ok = rows(y, y + 1, 0);
    const int a = std::max(top, inTop), b = std::min(bottom, inBottom);
    if (ok && b > a) ok = rows(a, b, origin_.y + a);
    for (int y = std::max(top, inBottom); ok && y < bottom; ++y)
        ok = rows(y, y + 1, h - 1);
    return ok;
}

TRef<TBitmap> TTextureTile::MakeLevelOne() {
    if (!source_ || usedWidth_ <= 0 || usedHeight_ <= 0 || Premultiplied()) return nullptr;
    const TBitmap& src = *source_;
    const int w = src.Width(), h = src.Height();
    // The texel of the tile at (tx, ty), as the whole tile holds it: its used part, the unused
    // rest repeating the used part's last column and row.
    auto column = [&](int tx) { return std::clamp(origin_.x + std::min(tx, usedWidth_ - 1), 0, w - 1); };
    auto row = [&](int ty) { return std::clamp(origin_.y + std::min(ty, usedHeight_ - 1), 0, h - 1); };
    auto out =
        MakeRef<TBitmap>(std::max(1, Width() / 2), std::max(1, Height() / 2), TPixelFormat::Bgra32, false);
    // Level-1 columns [inside, insideEnd) read two neighbouring source columns straight.
    const int inside = std::min(out->Width(), std::max(0, (1 - origin_.x) / 2));
    const int last = std::min(usedWidth_ - 1, w - 1 - origin_.x); // the last tile column inside
    const int insideEnd = std::clamp(last >= 1 ? (last - 1) / 2 + 1 : 0, inside, out->Width());
    for (int y = 0; y < out->Height(); ++y) {
        const std::uint8_t* a = src.Row(row(2 * y));
        const std::uint8_t* b = src.Row(row(2 * y + 1));
        std::uint8_t* o = out->Row(y);
        auto mean = [&](int x, int c0, int c1) {
            std::uint32_t p[4];
            std::memcpy(p, a + 4 * c0, 4);
            std::memcpy(p + 1, a + 4 * c1, 4);
            std::memcpy(p + 2, b + 4 * c0, 4);
            std::memcpy(p + 3, b + 4 * c1, 4);
            const std::uint32_t m = Mean4(p[0], p[1], p[2], p[3]);
            std::memcpy(o + 4 * x, &m, 4);
        };
        for (int x = 0; x < inside; ++x)
            mean(x, column(2 * x), column(2 * x + 1));
        // Tile column tx is source column tx + origin.x here: two texels of each row at a time.
        if (insideEnd > inside) {
            const std::ptrdiff_t from = 4 * (std::ptrdiff_t{origin_.x} + 2 * inside);
            ReducePairs(a + from, b + from, o + 4 * inside, insideEnd - inside);
        }
        for (int x = insideEnd; x < out->Width(); ++x)
            mean(x, column(2 * x), column(2 * x + 1));
    }
    return out;
}

// ---- pools

TTileManager::~TTileManager() {
    for (auto& tile : free_)
        tile->pool_ = nullptr;
}

TTextureManager6::TTextureManager6(T3DScreen* screen) : screen_(screen) {
    for (const TPoint& size : kTileSizes)
        pools_.push_back(MakeRef<TTileManager>(size.x, size.y));
}

int TTextureManager6::ChoosePool(int w, int h) const {
    int best = -1;
    long long bestCovered = 0, bestWaste = 0;
    for (std::size_t i = 0; i < pools_.size(); ++i) {
        const long long tw = pools_[i]->Width(), th = pools_[i]->Height();
        const long long covered = std::min<long long>(w, tw) * std::min<long long>(h, th);
        const long long waste = tw * th - covered;
        if (covered <= 0) continue;
        if (best < 0 || covered > bestCovered || (covered == bestCovered && waste < bestWaste)) {
            best = static_cast<int>(i);
            bestCovered = covered;
            bestWaste = waste;
        }
    }
    return best;
}

TRef<TTextureTile> TTextureManager6::ChooseTile(int w, int h) {
    std::lock_guard lock(mutex_);
    const int index = ChoosePool(w, h);
    if (index < 0) return nullptr;
    TTileManager& pool = *pools_[static_cast<std::size_t>(index)];
    TRef<TTextureTile> tile;
    if (!pool.free_.empty()) {
        tile = std::move(pool.free_.back());
        pool.free_.pop_back();
    } else {
        tile = MakeRef<TTextureTile>(screen_, &pool, pool.Width(), pool.Height());
        ++pool.made_;
    }
    tile->usedWidth_ = std::min(w, pool.Width());
    tile->usedHeight_ = std::min(h, pool.Height());
    return tile;
}

void TTextureManager6::Return(TRef<TTextureTile> tile) {
    if (!tile) return;
    tile->source_.Reset();
    tile->needsUpload_ = true;
    std::lock_guard lock(mutex_);
    if (!tile->pool_) return; // its pool is gone: the tile goes
    tile->pool_->free_.push_back(std::move(tile));
}

// ---- boxes

namespace {

class TBoxAntiTexture final : public TCustomTexture {
public:
    explicit TBoxAntiTexture(T3DScreen* screen) : TCustomTexture(screen, kTexColor) {
        SetSize(TBoxAntialiaser::kSide, TBoxAntialiaser::kSide);
    }

protected:
    void FillTopLevel(TBitmap& level) override {
        for (int y = 0; y < level.Height(); ++y)
            std::memset(level.Row(y), 0xFF, static_cast<std::size_t>(level.Width()) * 4);
    }
};

} // namespace

TBoxAntialiaser::TBoxAntialiaser(T3DScreen* screen) : texture_(MakeRef<TBoxAntiTexture>(screen)) {}

TCustomTexture* TBoxAntialiaser::Texture() const {
    return texture_.Get();
}

void TBoxAntialiaser::DrawBox(T3DScreen& screen, const std::array<TPoint3, 4>& corners,
                              const std::array<std::uint32_t, 4>& colors, unsigned edges) {
    // The fringe follows the box's own flags; all cells are drawn, those of unflagged edges
    // having no width.
    const std::array<TGridPoint, 16> grid = screen.FringeGrid({0, 0, kSide, kSide}, corners, edges);
    screen.DrawQuad({texture_.Get()}, kEdgeLeft | kEdgeTop | kEdgeRight | kEdgeBottom, colors, grid);
}

void TTextureManager6::FreeIdleTiles() {
    std::vector<TRef<TTextureTile>> gone;
    {
        std::lock_guard lock(mutex_);
        for (auto& pool : pools_) {
            for (auto& tile : pool->free_)
                tile->pool_ = nullptr;
            gone.insert(gone.end(), std::make_move_iterator(pool->free_.begin()),
                        std::make_move_iterator(pool->free_.end()));
            pool->free_.clear();
        }
    }
    // Released outside the pools' lock: each holds the device lock for its own release.
}

// ---- sprite sheets

TRef<TBitmap> BorderedCells(const TBitmap& source, int columns, int rows) {
    KIV_ASSERT(source.Format() == TPixelFormat::Bgra32, "cells of a 32-bit picture");
    columns = std::max(columns, 1);
    rows = std::max(rows, 1);
    const int cw = source.Width() / columns, ch = source.Height() / rows;
    auto out =
        MakeRef<TBitmap>(source.Width() + 2 * columns, source.Height() + 2 * rows, TPixelFormat::Bgra32);
    for (int y = 0; y < out->Height(); ++y) {
        // The cell row of this view row and the source row it repeats.
        const int r = std::min(y / (ch + 2), rows - 1);
        const int inCell = y - r * (ch + 2) - 1;
        const int sy =
            std::clamp(r * ch + std::clamp(inCell, 0, std::max(ch - 1, 0)), 0, source.Height() - 1);
        const std::uint8_t* in = source.Row(sy);
        std::uint8_t* o = out->Row(y);
        for (int x = 0; x < out->Width(); ++x) {
            const int c = std::min(x / (cw + 2), columns - 1);
            const int inX = x - c * (cw + 2) - 1;
            const int sx =
                std::clamp(c * cw + std::clamp(inX, 0, std::max(cw - 1, 0)), 0, source.Width() - 1);
            std::memcpy(o + x * 4, in + sx * 4, 4);
        }
    }
    return out;
}

} // namespace kiv
