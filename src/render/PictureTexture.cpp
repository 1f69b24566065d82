#include "render/PictureTexture.h"

#include "base/Assert.h"

#include <algorithm>
#include <cstring>

namespace kiv {

TPictureTile::TPictureTile(T3DScreen* screen, TRef<TBitmap> picture, const TRect& rect, bool premultiplied)
    : TCustomTexture(screen, kTexColor), picture_(std::move(picture)), rect_(rect) {
    SetPremultiplied(premultiplied);
    SetSize(rect.Width() + 1, rect.Height() + 1);
}

void TPictureTile::FillTopLevel(TBitmap& level) {
    ++fills;
    const int w = rect_.Width(), h = rect_.Height();
    if (w <= 0 || h <= 0 || level.Width() < w + 1 || level.Height() < h + 1) return;
    const bool premultiply = Premultiplied();
    for (int y = 0; y <= h; ++y) {
        const int sy = rect_.top + std::min(y, h - 1);
        const std::uint8_t* src = picture_->Row(sy) + rect_.left * 4;
        std::uint8_t* dst = level.Row(y);
        std::memcpy(dst, src, static_cast<std::size_t>(w) * 4);
        std::memcpy(dst + w * 4, src + (w - 1) * 4, 4); // the repeated edge column
        if (!premultiply) continue;
        for (int x = 0; x <= w; ++x) {
            std::uint8_t* p = dst + x * 4;
            const unsigned a = p[3];
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<std::uint8_t>((p[c] * a + 127) / 255);
        }
    }
}

bool TPictureTile::WriteTopRows(T3DSurface& surface, int top, int bottom) {
    const int w = rect_.Width(), h = rect_.Height();
    if (w <= 0 || h <= 0 || top < 0 || bottom > h + 1 || top >= bottom) return false;
    if (top == 0) ++fills;
    bool ok = true;
    // The picture's rows, and the repeated edge column beside them.
    const int r1 = std::min(bottom, h);
    if (r1 > top) {
        ok = surface.Write({0, top, w, r1}, *picture_, rect_.left, rect_.top + top) &&
             surface.Write({w, top, w + 1, r1}, *picture_, rect_.right - 1, rect_.top + top);
    }
    // The repeated edge row, with its corner.
    if (ok && bottom > h) {
        ok = surface.Write({0, h, w, h + 1}, *picture_, rect_.left, rect_.bottom - 1) &&
             surface.Write({w, h, w + 1, h + 1}, *picture_, rect_.right - 1, rect_.bottom - 1);
    }
    return ok;
}

TMultiTexture6::TMultiTexture6(T3DScreen* screen, TRef<TBitmap> picture, bool premultiplied, int tileSide)
    : width_(picture ? picture->Width() : 0), height_(picture ? picture->Height() : 0),
      premultiplied_(premultiplied) {
    KIV_ASSERT(tileSide > 0, "tile side must be positive");
    if (!picture || picture->Format() != TPixelFormat::Bgra32) {
        if (picture) picture = ConvertBitmap(*picture, TPixelFormat::Bgra32);
        if (!picture) {
            width_ = height_ = 0;
            return;
        }
    }
    for (int top = 0; top < height_; top += tileSide)
        for (int left = 0; left < width_; left += tileSide) {
            const TRect r{left, top, std::min(width_, left + tileSide), std::min(height_, top + tileSide)};
            tiles_.push_back(MakeRef<TPictureTile>(screen, picture, r, premultiplied));
        }
}

void TMultiTexture6::SetSampling(bool pointFilter, bool mipmapped, float lodBias) {
    for (auto& tile : tiles_) {
        tile->PointFilter = pointFilter;
        tile->LodBias = lodBias;
        if (mipmapped) tile->SetMipmapped(true); // once mip-mapped, a picture stays so
    }
}

void TMultiTexture6::Preload() {
    for (auto& tile : tiles_)
        tile->Preload();
}

void TMultiTexture6::PreloadSliced(std::mutex* outerLock, std::recursive_mutex* frameLock) {
    for (auto& tile : tiles_)
        tile->PreloadSliced(outerLock, frameLock);
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
