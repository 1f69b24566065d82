#include "render/PictureTexture.h"

#include "base/Assert.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv {

TMultiTexture6::TMultiTexture6(TRef<TTextureManager6> manager, TRef<TBitmap> picture, bool premultiplied,
                               bool pattern, int columns, int rows)
    : manager_(std::move(manager)), premultiplied_(premultiplied) {
    if (!manager_ || !picture || picture->Width() <= 0 || picture->Height() <= 0) return;
    if (picture->Format() != TPixelFormat::Bgra32) picture = ConvertBitmap(*picture, TPixelFormat::Bgra32);
    if (!picture) return;
    if (pattern) picture = BorderedCells(*picture, columns, rows);
    source_ = std::move(picture);
    width_ = source_->Width();
    height_ = source_->Height();
    Place(0, 0, height_, width_);
}

TMultiTexture6::~TMultiTexture6() {
    for (auto& tile : tiles_)
        manager_->Return(std::move(tile));
}

// Covers w × h texels from (x, y): a band of tiles as high as the first tile chosen, the rest of
// the band to its right, then the next band below.
void TMultiTexture6::Place(int x, int y, int h, int w) {
    while (h > 0) {
        TRef<TTextureTile> tile = manager_->ChooseTile(w + 2, h + 2);
        KIV_ASSERT(tile, "no tile pool can serve the picture");
        const int tw = tile->UsedWidth(), th = tile->UsedHeight();
        tile->Assign(source_, {x - 1, y - 1}, tw, th);
        tile->SetPremultiplied(premultiplied_);
        tiles_.push_back(std::move(tile));
        if (tw - 2 < w) Place(x + tw - 2, y, th - 2, w - (tw - 2));
        y += th - 2;
        h -= th - 2;
    }
}

void TMultiTexture6::SetSampling(bool pointFilter, bool mipmapped, float lodBias) {
    for (auto& tile : tiles_) {
        tile->PointFilter = pointFilter;
        tile->LodBias = lodBias;
        if (!mipmapped) continue;
        // A pooled tile whose texture was made without mip-maps gets a new one before it is filled
        // (one made for mip-maps keeps the levels the renderer gave it, one or more).
        if (tile->NeedsUpload() && tile->Texture() && tile->Texture()->LevelCount() == 1 &&
            !tile->Texture()->Mipmapped)
            tile->ReleaseDevice();
        tile->SetMipmapped(true); // once mip-mapped, a picture stays so
    }
}

void TMultiTexture6::PrepareTiles() {
    for (auto& tile : tiles_)
        tile->Prepare();
}

void TMultiTexture6::Preload() {
    for (auto& tile : tiles_) {
        tile->Prepare();
        tile->Preload();
    }
}

void TMultiTexture6::PreloadSliced(std::mutex* outerLock, std::recursive_mutex* frameLock) {
    for (auto& tile : tiles_)
        tile->PreloadSliced(outerLock, frameLock);
}

int TMultiTexture6::DrawPicture(T3DScreen& screen, const TRectF& source, TPoint3 origin, TVec3 axisX,
                                TVec3 axisY, std::uint32_t color, unsigned edges, bool forced) {
    if (!screen.Ready() || source.IsEmpty()) return 0;
    PrepareTiles();
    auto at = [&](double x, double y) {
        return TPoint3{origin.x + axisX.x * x + axisY.x * y, origin.y + axisX.y * x + axisY.y * y,
                       origin.z + axisX.z * x + axisY.z * y};
    };
    auto& batch = screen.Batch();
    batch.Forced = forced;
    int drawn = 0;
    for (const auto& tile : tiles_) {
        const TRect t = tile->Rect();
        const double l = std::max<double>(source.left, t.left), tp = std::max<double>(source.top, t.top);
        const double r = std::min<double>(source.right, t.right),
                     b = std::min<double>(source.bottom, t.bottom);
        if (!(r > l) || !(b > tp)) continue;
        ++drawn;
        const std::array<TPoint3, 4> corners{at(l, tp), at(r, tp), at(l, b), at(r, b)};
        // Texels of the tile: the picture's point minus the tile's origin.
        const TPoint o = tile->Origin();
        const double u0 = l - o.x, v0 = tp - o.y, u1 = r - o.x, v1 = b - o.y;
        unsigned flags = 0;
        if (!tile->PointFilter) {
            if ((edges & kEdgeLeft) && l == source.left) flags |= kEdgeLeft;
            if ((edges & kEdgeTop) && tp == source.top) flags |= kEdgeTop;
            if ((edges & kEdgeRight) && r == source.right) flags |= kEdgeRight;
            if ((edges & kEdgeBottom) && b == source.bottom) flags |= kEdgeBottom;
        }
        if (flags) {
            screen.DrawPerspectiveQuad({tile.Get()}, {color, color, color, color}, {u0, v0, u1, v1}, corners,
                                       flags);
            batch.Forced = forced;
            continue;
        }
        batch.Begin({tile.Get()}, 1);
        batch.AddTriangle({corners[0], corners[1], corners[2]}, {color, color, color},
                          {{{{u0, v0}, {u1, v0}, {u0, v1}}}});
        batch.AddTriangle({corners[2], corners[1], corners[3]}, {color, color, color},
                          {{{{u0, v1}, {u1, v0}, {u1, v1}}}});
    }
    batch.Flush();
    batch.Forced = false;
    return drawn;
}

std::string TTextureStore2::Key(int level, int patternA, int patternB, bool premultiplied, bool pattern) {
    auto flag = [](bool on) { return on ? "True" : "False"; };
    return "MultiTexID: " + std::to_string(level) + ":" + std::to_string(patternA) + ":" +
           std::to_string(patternB) + ":" + flag(premultiplied) + ":" + flag(pattern);
}

TRef<TMultiTexture6> TTextureStore2::Find(const std::string& key) const {
    std::lock_guard lock(mutex_);
    for (const auto& entry : entries_)
        if (entry.key == key) return entry.texture;
    return nullptr;
}

void TTextureStore2::Add(std::string key, TRef<TMultiTexture6> texture) {
    std::lock_guard lock(mutex_);
    entries_.push_back({std::move(key), std::move(texture)});
}

std::size_t TTextureStore2::Count() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

} // namespace kiv
